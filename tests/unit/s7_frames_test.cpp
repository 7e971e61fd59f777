// The S7 layers byte for byte: TPKT, COTP and the S7 PDUs, built and parsed.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gateways/s7/cotp.h"
#include "gateways/s7/packets.h"
#include "gateways/s7/s7_frames.h"
#include "gateways/s7/tpkt.h"

namespace tsr::s7 {
namespace {

// "03 00 1F" -> bytes.
std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size(); i += 3) {
        out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

TEST(S7Frames, RequestPacketsByteForByte) {
    const uint8_t word[2] = {0x12, 0x34};
    const uint8_t dword[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    const uint8_t byte[1] = {0x5A};
    ReadRequest readM10{kAreaFlags, 80, 4, kDefaultJobReference};
    ReadRequest readI3{kAreaInputs, 24, 1, 0x0207};
    ReadRequest readHigh{kAreaOutputs, 65535u * 8, 4, kDefaultJobReference};
    WriteRequest writeWord{kAreaFlags, 80, word, kDefaultJobReference};
    WriteRequest writeDword{kAreaOutputs, 16, dword, kDefaultJobReference};
    WriteRequest writeByte{kAreaFlags, 88, byte, 0x0203};
    struct Case {
        const char* name;
        std::vector<uint8_t> built;
        const char* expected;
    } cases[] = {
        {"connection request, ucpos 0", ConnectionRequestPacket(0),
         "03 00 00 16 11 E0 00 00 00 01 00 C0 01 0A C1 02 01 00 C2 02 01 00"},
        {"connection request, ucpos 2", ConnectionRequestPacket(2),
         "03 00 00 16 11 E0 00 00 00 2E 00 C1 02 01 00 C2 02 03 02 C0 01 09"},
        {"connection request, ucpos 0x21", ConnectionRequestPacket(0x21),
         "03 00 00 16 11 E0 00 00 00 2E 00 C1 02 01 00 C2 02 03 21 C0 01 09"},
        {"setup after the first form", DataPacket(BuildSetupCommunication(false)),
         "03 00 00 19 02 F0 80 32 01 00 00 00 00 00 08 00 00 F0 00 00 10 00 10 03 C0"},
        {"setup after the second form", DataPacket(BuildSetupCommunication(true)),
         "03 00 00 19 02 F0 80 32 01 00 00 FF FF 00 08 00 00 F0 00 00 03 00 03 01 00"},
        {"CPU state request", DataPacket(BuildCpuStateRequest()),
         "03 00 00 21 02 F0 80 32 07 00 00 03 00 00 08 00 08 00 01 12 04 11 44 01 00 FF 09 00 "
         "04 04 24 00 00"},
        {"read of 4 bytes at M10", DataPacket(BuildReadRequest(readM10)),
         "03 00 00 1F 02 F0 80 32 01 00 00 02 00 00 0E 00 00 04 01 12 0A 10 02 00 04 00 00 83 "
         "00 00 50"},
        {"read of 1 byte at I3, reference 0x0207", DataPacket(BuildReadRequest(readI3)),
         "03 00 00 1F 02 F0 80 32 01 00 00 02 07 00 0E 00 00 04 01 12 0A 10 02 00 01 00 00 81 "
         "00 00 18"},
        {"read at Q65535: the bit address needs the third byte",
         DataPacket(BuildReadRequest(readHigh)),
         "03 00 00 1F 02 F0 80 32 01 00 00 02 00 00 0E 00 00 04 01 12 0A 10 02 00 04 00 00 82 "
         "07 FF F8"},
        {"write of a word at M10", DataPacket(BuildWriteRequest(writeWord)),
         "03 00 00 25 02 F0 80 32 01 00 00 02 00 00 0E 00 06 05 01 12 0A 10 02 00 02 00 00 83 "
         "00 00 50 00 04 00 10 12 34"},
        {"write of a double word at Q2", DataPacket(BuildWriteRequest(writeDword)),
         "03 00 00 27 02 F0 80 32 01 00 00 02 00 00 0E 00 08 05 01 12 0A 10 02 00 04 00 00 82 "
         "00 00 10 00 04 00 20 DE AD BE EF"},
        {"write of a byte at M11, reference 0x0203", DataPacket(BuildWriteRequest(writeByte)),
         "03 00 00 24 02 F0 80 32 01 00 00 02 03 00 0E 00 05 05 01 12 0A 10 02 00 01 00 00 83 "
         "00 00 58 00 04 00 08 5A"},
    };
    for (const Case& c : cases) EXPECT_EQ(ToHex(c.built), c.expected) << c.name;
}

TEST(S7Frames, WriteRefusesEmptyOrLongData) {
    const uint8_t five[5] = {1, 2, 3, 4, 5};
    WriteRequest none{kAreaFlags, 0, {}, kDefaultJobReference};
    WriteRequest tooLong{kAreaFlags, 0, five, kDefaultJobReference};
    EXPECT_TRUE(BuildWriteRequest(none).empty());
    EXPECT_TRUE(BuildWriteRequest(tooLong).empty());
}

TEST(S7Frames, TpktHeaders) {
    struct Case {
        const char* name;
        std::vector<uint8_t> header;
        TpktError error;
        size_t length;
    } cases[] = {
        {"connection confirm", Hex("03 00 00 16"), TpktError::None, 22},
        {"largest", Hex("03 00 FF FF"), TpktError::None, 65535},
        {"smallest", Hex("03 00 00 07"), TpktError::None, 7},
        {"three bytes", Hex("03 00 00"), TpktError::Truncated, 0},
        {"version 2", Hex("02 00 00 16"), TpktError::BadVersion, 0},
        {"length below a TPDU", Hex("03 00 00 06"), TpktError::BadLength, 0},
        {"length zero", Hex("03 00 00 00"), TpktError::BadLength, 0},
    };
    for (const Case& c : cases) {
        size_t length = 0;
        EXPECT_EQ(ParseTpktHeader(c.header, &length), c.error) << c.name;
        EXPECT_EQ(length, c.length) << c.name;
    }
    EXPECT_TRUE(WrapTpkt({}).empty());
    EXPECT_TRUE(WrapTpkt(std::vector<uint8_t>(65532)).empty());
    EXPECT_EQ(WrapTpkt(std::vector<uint8_t>(65531)).size(), 65535u);
}

TEST(S7Frames, CotpTpdus) {
    struct Case {
        const char* name;
        std::vector<uint8_t> tpdu;
        CotpError confirm;
        CotpError data;
        size_t pduSize;
    } cases[] = {
        {"confirm", Hex("11 D0 00 01 00 2E 00 C0 01 0A C1 02 01 00 C2 02 01 00"), CotpError::None,
         CotpError::NotData, 0},
        {"short confirm", Hex("06 D0 00 01 00 2E 00"), CotpError::None, CotpError::NotData, 0},
        {"confirm cut", Hex("11 D0 00 01 00 2E 00"), CotpError::Truncated, CotpError::Truncated, 0},
        {"disconnect request", Hex("06 80 00 01 00 2E 80"), CotpError::NotConnectionConfirm,
         CotpError::NotData, 0},
        {"data", Hex("02 F0 80 32 03 00"), CotpError::NotConnectionConfirm, CotpError::None, 3},
        {"data, nothing carried", Hex("02 F0 80"), CotpError::NotConnectionConfirm, CotpError::None,
         0},
        {"data, fragment", Hex("02 F0 00 32"), CotpError::NotConnectionConfirm,
         CotpError::NotLastFragment, 0},
        {"length indicator beyond", Hex("09 F0 80 32"), CotpError::Truncated, CotpError::Truncated,
         0},
        {"one byte", Hex("02"), CotpError::Truncated, CotpError::Truncated, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseConnectionConfirm(c.tpdu), c.confirm) << c.name;
        std::span<const uint8_t> pdu;
        EXPECT_EQ(UnwrapData(c.tpdu, &pdu), c.data) << c.name;
        EXPECT_EQ(pdu.size(), c.pduSize) << c.name;
    }
}

TEST(S7Frames, WholePackets) {
    EXPECT_TRUE(IsConnectionConfirmPacket(
        Hex("03 00 00 16 11 D0 00 01 00 2E 00 C0 01 0A C1 02 01 00 C2 02 01 00")));
    // The TPKT length must be the packet's own.
    EXPECT_FALSE(IsConnectionConfirmPacket(Hex("03 00 00 17 11 D0 00 01 00 2E 00 C0 01 0A C1 02 "
                                               "01 00 C2 02 01 00")));
    EXPECT_FALSE(IsConnectionConfirmPacket(Hex("03 00 00 0B 06 80 00 01 00 2E 80")));
    std::span<const uint8_t> pdu;
    const std::vector<uint8_t> packet = Hex("03 00 00 0A 02 F0 80 32 03 00");
    ASSERT_TRUE(PduOfPacket(packet, &pdu));
    EXPECT_EQ(ToHex(std::vector<uint8_t>(pdu.begin(), pdu.end())), "32 03 00");
    EXPECT_FALSE(PduOfPacket(Hex("03 00 00 16 11 D0 00 01 00 2E 00 C0 01 0A C1 02 01 00 C2 02 "
                                 "01 00"),
                             &pdu));
}

TEST(S7Frames, ReadAnswers) {
    // Ack-data header (reference 0x0200, parameter length 2, data length 8), parameters 04 01,
    // data item FF 04 0020 and the bytes 01 02 03 04.
    const std::string ok = "32 03 00 00 02 00 00 02 00 08 00 00 04 01 FF 04 00 20 01 02 03 04";
    struct Case {
        const char* name;
        std::string pdu;
        size_t count;
        S7Error error;
        std::string bytes;
    } cases[] = {
        {"four bytes", ok, 4, S7Error::None, "01 02 03 04"},
        {"one byte of four", ok, 1, S7Error::None, "01"},
        {"octet string counts bytes",
         "32 03 00 00 02 00 00 02 00 06 00 00 04 01 FF 09 00 02 0A 0B", 2, S7Error::None, "0A 0B"},
        {"fewer bytes than asked", "32 03 00 00 02 00 00 02 00 06 00 00 04 01 FF 04 00 10 0A 0B", 4,
         S7Error::ShortData, ""},
        {"address outside the area", "32 03 00 00 02 00 00 02 00 04 00 00 04 01 0A 00 00 00", 4,
         S7Error::ItemFailed, ""},
        {"job refused", "32 03 00 00 02 00 00 00 00 00 81 04", 4, S7Error::Refused, ""},
        {"data length beyond the PDU", "32 03 00 00 02 00 00 02 00 09 00 00 04 01 FF 04 00 20 01 02 "
         "03 04", 4, S7Error::Truncated, ""},
        {"item length beyond the data", "32 03 00 00 02 00 00 02 00 08 00 00 04 01 FF 04 00 28 01 02 "
         "03 04", 4, S7Error::Truncated, ""},
        {"write answer", "32 03 00 00 02 00 00 02 00 01 00 00 05 01 FF", 4, S7Error::WrongFunction,
         ""},
        {"job, not an answer", "32 01 00 00 02 00 00 0E 00 00 04 01", 4, S7Error::NotAckData, ""},
        {"not S7", "33 03 00 00 02 00 00 02 00 08 00 00 04 01 FF 04 00 20 01 02 03 04", 4,
         S7Error::NotS7, ""},
        {"header cut", "32 03 00 00 02 00 00 02", 4, S7Error::Truncated, ""},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out(c.count, 0xEE);
        EXPECT_EQ(ParseReadAnswer(Hex(c.pdu), out), c.error) << c.name;
        if (c.error == S7Error::None) {
            EXPECT_EQ(ToHex(out), c.bytes) << c.name;
        }
    }
}

TEST(S7Frames, SetupAnswersAndReferences) {
    EXPECT_EQ(ParseSetupAnswer(Hex("32 03 00 00 00 00 00 08 00 00 00 00 F0 00 00 01 00 01 01 E0")),
              S7Error::None);
    EXPECT_EQ(ParseSetupAnswer(Hex("32 03 00 00 00 00 00 00 00 00 81 04")), S7Error::Refused);
    EXPECT_EQ(ParseSetupAnswer(Hex("32 03 00 00 00 00 00 02 00 00 00 00 04 01")),
              S7Error::WrongFunction);
    EXPECT_EQ(PduReference(Hex("32 03 00 00 02 07 00 02 00 01 00 00 05 01 FF")), 0x0207);
    EXPECT_EQ(PduReference(Hex("32 07 00 00 03 00 00 08 00 08")), 0x0300);
    EXPECT_EQ(PduReference(Hex("32 03 00 00 02")), std::nullopt);
    EXPECT_EQ(PduReference(Hex("11 03 00 00 02 07 00 02 00 01")), std::nullopt);
}

}  // namespace
}  // namespace tsr::s7
