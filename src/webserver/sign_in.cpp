#include "webserver/sign_in.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tsr {
namespace {

constexpr size_t kMaxNameLength = 64;
constexpr size_t kMaxCredentials = 1024;

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

}  // namespace

std::optional<Role> ParseRole(std::string_view text) {
    if (text == "viewer") return Role::Viewer;
    if (text == "operator") return Role::Operator;
    return std::nullopt;
}

const char* RoleText(Role role) { return role == Role::Operator ? "operator" : "viewer"; }

bool IsValidUserName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength) return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return c == ':' || u <= 0x20 || u == 0x7F;
    });
}

UsersResult ParseUsers(std::string_view text) {
    UsersResult result;
    size_t lineNumber = 0;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') {
            if (end == text.size()) break;
            continue;
        }
        auto fail = [&](const std::string& why) {
            result.users.clear();
            result.error = "line " + std::to_string(lineNumber) + ": " + why;
            return result;
        };
        const size_t first = line.find(':');
        const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) return fail("not NAME:ROLE:HASH");
        const std::string_view name = line.substr(0, first);
        const std::string_view role = line.substr(first + 1, second - first - 1);
        const std::string_view hash = line.substr(second + 1);
        if (!IsValidUserName(name)) return fail("the name is empty, too long or holds a blank");
        const std::optional<Role> r = ParseRole(role);
        if (!r) return fail("the role is neither viewer nor operator");
        // An argon2id string is printable ASCII without blanks.
        if (hash.rfind("$argon2id$", 0) != 0 || hash.size() >= crypto_pwhash_STRBYTES ||
            std::any_of(hash.begin(), hash.end(), [](char c) { return c <= 0x20 || c >= 0x7F; }))
            return fail("the password hash is not an argon2id hash");
        if (std::any_of(result.users.begin(), result.users.end(),
                        [&](const User& u) { return u.name == name; }))
            return fail("the user " + std::string(name) + " is there twice");
        result.users.push_back({std::string(name), *r, std::string(hash)});
        if (end == text.size()) break;
    }
    return result;
}

std::string FormatUsers(const std::vector<User>& users) {
    std::string out = "# Tessora users: NAME:ROLE:HASH (written by tessora-cli user)\n";
    for (const User& u : users) out += u.name + ":" + RoleText(u.role) + ":" + u.hash + "\n";
    return out;
}

std::string HashPassword(std::string_view password) {
    if (!SodiumReady()) return {};
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return hash;
}

bool VerifyPassword(const std::string& hash, std::string_view password) {
    if (!SodiumReady() || hash.size() >= crypto_pwhash_STRBYTES) return false;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + static_cast<size_t>(k)];
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                ++padding;
                continue;
            }
            if (padding) return std::nullopt;  // a character after the padding
            v[k] = value(c);
            if (v[k] < 0) return std::nullopt;
        }
        const uint32_t bits = (static_cast<uint32_t>(v[0]) << 18) | (static_cast<uint32_t>(v[1]) << 12) |
                              (static_cast<uint32_t>(v[2]) << 6) | static_cast<uint32_t>(v[3]);
        // Bits below the last whole byte must be zero.
        if ((padding == 1 && (bits & 0xFF)) || (padding == 2 && (bits & 0xFFFF))) return std::nullopt;
        out += static_cast<char>(bits >> 16);
        if (padding < 2) out += static_cast<char>((bits >> 8) & 0xFF);
        if (padding < 1) out += static_cast<char>(bits & 0xFF);
    }
    return out;
}

std::optional<Credentials> ParseBasicAuthorization(std::string_view request) {
    // The header lines end at the first blank line; the request line is not a header.
    const size_t headersEnd = request.find("\r\n\r\n");
    std::string_view headers = request.substr(0, headersEnd);
    size_t at = headers.find("\r\n");
    while (at != std::string_view::npos) {
        const size_t start = at + 2;
        size_t end = headers.find("\r\n", start);
        const std::string_view line =
            headers.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        at = end;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || !EqualsNoCase(line.substr(0, colon), "Authorization"))
            continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
        if (value.size() < 6 || !EqualsNoCase(value.substr(0, 6), "Basic ")) return std::nullopt;
        value.remove_prefix(6);
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        if (value.size() > kMaxCredentials * 4 / 3 + 4) return std::nullopt;
        std::optional<std::string> decoded = Base64Decode(value);
        if (!decoded || decoded->size() > kMaxCredentials) return std::nullopt;
        const size_t separator = decoded->find(':');
        if (separator == std::string::npos) return std::nullopt;
        return Credentials{decoded->substr(0, separator), decoded->substr(separator + 1)};
    }
    return std::nullopt;
}

