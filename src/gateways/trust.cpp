#include "gateways/trust.h"

#include <cstdint>
#include <cstdio>

#include <unistd.h>

#include "base/sha1.h"
#include "platform/fs.h"
#include "platform/profile.h"

namespace tsr {
namespace {

enum : int { kSql = 30, kPrinter = 33, kDll = 34 };

constexpr std::string_view kFilePrefix = "file:";
constexpr std::string_view kTrustSection = "TrustedProjects";

std::string WithPath(int textId, const std::string& path, Language language) {
    std::string text = LoadString(textId, language);
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, path);
    return text;
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return JoinPath(cwd, path);
}

void Feed(SHA1& sha, std::string_view bytes) {
    sha.Input(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    const unsigned char separator = 0;
    sha.Input(&separator, 1);
}

}  // namespace

std::string GatewayResourcePath(const std::string& workingDir, const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    return JoinPath(workingDir, name);
}

std::string GatewayPrinterDestination(const std::string& workingDir, const std::string& printerName) {
    if (!printerName.starts_with(kFilePrefix) || printerName.size() == kFilePrefix.size()) {
        return printerName;
    }
    return std::string(kFilePrefix) +
           GatewayResourcePath(workingDir, printerName.substr(kFilePrefix.size()));
}

std::optional<OutsideReach> ReachOf(pugi::xml_node gateway, int type, const std::string& workingDir) {
    switch (type) {
        case kDll:
            // Even a library carried in the project's own files runs its code in the program.
            return OutsideReach{OutsideReach::Kind::Library,
                                GatewayResourcePath(workingDir, GetPropertyOr(gateway, "dllfilename", ""))};
        case kSql: {
            const std::string name = GetPropertyOr(gateway, "sqlfilename", "");
            if (name.find('/') == std::string::npos) return std::nullopt;  // a project resource
            return OutsideReach{OutsideReach::Kind::Database, name};
        }
        case kPrinter: {
            const std::string destination =
                GatewayPrinterDestination(workingDir, GetPropertyOr(gateway, "printername", ""));
            if (!destination.starts_with(kFilePrefix)) return std::nullopt;  // a print queue
            return OutsideReach{OutsideReach::Kind::File, destination.substr(kFilePrefix.size())};
        }
        default:
            return std::nullopt;
    }
}

std::vector<OutsideReach> FindOutsideReaches(const ProjectDocument& doc, const std::string& workingDir) {
    std::vector<OutsideReach> reaches;
    doc.ForEachObject([&](pugi::xml_node n, int) {
        if (std::optional<OutsideReach> reach = ReachOf(n, ObjectTypeOf(n), workingDir)) {
            reaches.push_back(std::move(*reach));
        }
        return true;
    });
    return reaches;
}

std::string DescribeReach(const OutsideReach& reach, Language language) {
    switch (reach.kind) {
        case OutsideReach::Kind::Library: return WithPath(kTextTrustLibrary, reach.path, language);
        case OutsideReach::Kind::Database: return WithPath(kTextTrustDatabase, reach.path, language);
        case OutsideReach::Kind::File: return WithPath(kTextTrustFile, reach.path, language);
    }
    return {};
}

std::string DescribeReaches(const std::string& projectPath, const std::vector<OutsideReach>& reaches,
                            Language language) {
    std::string text = WithPath(kTextTrustIntro, projectPath, language);
    for (const OutsideReach& reach : reaches) text += "\n  - " + DescribeReach(reach, language);
    return text;
}

std::string TrustFingerprint(const std::string& projectPath, const std::vector<OutsideReach>& reaches) {
    SHA1 sha;
    Feed(sha, AbsolutePath(projectPath));
    for (const OutsideReach& reach : reaches) {
        Feed(sha, std::to_string(static_cast<int>(reach.kind)));
        Feed(sha, reach.path);
        if (reach.kind == OutsideReach::Kind::Library) {
            std::string bytes;
            if (!ReadFile(reach.path, bytes)) bytes = "(missing)";
            Feed(sha, bytes);
        }
    }
    uint32_t digest[5];
    if (!sha.Result(digest)) return {};
    char hex[41];
    for (int i = 0; i < 5; ++i) std::snprintf(hex + 8 * i, 9, "%08x", digest[i]);
    return std::string(hex, 40);
}

bool IsTrusted(const std::string& fingerprint, const std::string& profilePath) {
    if (fingerprint.empty()) return false;
    return !Profile(profilePath).GetString(kTrustSection, fingerprint, "").empty();
}

bool RememberTrusted(const std::string& fingerprint, const std::string& projectPath,
                     const std::string& profilePath) {
    if (fingerprint.empty()) return false;
    // The value names the project for a reader of the file; a name the file cannot hold (a line
    // break in it) still leaves the decision remembered.
    Profile profile(profilePath);
    return profile.SetString(kTrustSection, fingerprint, AbsolutePath(projectPath)) ||
           profile.SetString(kTrustSection, fingerprint, "1");
}

}  // namespace tsr
