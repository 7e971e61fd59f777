// The web server's listen address and access lists, kept in the user's profile for the designer.
#pragma once

#include <chrono>
#include <string>

#include <memory>
#include <vector>

#include "webserver/access_rules.h"
#include "webserver/sign_in.h"
#include "webserver/tls.h"

namespace tsr {
class Profile;
}

namespace tsr::designer {

// "weblisten", "weballow" and "webwriteallow" of the section "Tessora", each empty or missing
// when not set (every IPv4 address; everyone may connect; everyone may write). On a malformed
// value `error` holds the message to show (which setting, which entry, in which file) and the
// server is to stay stopped.
ServerAccessResult LoadServerAccess(const Profile& profile);

// "webmaxage" of the section "Tessora": how old, in milliseconds, a device value may be when it
// answers a read from memory; the default (200) when missing. A malformed value gives the
// default, and `error` the message to log.
std::chrono::milliseconds LoadMaxAge(const Profile& profile, std::string* error);

// "webpublish" of the section "Tessora": the MQTT broker address and topic prefix
// ("mqtt://host:port/site1") that every value read from a device is published to; empty when
// not set. A value that is no such address gives "", and `error` the message to log.
std::string LoadPublishUrl(const Profile& profile, std::string* error);

// How the designer's server speaks: plain HTTP, HTTPS with a certificate made for this machine
// (kept in the profile directory), or HTTPS with the user's certificate and key files.
enum class TlsChoice { Off, SelfSigned, Files };

// The settings of the "Server access" dialog: who may connect, whose writes count, who signs
// in, and HTTPS. Kept in the profile, section "Tessora": weblisten, weballow, webwriteallow,
// webusers, webanonymousread (0/1), webtls ("off", "selfsigned", "files"), webtlscert,
// webtlskey.
struct ServerAccessSettings {
    std::string listen, allow, writeAllow;
    std::string usersFile;  // empty: no sign-in
    bool anonymousRead = false;
    TlsChoice tls = TlsChoice::Off;
    std::string certFile, keyFile;
};

ServerAccessSettings LoadServerAccessSettings(const Profile& profile);
// Writes every setting; an empty string on success, else why.
std::string SaveServerAccessSettings(Profile& profile, const ServerAccessSettings& settings);

// What the server is given from the settings: the access rules, the users and the TLS context.
struct ServerSecurity {
    ServerAccess access;
    std::shared_ptr<UserDirectory> users;      // null: no sign-in
    bool anonymousRead = false;
    std::shared_ptr<const TlsContext> tls;     // null: plain HTTP
    std::string fingerprint;                   // of the certificate served, for the log
    std::string error;                         // empty when every setting is usable
    explicit operator bool() const { return error.empty(); }
};
// Checks and builds the settings: the lists, a users file that exists and only its owner may
// read, sign-in only over HTTPS (passwords never travel in clear from the designer), the
// certificate and key (made once in the profile directory for SelfSigned). The message of a
// failure names the setting, in the user's language.
ServerSecurity BuildServerSecurity(const ServerAccessSettings& settings);

// The users of `file` for the dialog's list (none when it does not exist yet); `error` when it
// cannot be read.
std::vector<User> ReadUsersForDialog(const std::string& file, std::string* error);
// Adds `name` with `role` and `password` to `file` (or changes them); an empty string, else why
// (in the user's language).
std::string AddOrChangeUser(const std::string& file, const std::string& name, Role role,
                            const std::string& password);
// Changes the role of `name`, or removes it; an empty string, else why.
std::string ChangeUserRole(const std::string& file, const std::string& name, Role role);
std::string RemoveUser(const std::string& file, const std::string& name);

}  // namespace tsr::designer