UsersResult LoadUsersFile(const std::string& path, struct timespec* modified) {
    UsersResult result;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        result.error = path + ": " + std::strerror(errno);
        return result;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        result.error = path + ": not a regular file";
        return result;
    }
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        close(fd);
        result.error = path + ": others than its owner may read or write it (chmod 600 " + path + ")";
        return result;
    }
    if (st.st_size > (1 << 20)) {
        close(fd);
        result.error = path + ": larger than 1 MB";
        return result;
    }
    std::string text(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    text.resize(got);
    result = ParseUsers(text);
    if (!result) result.error = path + ": " + result.error;
    if (modified) *modified = st.st_mtim;
    return result;
}

std::string SaveUsersFile(const std::string& path, const std::vector<User>& users) {
    const std::string text = FormatUsers(users);
    std::string temporary = path + ".XXXXXX";
    const mode_t old = umask(077);
    const int fd = mkstemp(temporary.data());
    umask(old);
    if (fd < 0) return path + ": " + std::strerror(errno);
    bool ok = fchmod(fd, 0600) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    const int why = errno;
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = ok ? errno : why;
        unlink(temporary.c_str());
        return path + ": " + std::strerror(error);
    }
    return {};
}

bool SignInLimiter::Locked(const IpAddress& client, Clock::time_point now) {
    auto it = entries_.find(client);
    return it != entries_.end() && it->second.lockedUntil > now;
}

bool SignInLimiter::Failed(const IpAddress& client, Clock::time_point now) {
    if (entries_.size() >= capacity_ && !entries_.contains(client)) {
        std::erase_if(entries_, [&](const auto& e) {
            return e.second.lockedUntil <= now &&
                   (e.second.failures.empty() || now - e.second.failures.back() > window_);
        });
        if (entries_.size() >= capacity_) return false;  // a flood of addresses: not remembered
    }
    Entry& e = entries_[client];
    std::erase_if(e.failures, [&](Clock::time_point t) { return now - t > window_; });
    e.failures.push_back(now);
    if (static_cast<int>(e.failures.size()) < limit_ || e.lockedUntil > now) return false;
    e.lockedUntil = now + lockout_;
    e.failures.clear();
    return true;
}

std::string UserDirectory::Load(const std::string& path) {
    if (!SodiumReady()) return "the password library cannot be started";
    struct timespec modified {};
    UsersResult users = LoadUsersFile(path, &modified);
    if (!users) return users.error;
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
    randombytes_buf(key_, sizeof key_);
    users_ = std::move(users.users);
    modified_ = modified;
    checked_.clear();
    lastLook_ = std::chrono::steady_clock::now();
    return {};
}

bool UserDirectory::enabled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !path_.empty();
}

std::string UserDirectory::Key(const Credentials& c) const {
    const std::string text = c.user + ":" + c.password;
    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(text.data()),
                       text.size(), key_, sizeof key_);
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

void UserDirectory::RefreshLocked() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLook_ < std::chrono::seconds(1)) return;
    lastLook_ = now;
    struct stat st;
    if (stat(path_.c_str(), &st) == 0 && st.st_mtim.tv_sec == modified_.tv_sec &&
        st.st_mtim.tv_nsec == modified_.tv_nsec)
        return;
    // The file changed (or went): what was checked is forgotten. A file that cannot be read now
    // lets nobody in until it can.
    struct timespec modified {};
    UsersResult users = LoadUsersFile(path_, &modified);
    users_ = users ? std::move(users.users) : std::vector<User>{};
    modified_ = modified;
    checked_.clear();
    ++generation_;
}

UserDirectory::Known UserDirectory::Lookup(const Credentials& credentials) {
    std::lock_guard<std::mutex> lock(mutex_);
    RefreshLocked();
    auto it = checked_.find(Key(credentials));
    if (it == checked_.end()) return Known::Unchecked;
    return it->second == Role::Operator ? Known::Operator : Known::Viewer;
}

UserDirectory::Known UserDirectory::Check(const Credentials& credentials) {
    std::string hash;
    Role role = Role::Viewer;
    uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        generation = generation_;
        for (const User& u : users_) {
            if (u.name != credentials.user) continue;
            hash = u.hash;
            role = u.role;
        }
    }
    // An unknown name costs the same work as a known one.
    static const std::string kDummy = HashPassword("tessora");
    const bool good = VerifyPassword(hash.empty() ? kDummy : hash, credentials.password) && !hash.empty();
    if (!good) return Known::Wrong;
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation == generation_) checked_[Key(credentials)] = role;
    return role == Role::Operator ? Known::Operator : Known::Viewer;
}

}  // namespace tsr
