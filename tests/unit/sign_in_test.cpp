// What sign-in reads from outside: the Authorization header, base64, the users file; and the
// count of failed sign-ins.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "webserver/sign_in.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;

TEST(SignInParsing, TheBasicCredentialsOfARequest) {
    struct Case {
        const char* name;
        std::string request;
        std::optional<std::pair<std::string, std::string>> expected;
    };
    const std::string line = "GET / HTTP/1.0\r\n";
    const Case cases[] = {
        {"user and password", line + "Authorization: Basic YW5uOnNlY3JldA==\r\n\r\n", {{"ann", "secret"}}},
        {"names without case", line + "authorization: basic YW5uOnNlY3JldA==\r\n\r\n", {{"ann", "secret"}}},
        {"blanks around", line + "Authorization:   Basic   YW5uOnNlY3JldA==  \r\n\r\n", {{"ann", "secret"}}},
        {"a ':' in the password", line + "Authorization: Basic YW5uOmE6Yg==\r\n\r\n", {{"ann", "a:b"}}},
        {"empty password", line + "Authorization: Basic YW5uOg==\r\n\r\n", {{"ann", ""}}},
        {"no header", line + "Host: x\r\n\r\n", std::nullopt},
        {"another scheme", line + "Authorization: Bearer abc\r\n\r\n", std::nullopt},
        {"no colon inside", line + "Authorization: Basic YW5u\r\n\r\n", std::nullopt},
        {"bad base64", line + "Authorization: Basic YW5u*nNlY3JldA==\r\n\r\n", std::nullopt},
        {"in the body only", line + "\r\nAuthorization: Basic YW5uOnNlY3JldA==\r\n", std::nullopt},
        {"in the request line", "GET /Authorization: Basic YW5uOnNlY3JldA== HTTP/1.0\r\n\r\n", std::nullopt},
        {"too long", line + "Authorization: Basic " + std::string(4000, 'Q') + "\r\n\r\n", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<Credentials> got = ParseBasicAuthorization(c.request);
        ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.name;
        if (got) {
            EXPECT_EQ(got->user, c.expected->first) << c.name;
            EXPECT_EQ(got->password, c.expected->second) << c.name;
        }
    }
}

TEST(SignInParsing, Base64) {
    const struct {
        const char* text;
        std::optional<std::string> expected;
    } cases[] = {
        {"", ""}, {"YQ==", "a"}, {"YWI=", "ab"}, {"YWJj", "abc"}, {"YR==", std::nullopt},
        {"YQ=", std::nullopt}, {"Y===", std::nullopt}, {"YQ==YQ==", std::nullopt}, {"Y Q==", std::nullopt},
        {"+/+/", std::string("\xfb\xff\xbf", 3)},
    };
    for (const auto& c : cases) EXPECT_EQ(Base64Decode(c.text), c.expected) << c.text;
}

TEST(SignInParsing, TheUsersFile) {
    const std::string hash = "$argon2id$v=19$m=65536,t=2,p=1$c2FsdA$aGFzaA";
    const struct {
        const char* name;
        std::string text;
        size_t users;     // when accepted
        const char* error;  // else the start of the reason
    } cases[] = {
        {"two users, comments, blank lines", "# users\n\nann:operator:" + hash + "\r\nbob:viewer:" + hash, 2, ""},
        {"empty", "", 0, ""},
        {"no hash", "ann:operator\n", 0, "line 1: not NAME:ROLE:HASH"},
        {"unknown role", "ann:admin:" + hash, 0, "line 1: the role"},
        {"a blank in the name", "an n:viewer:" + hash, 0, "line 1: the name"},
        {"not argon2id", "\nann:viewer:$6$salt$hash", 0, "line 2: the password hash"},
        {"a control in the hash", "ann:viewer:" + hash + "\r\r\n", 0, "line 1: the password hash"},
        {"twice", "ann:viewer:" + hash + "\nann:operator:" + hash, 0, "line 2: the user ann is there twice"},
    };
    for (const auto& c : cases) {
        const UsersResult r = ParseUsers(c.text);
        if (*c.error) {
            EXPECT_FALSE(r) << c.name;
            EXPECT_EQ(r.error.rfind(c.error, 0), 0u) << c.name << ": " << r.error;
        } else {
            ASSERT_TRUE(r) << c.name << ": " << r.error;
            EXPECT_EQ(r.users.size(), c.users) << c.name;
            EXPECT_EQ(ParseUsers(FormatUsers(r.users)).users.size(), c.users) << c.name;
        }
    }
}

TEST(SignInPasswords, AHashChecksItsPasswordOnly) {
    const std::string hash = HashPassword("correct horse");
    ASSERT_EQ(hash.rfind("$argon2id$", 0), 0u);
    EXPECT_NE(HashPassword("correct horse"), hash);  // salted
    EXPECT_TRUE(VerifyPassword(hash, "correct horse"));
    EXPECT_FALSE(VerifyPassword(hash, "correct hors"));
    EXPECT_FALSE(VerifyPassword("not a hash", "correct horse"));
}

TEST(SignInLimiter, FiveFailuresWithinAMinuteLockAnAddressForAMinute) {
    SignInLimiter limiter;
    const IpAddress a = *ParseIpAddress("10.0.0.1"), b = *ParseIpAddress("10.0.0.2");
    auto t = SignInLimiter::Clock::now();
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(limiter.Failed(a, t + std::chrono::seconds(i)));
    EXPECT_FALSE(limiter.Locked(a, t + 4s));
    EXPECT_TRUE(limiter.Failed(a, t + 5s));   // the fifth: locked, to be said once
    EXPECT_TRUE(limiter.Locked(a, t + 64s));
    EXPECT_FALSE(limiter.Failed(a, t + 30s));  // already locked: not said again
    EXPECT_FALSE(limiter.Locked(b, t + 6s));
    EXPECT_FALSE(limiter.Locked(a, t + 66s));
    // Failures spread over more than a minute never lock.
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(limiter.Failed(b, t + std::chrono::seconds(20 * i)));
}

}  // namespace
}  // namespace tsr

