#include "designer/build_settings.h"

#include <cstdlib>

#include "generator/build_copy.h"
#include "platform/profile.h"

namespace tsr::designer {
namespace {

constexpr const char* kSection = "Tessora";
constexpr const char* kKeyPath = "generatefilepath";
constexpr const char* kKeyUse83 = "use83";

std::string DefaultTargetDirectory() {
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "") + "/mygeneratefiles";
}

}  // namespace

BuildSettings LoadBuildSettings(const Profile& profile) {
    BuildSettings settings;
    settings.targetDirectory = profile.GetString(kSection, kKeyPath, DefaultTargetDirectory());
    // The target path is kept to the length the dialog's edit field holds.
    if (settings.targetDirectory.size() > 1023) settings.targetDirectory.resize(1023);
    settings.use83 = profile.GetInt(kSection, kKeyUse83, 0) != 0;
    return settings;
}

Status SaveBuildSettings(Profile& profile, const BuildSettings& settings) {
    Status s = profile.SetString(kSection, kKeyPath, settings.targetDirectory);
    if (!s) return s;
    return profile.SetString(kSection, kKeyUse83, settings.use83 ? "1" : "0");
}

int RunBuild(Profile& profile, const BuildSettings& settings, const std::string& outputDirectory,
             std::string* failedFile, Status* saveStatus) {
    const Status saved = SaveBuildSettings(profile, settings);
    if (saveStatus) *saveStatus = saved;
    return CopyBuild(outputDirectory, settings.targetDirectory, settings.use83, failedFile);
}

}  // namespace tsr::designer
