#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "base/text.h"
#include "platform/fs.h"

namespace tsr {
namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The file's lines, each without its '\n' (a CRLF file's lines keep their '\r').
struct IniText {
    std::vector<std::string> lines;
    bool crlf = false;  // new lines are written with "\r\n" to match the file
};

IniText SplitLines(std::string_view content) {
    IniText text;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string_view::npos) {
            text.lines.emplace_back(content.substr(start));
            break;
        }
        if (text.lines.empty() && end > start && content[end - 1] == '\r') text.crlf = true;
        text.lines.emplace_back(content.substr(start, end - start));
        start = end + 1;
    }
    return text;
}

enum class LineKind { Other, Section, Entry };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;  // the section or key name, blanks trimmed
    size_t valueStart = 0;  // for an entry: the offset just after '='
    size_t valueEnd = 0;    // for an entry: the end of the value, before any '\r'
};

ParsedLine ParseLine(std::string_view line) {
    ParsedLine parsed;
    size_t end = line.size();
    if (end > 0 && line[end - 1] == '\r') --end;
    std::string_view body = TrimBlanks(line.substr(0, end));
    if (body.empty() || body.front() == ';' || body.front() == '#') return parsed;
    if (body.front() == '[') {
        size_t close = body.find(']');
        if (close == std::string_view::npos) return parsed;
        parsed.kind = LineKind::Section;
        parsed.name = TrimBlanks(body.substr(1, close - 1));
        return parsed;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq >= end) return parsed;
    parsed.kind = LineKind::Entry;
    parsed.name = TrimBlanks(line.substr(0, eq));
    parsed.valueStart = eq + 1;
    parsed.valueEnd = end;
    return parsed;
}

// Where `key` of `section` is in `text`: the line of the key, and the header line of the first
// matching section.
struct Location {
    std::optional<size_t> entry;
    std::optional<size_t> section;
};

Location Find(const IniText& text, std::string_view section, std::string_view key) {
    Location where;
    bool inSection = false;
    for (size_t i = 0; i < text.lines.size(); ++i) {
        ParsedLine parsed = ParseLine(text.lines[i]);
        if (parsed.kind == LineKind::Section) {
            inSection = SameName(parsed.name, section);
            if (inSection && !where.section) where.section = i;
        } else if (parsed.kind == LineKind::Entry && inSection && SameName(parsed.name, key)) {
            where.entry = i;
            return where;
        }
    }
    return where;
}

std::optional<std::string> Lookup(const std::string& path, std::string_view section,
                                  std::string_view key) {
    std::string content;
    if (!ReadFile(path, content)) return std::nullopt;
    IniText text = SplitLines(content);
    Location where = Find(text, section, key);
    if (!where.entry) return std::nullopt;
    const std::string& line = text.lines[*where.entry];
    ParsedLine parsed = ParseLine(line);
    return line.substr(parsed.valueStart, parsed.valueEnd - parsed.valueStart);
}

std::string ErrorText(int error) { return std::strerror(error); }

Status WriteFailure(const std::string& what, const std::string& path, int error) {
    return Status::Fail(kProfileWriteFailed,
                        "Cannot " + what + " " + path + ": " + ErrorText(error));
}

// Creates `dir` and its missing parents with mode 0700; 0 or the errno of the failure.
int MakeDirectories(const std::string& dir) {
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        std::string prefix = dir.substr(0, pos);
        if (prefix.empty() || prefix == "/") continue;
        if (mkdir(prefix.c_str(), 0700) == 0) continue;
        int error = errno;
        struct stat st;
        if (error != EEXIST) return error;
        if (stat(prefix.c_str(), &st) != 0) return errno;
        if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    }
    return 0;
}