#include "designer/server_access.h"
#include "platform/profile.h"
#include "test_support.h"

namespace tsr {
namespace {

TEST(DesignerServerAccessDialog, SettingsRoundTripAndAreCheckedBeforeUse) {
    test::ScratchDir dir;
    test::ScopedEnvironment config("XDG_CONFIG_HOME", dir.path());
    test::ScopedEnvironment english("LC_ALL", "C");
    Profile profile(dir / "profile.ini");
    designer::ServerAccessSettings s;
    s.allow = "127.0.0.0/8";
    s.usersFile = dir / "users";
    s.anonymousRead = true;
    s.tls = designer::TlsChoice::SelfSigned;
    ASSERT_EQ(designer::SaveServerAccessSettings(profile, s), "");
    const designer::ServerAccessSettings back = designer::LoadServerAccessSettings(profile);
    EXPECT_EQ(back.allow, s.allow);
    EXPECT_EQ(back.usersFile, s.usersFile);
    EXPECT_TRUE(back.anonymousRead);
    EXPECT_EQ(back.tls, designer::TlsChoice::SelfSigned);

    // The users file is made by the dialog's user operations.
    EXPECT_EQ(designer::AddOrChangeUser(s.usersFile, "ann", Role::Operator, "short"),
              "A password has at least 8 characters.");
    EXPECT_EQ(designer::AddOrChangeUser(s.usersFile, "an n", Role::Operator, "ann-secret"),
              "A user name is 1 to 64 characters, without ':' or blanks.");
    ASSERT_EQ(designer::AddOrChangeUser(s.usersFile, "ann", Role::Operator, "ann-secret"), "");
    ASSERT_EQ(designer::AddOrChangeUser(s.usersFile, "bob", Role::Operator, "bob-secret"), "");
    ASSERT_EQ(designer::ChangeUserRole(s.usersFile, "bob", Role::Viewer), "");
    ASSERT_EQ(designer::RemoveUser(s.usersFile, "ann"), "");
    std::string error;
    const std::vector<User> users = designer::ReadUsersForDialog(s.usersFile, &error);
    ASSERT_EQ(users.size(), 1u) << error;
    EXPECT_EQ(users[0].name, "bob");
    EXPECT_EQ(users[0].role, Role::Viewer);

    // Usable: the certificate is made once in the profile directory.
    const designer::ServerSecurity security = designer::BuildServerSecurity(s);
    ASSERT_TRUE(security) << security.error;
    EXPECT_TRUE(security.tls && security.users && security.anonymousRead);
    EXPECT_EQ(security.fingerprint.size(), 32u * 3 - 1);
    EXPECT_EQ(designer::BuildServerSecurity(s).fingerprint, security.fingerprint);

    struct Case {
        const char* name;
        designer::ServerAccessSettings settings;
        std::string error;
    };
    designer::ServerAccessSettings clear = s;
    clear.tls = designer::TlsChoice::Off;
    designer::ServerAccessSettings missing = s;
    missing.usersFile = dir / "nobody";
    designer::ServerAccessSettings files = s;
    files.tls = designer::TlsChoice::Files;
    files.certFile = dir / "none.pem";
    files.keyFile = dir / "none.key";
    designer::ServerAccessSettings rules = s;
    rules.writeAllow = "10.0.0.1/40";
    const Case cases[] = {
        {"sign-in without HTTPS", clear, "Sign-in needs HTTPS"},
        {"no users file", missing, "The users file " + missing.usersFile + " cannot be used"},
        {"no certificate file", files, "HTTPS cannot be started: cannot read the certificate"},
        {"a wrong rule", rules, "webwriteallow"},
    };
    for (const Case& c : cases) {
        const designer::ServerSecurity bad = designer::BuildServerSecurity(c.settings);
        EXPECT_FALSE(bad) << c.name;
        EXPECT_NE(bad.error.find(c.error), std::string::npos) << c.name << ": " << bad.error;
    }
}

}  // namespace
}  // namespace tsr
