// The build dialog's two settings, kept in the user's profile, and the copy they drive.
#pragma once

#include <string>

#include "base/status.h"

namespace tsr {
class Profile;
}

namespace tsr::designer {

struct BuildSettings {
    std::string targetDirectory;  // where the application is copied
    bool use83 = false;           // give every copied file its 8.3 name
};

// "generatefilepath" (default "mygeneratefiles" in the home directory) and "use83" (default
// 0, non-zero meaning on) of the section "Tessora".
BuildSettings LoadBuildSettings(const Profile& profile);

// Writes both settings ("use83" as "1" or "0").
Status SaveBuildSettings(Profile& profile, const BuildSettings& settings);

// The build: saves the settings whatever happens next, then copies `outputDirectory` to the
// target. Returns the copy's code (0 on success, see CopyBuild); `failedFile` receives the path
// concerned by a failure, `saveStatus` whether the settings were saved.
int RunBuild(Profile& profile, const BuildSettings& settings, const std::string& outputDirectory,
             std::string* failedFile, Status* saveStatus);

}  // namespace tsr::designer
