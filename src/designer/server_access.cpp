#include "designer/server_access.h"

#include "base/strings.h"
#include "platform/profile.h"
#include "webserver/shared_reads.h"

namespace tsr::designer {
namespace {

constexpr const char* kSection = "Tessora";
constexpr const char* kKeyListen = "weblisten";
constexpr const char* kKeyAllow = "weballow";
constexpr const char* kKeyWriteAllow = "webwriteallow";
constexpr const char* kKeyMaxAge = "webmaxage";

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

std::chrono::milliseconds LoadMaxAge(const Profile& profile, std::string* error) {
    const std::string text = profile.GetString(kSection, kKeyMaxAge, "");
    if (text.empty()) return kDefaultMaxAge;
    if (std::optional<std::chrono::milliseconds> maxAge = ParseMaxAge(text)) return *maxAge;
    std::string message = LoadString(kMsgMaxAgeWrong);
    message.replace(message.find("%s"), 2, profile.path());
    message.replace(message.find("%s"), 2, text);
    if (error) *error = message;
    return kDefaultMaxAge;
}

}  // namespace tsr::designer
