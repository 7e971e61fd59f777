// What a project reaches outside its own files once its gateways start: a shared library it
// loads, a database it opens elsewhere than in its working directory, a file it prints to. A
// project opened from a file starts those gateways only once the user trusts it; the decision is
// remembered per project file and per content of what it reaches (a changed library asks again).
#pragma once

#include <optional>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/strings.h"
#include "model/project_document.h"

namespace tsr {

struct OutsideReach {
    enum class Kind { Library, Database, File };
    Kind kind;
    std::string path;  // as the gateway will open it
};

// Where a gateway's resource file is: a name without '/' is a file of the working directory
// `workingDir`, anything else is taken as it stands.
std::string GatewayResourcePath(const std::string& workingDir, const std::string& name);

// The printer destination as the printer gateway opens it: a `file:` destination with a bare
// name is a file of the working directory, like the other gateways' files.
std::string GatewayPrinterDestination(const std::string& workingDir, const std::string& printerName);

// What gateway object `gateway` of type `type` reaches outside the project, if anything.
std::optional<OutsideReach> ReachOf(pugi::xml_node gateway, int type, const std::string& workingDir);

// Everything the project's gateways reach outside it, in document order.
std::vector<OutsideReach> FindOutsideReaches(const ProjectDocument& doc, const std::string& workingDir);

// "load the shared library PATH", "open the database PATH", "print to the file PATH".
std::string DescribeReach(const OutsideReach& reach, Language language = SystemLanguage());

// The list the user is asked about: an introduction naming the project file, then one line per
// reach.
std::string DescribeReaches(const std::string& projectPath, const std::vector<OutsideReach>& reaches,
                            Language language = SystemLanguage());

// A SHA-1 in hex over the project file's absolute path and what it reaches, including the bytes
// of each library: the same project asks again when any of these change.
std::string TrustFingerprint(const std::string& projectPath, const std::vector<OutsideReach>& reaches);

// The remembered decisions, in the settings file (section "TrustedProjects").
bool IsTrusted(const std::string& fingerprint, const std::string& profilePath);
bool RememberTrusted(const std::string& fingerprint, const std::string& projectPath,
                     const std::string& profilePath);

}  // namespace tsr
