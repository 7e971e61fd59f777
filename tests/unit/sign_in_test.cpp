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
