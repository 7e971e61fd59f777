// The Simora socket's request and answer, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "gateways/simora/frames.h"

namespace tsr::simora {
namespace {

TEST(SimoraFrames, Requests) {
    struct Case {
        const char* name;
        uint32_t wParam;
        std::string text;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"check", kCheck, "", {0x29, 0x09, 0, 0, 0, 0}},
        {"read", kReadBehavior, "speed", {0x00, 0x01, 0, 0, 5, 0, 's', 'p', 'e', 'e', 'd'}},
        {"write", kWriteBehavior, "a=1", {0x00, 0x02, 0, 0, 3, 0, 'a', '=', '1'}},
    };
    for (const auto& c : cases) {
        const auto bytes = BuildRequest(c.wParam, c.text);
        ASSERT_TRUE(bytes.has_value()) << c.name;
        EXPECT_EQ(*bytes, c.expected) << c.name;
        const Request back = ParseRequest(*bytes);
        EXPECT_EQ(back.kind, Request::Kind::Done) << c.name;
        EXPECT_EQ(back.wParam, c.wParam) << c.name;
        EXPECT_EQ(back.text, c.text) << c.name;
    }
    EXPECT_TRUE(BuildRequest(kReadBehavior, std::string(255, 'x')).has_value());
    EXPECT_FALSE(BuildRequest(kReadBehavior, std::string(256, 'x')).has_value());
}

TEST(SimoraFrames, PartialAndBadRequests) {
    const auto whole = *BuildRequest(kReadBehavior, "speed");
    for (size_t n = 0; n < whole.size(); ++n) {
        const Request r = ParseRequest(std::span<const uint8_t>(whole).first(n));
        EXPECT_EQ(r.kind, Request::Kind::NeedMore) << n;
        EXPECT_EQ(r.needed, n < kRequestHeaderSize ? kRequestHeaderSize : whole.size()) << n;
    }
    const std::vector<uint8_t> tooLong = {0, 1, 0, 0, 0x00, 0x01};  // 256 bytes announced
    EXPECT_EQ(ParseRequest(tooLong).kind, Request::Kind::Malformed);
}

TEST(SimoraFrames, Answers) {
    EXPECT_EQ(BuildAnswer(9876), (std::vector<uint8_t>{0x94, 0x26, 0, 0}));
    EXPECT_EQ(ParseAnswer(BuildAnswer(0x3FC00000)), 0x3FC00000u);
    const std::vector<uint8_t> short3 = {1, 2, 3}, long5 = {1, 2, 3, 4, 5};
    EXPECT_FALSE(ParseAnswer(short3).has_value());
    EXPECT_FALSE(ParseAnswer(long5).has_value());
}

}  // namespace
}  // namespace tsr::simora
