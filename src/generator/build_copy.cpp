#include "generator/build_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <map>
#include <optional>
#include <set>

#include "platform/fs.h"

namespace tsr {
namespace {

// ---- 8.3 names ----------------------------------------------------------------------------

bool IsValid83Char(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80 || c == '\0') return false;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::strchr("!#$%&'()-@^_`{}~", c) != nullptr;
}

char ToUpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), ToUpperAscii);
    return out;
}

// The characters of `part` that may stand in an 8.3 name, upper-cased; spaces, dots and every
// other character are dropped.
std::string SignificantCharacters(std::string_view part) {
    std::string out;
    for (char c : part) {
        if (IsValid83Char(c)) out += ToUpperAscii(c);
    }
    return out;
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The short name of a file that needs no alias: ".html" names lose their last character (the
// long path is then always at least 6 characters long, since it holds a directory part), and
// names already in 8.3 form keep their name.
std::optional<std::string> FixedShortName(const std::string& name) {
    if (EndsWith(name, ".html")) return name.substr(0, name.size() - 1);
    if (IsValid83Name(name)) return name;
    return std::nullopt;
}

// The first alias "BASE~N.EXT" of `name` that is not in `taken` (upper-case names).
std::string MakeAlias(std::string_view name, const std::set<std::string>& taken) {
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string_view::npos && dot > 0;
    const std::string base = SignificantCharacters(hasExtension ? name.substr(0, dot) : name);
    const std::string extension =
        SignificantCharacters(hasExtension ? name.substr(dot + 1) : std::string_view())
            .substr(0, 3);
    // Each N gives a different alias, so this ends within taken.size() + 1 rounds.
    for (unsigned long n = 1;; ++n) {
        const std::string tail = "~" + std::to_string(n);
        const size_t keep = std::min<size_t>(6, tail.size() < 8 ? 8 - tail.size() : 0);
        std::string alias = base.substr(0, keep) + tail;
        if (!extension.empty()) alias += "." + extension;
        if (taken.count(alias) == 0) return alias;
    }
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (ToUpperAscii(a[i]) != ToUpperAscii(b[i])) return false;
    }
    return true;
}

// ---- walking the output directory ---------------------------------------------------------

struct DirectoryId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const DirectoryId&) const = default;
};

struct TreeEntry {
    std::string relative;  // below the output directory, '/'-separated
    bool directory = false;
};

struct Tree {
    std::vector<TreeEntry> entries;     // depth-first, names in byte order at every level
    std::vector<DirectoryId> walking;   // the directories being walked, outermost first
    std::vector<DirectoryId> excluded;  // never walked: the copy's own target
    std::string unreadable;             // the first directory that could not be listed
};

// The entry names of directory `path` other than "." and "..", sorted, since the order in which
// the system returns them is arbitrary. False when the directory cannot be opened.
bool ReadNames(const std::string& path, std::vector<std::string>* names) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return false;
    while (dirent* e = readdir(dir)) {
        std::string_view name = e->d_name;
        if (name != "." && name != "..") names->emplace_back(name);
    }
    closedir(dir);
    std::sort(names->begin(), names->end());
    return true;
}

// True when `path` is a directory, following links; `id` receives its identity.
bool StatDirectory(const std::string& path, DirectoryId* id) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    *id = {st.st_dev, st.st_ino};
    return true;
}

