#include "webserver/websocket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tsr {
namespace {

using namespace std::string_literals;

// The five digest words as 40 upper-case hex digits.
std::string Hex(const uint32_t digest[5]) {
    std::string text;
    char word[9];
    for (int i = 0; i < 5; ++i) {
        std::snprintf(word, sizeof word, "%08X", static_cast<unsigned>(digest[i]));
        text += word;
    }
    return text;
}

// The digest of `message` fed in pieces of `piece` bytes (0: in one call), or "" when Result
// fails.
std::string Digest(const std::string& message, size_t piece = 0) {
    SHA1 sha;
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    if (piece == 0) piece = message.size() + 1;
    for (size_t at = 0; at < message.size(); at += piece)
        sha.Input(bytes + at, std::min(piece, message.size() - at));
    uint32_t digest[5];
    if (!sha.Result(digest)) return "";
    return Hex(digest);
}

const unsigned char kOneByte[1] = {'a'};

TEST(Sha1, Fips180Vectors) {
    struct Case {
        const char* name;
        std::string message;
        const char* expected;
    } cases[] = {
        {"abc", "abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"448-bit message", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {"one million a", std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
        {"empty", "", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        // Around the padding boundaries: the length still fits the last block (55), no longer
        // fits (56, 63), a whole block (64), and the same one block further.
        {"55 a", std::string(55, 'a'), "C1C8BBDC22796E28C0E15163D20899B65621D65A"},
        {"56 a", std::string(56, 'a'), "C2DB330F6083854C99D4B5BFB6E8F29F201BE699"},
        {"63 a", std::string(63, 'a'), "03F09F5B158A7A8CDAD920BDDC29B81C18A551F5"},
        {"64 a", std::string(64, 'a'), "0098BA824B5C16427BD7A1122A5A442A25EC644D"},
        {"119 a", std::string(119, 'a'), "EE971065AAA017E0632A8CA6C77BB3BF8B1DFC56"},
        {"120 a", std::string(120, 'a'), "F34C1488385346A55709BA056DDD08280DD4C6D6"},
        {"128 a", std::string(128, 'a'), "AD5B3FDBCB526778C2839D2F151EA753995E26A0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Digest(c.message), c.expected) << c.name;
        for (size_t piece : {1, 3, 63, 64, 65, 1000})
            EXPECT_EQ(Digest(c.message, piece), c.expected) << c.name << ", pieces of " << piece;
    }
}

TEST(Sha1, ResultAndCorruption) {
    SHA1 sha;
    sha.Input(reinterpret_cast<const unsigned char*>("abc"), 3);
    uint32_t first[5], second[5];
    ASSERT_TRUE(sha.Result(first));
    ASSERT_TRUE(sha.Result(second));
    EXPECT_EQ(Hex(first), Hex(second));
    EXPECT_EQ(Hex(first), "A9993E364706816ABA3E25717850C26C9CD0D89D");

    // Nothing to add is harmless; bytes after the result corrupt the computation.
    sha.Input(nullptr, 0);
    EXPECT_TRUE(sha.Result(second));
    sha.Input(kOneByte, 1);
    uint32_t untouched[5] = {1, 2, 3, 4, 5};
    EXPECT_FALSE(sha.Result(untouched));
    EXPECT_EQ(untouched[0], 1u);
    EXPECT_EQ(untouched[4], 5u);

    // Reset starts a fresh computation.
    sha.Reset();
    sha.Input(reinterpret_cast<const unsigned char*>("abc"), 3);
    ASSERT_TRUE(sha.Result(second));
    EXPECT_EQ(Hex(second), Hex(first));
}

// Starts the message length near the 64-bit limit.
class LongSha1 : public SHA1 {
  public:
    LongSha1(uint32_t high, uint32_t low) { SetMessageBits(high, low); }
};

TEST(Sha1, LengthLimit) {
    struct Case {
        const char* name;
        uint32_t high, low;
        size_t bytes;
        bool ok;
    } cases[] = {
        {"reaches the last bit count", 0xFFFFFFFF, 0xFFFFFFF0, 1, true},
        {"passes 2^64 bits", 0xFFFFFFFF, 0xFFFFFFF8, 1, false},
        {"passes it in the middle of an input", 0xFFFFFFFF, 0xFFFFFF00, 64, false},
        {"carries into the high half", 0x00000000, 0xFFFFFFF8, 1, true},
    };
    for (const Case& c : cases) {
        LongSha1 sha(c.high, c.low);
        const std::string bytes(c.bytes, 'a');
        sha.Input(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        uint32_t digest[5];
        EXPECT_EQ(sha.Result(digest), c.ok) << c.name;
    }
}

TEST(Base64, Rfc4648Vectors) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* expected;
    } cases[] = {
        {"empty", "", ""},
        {"f", "f", "Zg=="},
        {"fo", "fo", "Zm8="},
        {"foo", "foo", "Zm9v"},
        {"foob", "foob", "Zm9vYg=="},
        {"fooba", "fooba", "Zm9vYmE="},
        {"foobar", "foobar", "Zm9vYmFy"},
        {"zero byte", "\0"s, "AA=="},
        {"high bytes give / and A", "\xff\xfe\x00"s, "//4A"},
        {"high bytes give +", "\xfb\xef\xbe", "++++"},
    };
    for (const Case& c : cases) EXPECT_EQ(Base64Encode(c.bytes), c.expected) << c.name;
}

constexpr const char* kSampleKey = "dGhlIHNhbXBsZSBub25jZQ==";
constexpr const char* kSampleAccept = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=";

std::string SwitchingAnswer(const std::string& accept) {
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: "
           "Upgrade\r\nSec-WebSocket-Accept: " +
           accept + "\r\n\r\n";
}

TEST(WebSocket, AcceptOfTheSampleKey) {
    EXPECT_EQ(WebSocketAccept(kSampleKey), kSampleAccept);
    EXPECT_EQ(WebSocketAccept(kSampleKey).size(), 28u);
    EXPECT_NE(WebSocketAccept("dGhlIHNhbXBsZSBub25jZQ=="),
              WebSocketAccept("dGhlIHNhbXBsZSBub25jZQ"));
}

TEST(WebSocket, UpgradeAnswer) {
    const std::string sample = std::string("Sec-WebSocket-Key: ") + kSampleKey + "\r\n";
    struct Case {
        const char* name;
        std::string request;
        std::optional<std::string> expected;
    } cases[] = {
        {"sample handshake",
         "GET /chat HTTP/1.1\r\nHost: server.example.com\r\nUpgrade: websocket\r\nConnection: "
         "Upgrade\r\n" +
             sample + "Sec-WebSocket-Version: 13\r\n\r\n",
         SwitchingAnswer(kSampleAccept)},
        {"no space after the colon",
         std::string("GET / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key:") + kSampleKey +
             "\r\n\r\n",
         SwitchingAnswer(kSampleAccept)},
        {"Upgrade only in the Connection header",
         "GET / HTTP/1.1\r\nConnection: keep-alive, Upgrade\r\n" + sample + "\r\n",
         SwitchingAnswer(kSampleAccept)},
        {"key at the end of the text",
         std::string("GET / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key: ") + kSampleKey,
         SwitchingAnswer(kSampleAccept)},
        {"zero bytes elsewhere", "GET / HTTP/1.1\r\n\0\0Upgrade: websocket\r\n"s + sample + "\r\n",
         SwitchingAnswer(kSampleAccept)},
        {"second space kept in the key",
         std::string("GET / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key:  ") + kSampleKey +
             "\r\n\r\n",
         SwitchingAnswer(WebSocketAccept(std::string(" ") + kSampleKey))},
        {"empty key", "GET / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key:\r\n\r\n",
         SwitchingAnswer(WebSocketAccept(""))},
        {"Upgrade without key",
         "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", std::nullopt},
        {"key without Upgrade", "GET / HTTP/1.1\r\nConnection: keep-alive\r\n" + sample + "\r\n",
         std::nullopt},
        {"Upgrade in lower case", "GET / HTTP/1.1\r\nupgrade: websocket\r\n" + sample + "\r\n",
         std::nullopt},
        {"key header in lower case",
         std::string("GET / HTTP/1.1\r\nUpgrade: websocket\r\nsec-websocket-key: ") + kSampleKey +
             "\r\n\r\n",
         std::nullopt},
        {"key header without colon", "GET / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key",
         std::nullopt},
        {"colon only before the key header",
         "GET / HTTP/1.1\r\nUpgrade: websocket\r\nSec-WebSocket-Key dGhl", std::nullopt},
        {"empty request", "", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(WebSocketUpgradeAnswer(c.request), c.expected) << c.name;
}

TEST(WebSocket, CloseFrames) {
    struct Case {
        const char* name;
        std::string frame;
        bool close;
    } cases[] = {
        {"close", "\x88\x00"s, true},
        {"masked close with a code", "\x88\x82\x01\x02\x03\x04\x02\xEA"s, true},
        {"close without the final bit", "\x08\x00"s, true},
        {"close with reserved bits", "\xF8", true},
        {"text", "\x81\x05hello", false},
        {"binary", "\x82", false},
        {"ping", "\x89", false},
        {"pong", "\x8A", false},
        {"continuation", "\x80\x00"s, false},
        {"empty", "", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsWebSocketCloseFrame(c.frame), c.close) << c.name;
}

TEST(WebSocket, ServerCloseFrame) {
    ASSERT_EQ(kWebSocketCloseFrame.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(kWebSocketCloseFrame[0]), 0x88);
    EXPECT_EQ(static_cast<unsigned char>(kWebSocketCloseFrame[1]), 0x00);
    EXPECT_TRUE(IsWebSocketCloseFrame(kWebSocketCloseFrame));
}

}  // namespace
}  // namespace tsr
