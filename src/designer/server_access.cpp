#include "designer/server_access.h"

#include "base/strings.h"
#include "platform/profile.h"

namespace tsr::designer {
namespace {

constexpr const char* kSection = "Tessora";
constexpr const char* kKeyListen = "weblisten";
constexpr const char* kKeyAllow = "weballow";
constexpr const char* kKeyWriteAllow = "webwriteallow";

}  // namespace

ServerAccessResult LoadServerAccess(const Profile& profile) {
    AccessSettings settings;
    settings.listen = profile.GetString(kSection, kKeyListen, "");
    settings.allow = profile.GetString(kSection, kKeyAllow, "");
    settings.writeAllow = profile.GetString(kSection, kKeyWriteAllow, "");
    ServerAccessResult result =
        ParseServerAccess(settings, {kKeyListen, kKeyAllow, kKeyWriteAllow});
    if (result) return result;
    std::string text = LoadString(kMsgServerAccessWrong);
    text.replace(text.find("%s"), 2, profile.path());
    text.replace(text.find("%s"), 2, result.error);
    result.error = text;
    return result;
}

}  // namespace tsr::designer