// Replaces `path` by a file holding `data`: written to a temporary file beside it, flushed to
// disk, then renamed over it. An existing file's permissions are kept.
Status ReplaceFile(const std::string& path, std::string_view data) {
    const std::string dir = DirectoryOf(path);
    if (int error = MakeDirectories(dir)) return WriteFailure("create the directory", dir, error);
    std::string tmpl = JoinPath(dir, "." + FileNameOf(path) + ".XXXXXX");
    int fd = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return WriteFailure("create a file in", dir, errno);
    struct stat old;
    if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) fchmod(fd, old.st_mode & 07777);
    int error = 0;
    if (!WriteAllToFd(fd, data) || fsync(fd) != 0) error = errno ? errno : EIO;
    if (close(fd) != 0 && !error) error = errno;
    if (!error && rename(tmpl.c_str(), path.c_str()) != 0) error = errno;
    if (error) {
        unlink(tmpl.c_str());
        return WriteFailure("write", path, error);
    }
    // Make the rename itself durable; the new file is in place even if this fails.
    int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return Status::Ok();
}

}  // namespace

std::string ProfilePath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && *config) {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = JoinPath(home ? home : "", ".config");
    }
    return JoinPath(JoinPath(base, "tessora"), "profile.ini");
}

std::string ProfileDirectory() {
    const std::string path = ProfilePath();
    return path.substr(0, path.find_last_of('/'));
}

std::string EnsureProfileDirectory() {
    const std::string dir = ProfileDirectory();
    const int error = MakeDirectories(dir);
    return error ? "cannot make " + dir + ": " + ErrorText(error) : std::string();
}

Profile::Profile(std::string path) : path_(std::move(path)) {}

std::string Profile::GetString(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
    std::optional<std::string> value = Lookup(path_, section, key);
    return value ? *value : std::string(fallback);
}

int Profile::GetInt(std::string_view section, std::string_view key, int fallback) const {
    std::optional<std::string> value = Lookup(path_, section, key);
    return value ? AtoI(*value) : fallback;
}

Status Profile::SetString(std::string_view section, std::string_view key, std::string_view value) {
    if (value.find_first_of("\r\n") != std::string_view::npos)
        return Status::Fail(kProfileBadEntry, "A setting cannot hold a line break: " +
                                                  std::string(section) + "/" + std::string(key));
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    if (section.empty() || section.find_first_of("]\r\n") != std::string_view::npos ||
        key.empty() || key.find_first_of("=\r\n") != std::string_view::npos ||
        key.front() == ';' || key.front() == '#' || key.front() == '[')
        return Status::Fail(kProfileBadEntry, "Invalid setting name: [" + std::string(section) +
                                                  "] " + std::string(key));

    std::string content;
    struct stat st;
    if (stat(path_.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR)) {
        if (!ReadFile(path_, content))
            return Status::Fail(kProfileWriteFailed, "Cannot read the settings file " + path_);
    }
    IniText text = SplitLines(content);
    const std::string eol = text.crlf ? "\r" : "";
    const std::string entry = std::string(key) + "=" + std::string(value) + eol;

    Location where = Find(text, section, key);
    if (where.entry) {
        std::string& line = text.lines[*where.entry];
        ParsedLine parsed = ParseLine(line);
        line = line.substr(0, parsed.valueStart) + std::string(value) + line.substr(parsed.valueEnd);
    } else if (where.section) {
        // After the section's last entry, or right under its header when it has none.
        size_t insertAt = *where.section + 1;
        for (size_t i = insertAt; i < text.lines.size(); ++i) {
            ParsedLine parsed = ParseLine(text.lines[i]);
            if (parsed.kind == LineKind::Section) break;
            if (parsed.kind == LineKind::Entry) insertAt = i + 1;
        }
        text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
    } else {
        // A new section goes at the end, after a blank line.
        bool lastBlank = text.lines.empty() ||
                         TrimBlanks(text.lines.back()).empty() || text.lines.back() == "\r";
        if (!lastBlank) text.lines.push_back(eol);
        text.lines.push_back("[" + std::string(section) + "]" + eol);
        text.lines.push_back(entry);
    }

    std::string out;
    for (const std::string& line : text.lines) out += line + "\n";
    return ReplaceFile(path_, out);
}

}  // namespace tsr
