// Operators sign in to write: the users file, the browser's Basic credentials, and who may do
// what.
//
// Users file (one user a line, written by `tessora-cli user`; '#' lines and blank lines skipped):
//
//   NAME:ROLE:HASH
//   ann:operator:$argon2id$v=19$m=65536,t=2,p=1$...
//
//   NAME  1 to 64 characters, none of ':' and no control character or blank
//   ROLE  "viewer" (loads the pages, reads) or "operator" (also writes)
//   HASH  libsodium's argon2id string: salted and slow, it carries its own parameters
//
// Checking a password costs tens of milliseconds and tens of megabytes, and a phone sends its
// credentials with every poll: a password checked once is remembered (keyed by a keyed hash of
// the credentials, so memory holds no password) until the file changes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "webserver/access_rules.h"

namespace tsr {

enum class Role { Viewer, Operator };

// "viewer" or "operator"; nullopt for anything else.
std::optional<Role> ParseRole(std::string_view text);
const char* RoleText(Role role);

struct User {
    std::string name;
    Role role = Role::Viewer;
    std::string hash;  // argon2id string
};

// The users of a file's text, or why it was refused ("line N: …"; English).
struct UsersResult {
    std::vector<User> users;
    std::string error;
    explicit operator bool() const { return error.empty(); }
};
UsersResult ParseUsers(std::string_view text);
// The file text of `users`, one line each, in their order.
std::string FormatUsers(const std::vector<User>& users);
// True for a name that may stand in the file.
bool IsValidUserName(std::string_view name);

// The salted, slow hash of `password` (argon2id, libsodium's interactive limits); empty when the
// library cannot be used (out of memory).
std::string HashPassword(std::string_view password);
// True when `password` is the one `hash` was made from (constant time in the password).
bool VerifyPassword(const std::string& hash, std::string_view password);

// The user and password of a request's "Authorization: Basic …" header (header name and scheme
// without regard to case); nullopt when there is none, it is not Basic, its base64 is malformed,
// the decoded text has no ':' or is longer than 1024 bytes.
struct Credentials {
    std::string user;
    std::string password;
};
std::optional<Credentials> ParseBasicAuthorization(std::string_view request);

// RFC 4648 base64 with '=' padding; nullopt for any other character, a missing or misplaced
// padding, or bits left over.
std::optional<std::string> Base64Decode(std::string_view text);

// Reads a users file: refused when it is not a regular file, when others than its owner may
// read or write it, or when a line is malformed. `modified` receives its modification time.
UsersResult LoadUsersFile(const std::string& path, struct timespec* modified = nullptr);
// Writes `users` to `path` atomically (a temporary file beside it, renamed), mode 0600. An empty
// string on success, else why.
std::string SaveUsersFile(const std::string& path, const std::vector<User>& users);

// Counts the failed sign-ins of each address: after `limit` failures within `window`, the
// address is locked out for `lockout`. At most `capacity` addresses are remembered.
class SignInLimiter {
public:
    using Clock = std::chrono::steady_clock;
    explicit SignInLimiter(int limit = 5, std::chrono::seconds window = std::chrono::seconds(60),
                           std::chrono::seconds lockout = std::chrono::seconds(60),
                           size_t capacity = 4096)
        : limit_(limit), window_(window), lockout_(lockout), capacity_(capacity) {}
    // True while `client` is locked out.
    bool Locked(const IpAddress& client, Clock::time_point now);
    // Notes a failure; true when this one locked the address out (to be logged once).
    bool Failed(const IpAddress& client, Clock::time_point now);

private:
    struct Entry {
        std::vector<Clock::time_point> failures;
        Clock::time_point lockedUntil{};
    };
    int limit_;
    std::chrono::seconds window_, lockout_;
    size_t capacity_;
    std::map<IpAddress, Entry> entries_;
};

// The users of a running server: the file, reread when it changes, and the credentials already
// checked. Thread-safe.
class UserDirectory {
public:
    // The outcome of credentials: known good with a role, known wrong, or to be checked (slow).
    enum class Known { Unchecked, Wrong, Viewer, Operator };

    // Loads `path`; an empty string on success, else why (the server is then not to start).
    std::string Load(const std::string& path);
    bool enabled() const;

    // What is known of `credentials` without the slow check; rereads the file when it changed
    // (looked at most once a second).
    Known Lookup(const Credentials& credentials);
    // The slow check; remembers a good outcome.
    Known Check(const Credentials& credentials);

private:
    std::string Key(const Credentials& c) const;
    void RefreshLocked();

    mutable std::mutex mutex_;
    std::string path_;
    std::vector<User> users_;
    struct timespec modified_ {};
    std::chrono::steady_clock::time_point lastLook_{};
    std::map<std::string, Role> checked_;  // by keyed hash of "user:password"
    uint64_t generation_ = 0;
    unsigned char key_[32] = {};
};

}  // namespace tsr