bool Contains(const std::vector<DirectoryId>& ids, const DirectoryId& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::string Below(const std::string& relative, const std::string& name) {
    return relative.empty() ? name : relative + "/" + name;
}

std::string ParentOf(const std::string& relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

void WalkDirectory(const std::string& root, const std::string& relative, Tree& tree) {
    const std::string dir = relative.empty() ? root : JoinPath(root, relative);
    std::vector<std::string> names;
    if (!ReadNames(dir, &names)) {
        if (tree.unreadable.empty()) tree.unreadable = dir;
        return;
    }
    for (const std::string& name : names) {
        const std::string entry = Below(relative, name);
        DirectoryId id;
        if (!StatDirectory(JoinPath(root, entry), &id)) {
            tree.entries.push_back({entry, false});
            continue;
        }
        if (name[0] == '.' || Contains(tree.walking, id) || Contains(tree.excluded, id)) continue;
        tree.entries.push_back({entry, true});
        tree.walking.push_back(id);
        WalkDirectory(root, entry, tree);
        tree.walking.pop_back();
    }
}

void WalkTree(const std::string& root, Tree& tree) {
    DirectoryId id;
    if (StatDirectory(root, &id)) tree.walking.push_back(id);
    WalkDirectory(root, "", tree);
}

// The short names of files given by their relative paths, each directory's names aliased
// together in listing order.
std::vector<std::string> ShortNamesByDirectory(const std::vector<std::string>& relatives) {
    std::map<std::string, std::vector<size_t>> byDirectory;
    for (size_t i = 0; i < relatives.size(); ++i) byDirectory[ParentOf(relatives[i])].push_back(i);
    std::vector<std::string> shortNames(relatives.size());
    for (const auto& [directory, indexes] : byDirectory) {
        std::vector<std::string> names;
        for (size_t i : indexes) names.push_back(FileNameOf(relatives[i]));
        const std::vector<std::string> shorts = ShortNames83(names);
        for (size_t k = 0; k < indexes.size(); ++k) shortNames[indexes[k]] = shorts[k];
    }
    return shortNames;
}

BuildFileLists MakeLists(const std::string& root, const Tree& tree, bool use83) {
    std::vector<std::string> relatives;
    for (const TreeEntry& e : tree.entries) {
        if (!e.directory) relatives.push_back(e.relative);
    }
    BuildFileLists lists;
    for (const std::string& relative : relatives) {
        lists.longPaths.push_back(JoinPath(root, relative));
        lists.longNames.push_back(FileNameOf(relative));
    }
    lists.shortNames = use83 ? ShortNamesByDirectory(relatives) : lists.longNames;
    for (size_t i = 0; i < relatives.size(); ++i) {
        lists.shortPaths.push_back(
            JoinPath(root, Below(ParentOf(relatives[i]), lists.shortNames[i])));
    }
    return lists;
}

// ---- copying ------------------------------------------------------------------------------

int Fail(int code, const std::string& path, std::string* failedFile) {
    if (failedFile) *failedFile = path;
    return code;
}

// A file descriptor closed at the end of its scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// A new file under a temporary name in the directory of `target`, renamed to `target` once
// complete and removed when it is not.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string target) : target_(std::move(target)) {}
    ~TemporaryFile() {
        if (fd_ >= 0) close(fd_);
        if (!path_.empty()) unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates the file (mode 0666 less the umask, or the mode of a file already at the target).
    bool Open() {
        static std::atomic<unsigned> counter{0};
        const std::string dir = target_.substr(0, target_.rfind('/') + 1);
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            const std::string path = dir + ".tsr-build-" + std::to_string(getpid()) + "-" +
                                     std::to_string(counter++) + ".tmp";
            fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd_ >= 0) path_ = path;
            if (fd_ < 0 && errno != EEXIST) return false;
        }
        struct stat st;
        if (fd_ >= 0 && lstat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            fchmod(fd_, st.st_mode & 07777);
        return fd_ >= 0;
    }

    bool Write(std::string_view data) {
        while (!data.empty()) {
            const ssize_t n = write(fd_, data.data(), data.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    // Closes the file; false when the system reports that the written data did not all land.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

    // Renames the closed file over the target.
    bool PutInPlace() {
        if (rename(path_.c_str(), target_.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    std::string target_;
    std::string path_;  // empty until created, and again once renamed
    int fd_ = -1;
};

// Reads exactly `size` bytes of `fd` into `content`.
int ReadContent(int fd, off_t size, std::string* content) {
    try {
        content->resize(static_cast<size_t>(size));
    } catch (const std::exception&) {
        return kBuildCopyNoMemory;
    }
    size_t done = 0;
    while (done < content->size()) {
        const ssize_t n = read(fd, content->data() + done, content->size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return kBuildCopyIncomplete;
        done += static_cast<size_t>(n);
    }
    return kBuildCopyOk;
}

// Copies one file; `lists` is null when names are kept, else the names to replace.
int CopyOneFile(const std::string& source, const std::string& target, const BuildFileLists* lists,
                std::string* failedFile) {
    // Non-blocking, so that a pipe standing among the files cannot hang the copy.
    Descriptor in(open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (in.get() < 0 || fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Fail(kBuildCopySourceUnreadable, source, failedFile);
    TemporaryFile out(target);
    if (!out.Open()) return Fail(kBuildCopyTargetUnwritable, target, failedFile);
    std::string content;
    const int rc = ReadContent(in.get(), st.st_size, &content);
    if (rc != kBuildCopyOk) return Fail(rc, source, failedFile);
    if (lists && !ReplaceLongNames(content, *lists))
        return Fail(kBuildCopyNoMemoryReplacing, source, failedFile);
    if (!out.Write(content) || !out.Close()) return Fail(kBuildCopyIncomplete, target, failedFile);
    if (!out.PutInPlace()) return Fail(kBuildCopyTargetUnwritable, target, failedFile);
    return kBuildCopyOk;
}

// Creates directory `path` (one level) unless it is one already.
bool MakeDirectory(const std::string& path) {
    DirectoryId id;
    return mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && StatDirectory(path, &id));
}

int CopyEntries(const std::string& outputDir, const std::string& targetDir, const Tree& tree,
                const BuildFileLists* lists, std::string* failedFile) {
    for (const TreeEntry& e : tree.entries) {
        const std::string name = FileNameOf(e.relative);
        if (e.directory) {
            const std::string target = JoinPath(targetDir, e.relative);
            if (!MakeDirectory(target)) return Fail(kBuildCopyTargetDirectory, target, failedFile);
            continue;
        }
        const std::string targetName = lists ? MapToShortName(*lists, name) : name;
        const std::string target = JoinPath(targetDir, Below(ParentOf(e.relative), targetName));
        const int rc = CopyOneFile(JoinPath(outputDir, e.relative), target, lists, failedFile);
        if (rc != kBuildCopyOk) return rc;
    }
    return kBuildCopyOk;
}

}  // namespace

bool IsValid83Name(std::string_view name) {
    const size_t dot = name.find('.');
    const std::string_view base = name.substr(0, dot);
    const std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    if (base.empty() || base.size() > 8) return false;
    if (dot != std::string_view::npos && (extension.empty() || extension.size() > 3)) return false;
    // A second dot is not a valid character, so it fails here.
    return std::all_of(base.begin(), base.end(), IsValid83Char) &&
           std::all_of(extension.begin(), extension.end(), IsValid83Char);
}

std::vector<std::string> ShortNames83(const std::vector<std::string>& names) {
    std::vector<std::optional<std::string>> fixed;
    std::set<std::string> taken;
    for (const std::string& name : names) {
        fixed.push_back(FixedShortName(name));
        if (fixed.back()) taken.insert(UpperAscii(*fixed.back()));
    }
    std::vector<std::string> out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (fixed[i]) {
            out.push_back(*fixed[i]);
            continue;
        }
        out.push_back(MakeAlias(names[i], taken));
        taken.insert(out.back());
    }
    return out;
}

BuildFileLists ListBuildFiles(const std::string& outputDir, bool use83) {
    Tree tree;
    WalkTree(outputDir, tree);
    return MakeLists(outputDir, tree, use83);
}

std::string MapToShortName(const BuildFileLists& lists, std::string_view name) {
    for (size_t i = 0; i < lists.longNames.size(); ++i) {
        if (EqualsIgnoringCase(lists.longNames[i], name)) return lists.shortNames[i];
    }
    return std::string(name);
}

bool ReplaceLongNames(std::string& content, const BuildFileLists& lists) {
    try {
        for (size_t i = 0; i < lists.longNames.size(); ++i) {
            const std::string& from = lists.longNames[i];
            const std::string& to = lists.shortNames[i];
            if (from.empty() || from.size() == to.size()) continue;
            const size_t at = content.find(from);
            if (at != std::string::npos) content.replace(at, from.size(), to);
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

int CopyBuild(const std::string& outputDir, const std::string& targetDir, bool use83,
              std::string* failedFile) {
    if (failedFile) failedFile->clear();
    DirectoryId target;
    if (!MakeDirectory(targetDir) || !StatDirectory(targetDir, &target))
        return Fail(kBuildCopyTargetDirectory, targetDir, failedFile);
    // The target is created first so that, when it lies inside the output directory, the walk
    // can leave it out instead of copying earlier copies into it.
    Tree tree;
    tree.excluded.push_back(target);
    WalkTree(outputDir, tree);
    if (!tree.unreadable.empty())
        return Fail(kBuildCopySourceUnreadable, tree.unreadable, failedFile);
    const BuildFileLists lists = MakeLists(outputDir, tree, use83);
    return CopyEntries(outputDir, targetDir, tree, use83 ? &lists : nullptr, failedFile);
}

}  // namespace tsr
