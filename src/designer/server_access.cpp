#include "gateways/mqtt/items.h"
#include "designer/server_access.h"

#include "base/strings.h"
#include "platform/profile.h"
#include "webserver/shared_reads.h"

#include <sys/stat.h>

#include <algorithm>

namespace tsr::designer {
namespace {

constexpr const char* kSection = "Tessora";
constexpr const char* kKeyListen = "weblisten";
constexpr const char* kKeyAllow = "weballow";
constexpr const char* kKeyWriteAllow = "webwriteallow";
constexpr const char* kKeyMaxAge = "webmaxage";
constexpr const char* kKeyPublish = "webpublish";
constexpr const char* kKeyUsers = "webusers";
constexpr const char* kKeyAnonymousRead = "webanonymousread";
constexpr const char* kKeyTls = "webtls";
constexpr const char* kKeyTlsCert = "webtlscert";
constexpr const char* kKeyTlsKey = "webtlskey";

// `format` from the string table with each "%s" replaced in turn.
std::string Said(int id, std::initializer_list<std::string> parts) {
    std::string text = LoadString(id);
    for (const std::string& p : parts) {
        const size_t at = text.find("%s");
        if (at == std::string::npos) break;
        text.replace(at, 2, p);
    }
    return text;
}

std::string UsersFailure(const std::string& file, const std::string& why) {
    return Said(kMsgUsersFileWrong, {file, why});
}

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

std::string LoadPublishUrl(const Profile& profile, std::string* error) {
    const std::string text = profile.GetString(kSection, kKeyPublish, "");
    if (text.empty()) return {};
    const std::optional<mqtt::BrokerUrl> url = mqtt::ParseBrokerUrl(text);
    if (url && !url->prefix.empty()) return text;
    std::string message = LoadString(kMsgPublishWrong);
    message.replace(message.find("%s"), 2, profile.path());
    message.replace(message.find("%s"), 2, text);
    if (error) *error = message;
    return {};
}

ServerAccessSettings LoadServerAccessSettings(const Profile& profile) {
    ServerAccessSettings s;
    s.listen = profile.GetString(kSection, kKeyListen, "");
    s.allow = profile.GetString(kSection, kKeyAllow, "");
    s.writeAllow = profile.GetString(kSection, kKeyWriteAllow, "");
    s.usersFile = profile.GetString(kSection, kKeyUsers, "");
    s.anonymousRead = profile.GetString(kSection, kKeyAnonymousRead, "0") == "1";
    const std::string tls = profile.GetString(kSection, kKeyTls, "off");
    s.tls = tls == "selfsigned" ? TlsChoice::SelfSigned : tls == "files" ? TlsChoice::Files : TlsChoice::Off;
    s.certFile = profile.GetString(kSection, kKeyTlsCert, "");
    s.keyFile = profile.GetString(kSection, kKeyTlsKey, "");
    return s;
}

std::string SaveServerAccessSettings(Profile& profile, const ServerAccessSettings& s) {
    const char* tls = s.tls == TlsChoice::SelfSigned ? "selfsigned" : s.tls == TlsChoice::Files ? "files" : "off";
    const std::pair<const char*, std::string> values[] = {
        {kKeyListen, s.listen},       {kKeyAllow, s.allow},
        {kKeyWriteAllow, s.writeAllow}, {kKeyUsers, s.usersFile},
        {kKeyAnonymousRead, s.anonymousRead ? "1" : "0"}, {kKeyTls, tls},
        {kKeyTlsCert, s.certFile},    {kKeyTlsKey, s.keyFile},
    };
    for (const auto& [key, value] : values) {
        const Status st = profile.SetString(kSection, key, value);
        if (!st) return Said(kMsgCannotSaveSettings, {st.message});
    }
    return {};
}

ServerSecurity BuildServerSecurity(const ServerAccessSettings& settings) {
    ServerSecurity out;
    ServerAccessResult access = ParseServerAccess({settings.listen, settings.allow, settings.writeAllow},
                                                  {kKeyListen, kKeyAllow, kKeyWriteAllow});
    if (!access) {
        out.error = access.error;
        return out;
    }
    out.access = access.access;
    if (!settings.usersFile.empty()) {
        if (settings.tls == TlsChoice::Off) {
            out.error = LoadString(kMsgSignInNeedsTls);
            return out;
        }
        auto users = std::make_shared<UserDirectory>();
        const std::string why = users->Load(settings.usersFile);
        if (!why.empty()) {
            out.error = UsersFailure(settings.usersFile, why);
            return out;
        }
        out.users = users;
        out.anonymousRead = settings.anonymousRead;
    }
    if (settings.tls == TlsChoice::Off) return out;
    std::string cert = settings.certFile, key = settings.keyFile;
    if (settings.tls == TlsChoice::SelfSigned) {
        const std::string made = EnsureProfileDirectory();
        if (!made.empty()) {
            out.error = Said(kMsgTlsWrong, {made});
            return out;
        }
        cert = ProfileDirectory() + "/tls-cert.pem";
        key = ProfileDirectory() + "/tls-key.pem";
        const std::string why = EnsureSelfSignedCertificate(cert, key, MachineNames());
        if (!why.empty()) {
            out.error = Said(kMsgTlsWrong, {why});
            return out;
        }
    }
    std::string why;
    std::shared_ptr<const TlsContext> tls = TlsContext::FromFiles(cert, key, &why);
    if (!tls) {
        out.error = Said(kMsgTlsWrong, {why});
        return out;
    }
    out.fingerprint = tls->fingerprint();
    out.tls = std::move(tls);
    return out;
}

std::vector<User> ReadUsersForDialog(const std::string& file, std::string* error) {
    struct stat st;
    if (file.empty() || (stat(file.c_str(), &st) != 0 && errno == ENOENT)) return {};
    UsersResult r = LoadUsersFile(file);
    if (!r) {
        if (error) *error = UsersFailure(file, r.error);
        return {};
    }
    return r.users;
}

std::string AddOrChangeUser(const std::string& file, const std::string& name, Role role,
                            const std::string& password) {
    if (!IsValidUserName(name)) return LoadString(kMsgUserNameWrong);
    if (password.size() < 8) return LoadString(kMsgPasswordShort);
    std::string error;
    std::vector<User> users = ReadUsersForDialog(file, &error);
    if (!error.empty()) return error;
    const std::string hash = HashPassword(password);
    if (hash.empty()) return UsersFailure(file, "the password cannot be hashed");
    auto it = std::find_if(users.begin(), users.end(), [&](const User& u) { return u.name == name; });
    if (it == users.end()) users.push_back({name, role, hash});
    else *it = {name, role, hash};
    const std::string why = SaveUsersFile(file, users);
    return why.empty() ? why : UsersFailure(file, why);
}

std::string ChangeUserRole(const std::string& file, const std::string& name, Role role) {
    std::string error;
    std::vector<User> users = ReadUsersForDialog(file, &error);
    if (!error.empty()) return error;
    for (User& u : users)
        if (u.name == name) u.role = role;
    const std::string why = SaveUsersFile(file, users);
    return why.empty() ? why : UsersFailure(file, why);
}

std::string RemoveUser(const std::string& file, const std::string& name) {
    std::string error;
    std::vector<User> users = ReadUsersForDialog(file, &error);
    if (!error.empty()) return error;
    std::erase_if(users, [&](const User& u) { return u.name == name; });
    const std::string why = SaveUsersFile(file, users);
    return why.empty() ? why : UsersFailure(file, why);
}

}  // namespace tsr::designer
