#include "gateways/s7/s7_frames.h"

#include <algorithm>

#include "gateways/s7/byte_order.h"

namespace tsr::s7 {

namespace {

constexpr uint8_t kProtocolId = 0x32;
constexpr uint8_t kJob = 0x01;
constexpr uint8_t kAckData = 0x03;
constexpr uint8_t kUserData = 0x07;
constexpr uint8_t kSetupFunction = 0xF0;
constexpr uint8_t kReadFunction = 0x04;
constexpr uint8_t kWriteFunction = 0x05;
constexpr uint8_t kItemSuccess = 0xFF;
constexpr size_t kJobHeaderSize = 10;
constexpr size_t kAckHeaderSize = 12;

void PutHeader(std::vector<uint8_t>& out, uint8_t rosctr, uint16_t reference,
               uint16_t parameterLength, uint16_t dataLength) {
    out.push_back(kProtocolId);      // protocol id, always 0x32
    out.push_back(rosctr);           // message type: job, ack-data, user data
    put_be16(out, 0x0000);           // redundancy identification, reserved
    put_be16(out, reference);        // PDU reference, echoed by the answer
    put_be16(out, parameterLength);  // length of the parameter part
    put_be16(out, dataLength);       // length of the data part
}

// The item naming the variable's area and address, shared by the read and the write job.
void PutItem(std::vector<uint8_t>& out, uint16_t count, uint8_t area, uint32_t bitAddress) {
    out.push_back(0x12);       // item type: a variable
    out.push_back(0x0A);       // length of the address part that follows
    out.push_back(0x10);       // syntax id: S7ANY
    out.push_back(0x02);       // transport size: BYTE
    put_be16(out, count);      // number of elements (bytes)
    put_be16(out, 0x0000);     // DB number: none for I, Q and M
    out.push_back(area);       // memory area
    put_be24(out, bitAddress); // start address in bits (byte number x 8)
}

// The parts of an acknowledgement (ack-data) PDU, after its lengths were checked.
struct AckParts {
    std::span<const uint8_t> parameters;
    std::span<const uint8_t> data;
};

S7Error SplitAckData(std::span<const uint8_t> pdu, AckParts* parts) {
    if (pdu.size() < kAckHeaderSize) return S7Error::Truncated;
    if (pdu[0] != kProtocolId) return S7Error::NotS7;
    if (pdu[1] != kAckData) return S7Error::NotAckData;
    if (pdu[10] != 0 || pdu[11] != 0) return S7Error::Refused;  // error class, error code
    const size_t parameterLength = get_be16(pdu, 6);
    const size_t dataLength = get_be16(pdu, 8);
    if (kAckHeaderSize + parameterLength + dataLength > pdu.size()) return S7Error::Truncated;
    parts->parameters = pdu.subspan(kAckHeaderSize, parameterLength);
    parts->data = pdu.subspan(kAckHeaderSize + parameterLength, dataLength);
    return S7Error::None;
}

// Bytes in a data item of `length` units of transport size `size`: the bit, byte and integer
// sizes count bits, the others bytes.
size_t ItemBytes(uint8_t size, size_t length) {
    if (size == 0x03 || size == 0x04 || size == 0x05) return (length + 7) / 8;
    return length;
}

}  // namespace

const char* S7ErrorText(S7Error error) {
    switch (error) {
        case S7Error::None: return "ok";
        case S7Error::Truncated: return "S7 PDU truncated";
        case S7Error::NotS7: return "not an S7 PDU";
        case S7Error::NotAckData: return "not an S7 acknowledgement";
        case S7Error::Refused: return "S7 job refused";
        case S7Error::WrongFunction: return "S7 answer to another job";
        case S7Error::ItemFailed: return "S7 item failed";
        case S7Error::ShortData: return "S7 item too short";
    }
    return "unknown S7 error";
}

std::vector<uint8_t> BuildSetupCommunication(bool rackSlotForm) {
    std::vector<uint8_t> out;
    PutHeader(out, kJob, rackSlotForm ? 0xFFFF : 0x0000, 8, 0);
    out.push_back(kSetupFunction);               // function: setup communication
    out.push_back(0x00);                         // reserved
    const uint16_t jobs = rackSlotForm ? 3 : 16;
    put_be16(out, jobs);                         // parallel jobs, calling side
    put_be16(out, jobs);                         // parallel jobs, called side
    put_be16(out, rackSlotForm ? 256 : 960);     // PDU size asked for
    return out;
}

std::vector<uint8_t> BuildCpuStateRequest() {
    std::vector<uint8_t> out;
    PutHeader(out, kUserData, 0x0300, 8, 8);
    out.push_back(0x00);    // parameter head
    out.push_back(0x01);
    out.push_back(0x12);
    out.push_back(0x04);    // parameter length after this byte
    out.push_back(0x11);    // method: request
    out.push_back(0x44);    // type request, function group: CPU functions
    out.push_back(0x01);    // subfunction: read system status list
    out.push_back(0x00);    // sequence number
    out.push_back(0xFF);    // data return code: success
    out.push_back(0x09);    // transport size: octet string
    put_be16(out, 0x0004);  // data length
    put_be16(out, 0x0424);  // system status list id: CPU state
    put_be16(out, 0x0000);  // list index
    return out;
}

std::vector<uint8_t> BuildReadRequest(const ReadRequest& request) {
    std::vector<uint8_t> out;
    PutHeader(out, kJob, request.reference, 14, 0);
    out.push_back(kReadFunction);  // function: read variable
    out.push_back(0x01);           // item count
    PutItem(out, request.count, request.area, request.bitAddress);
    return out;
}

std::vector<uint8_t> BuildWriteRequest(const WriteRequest& request) {
    const size_t n = request.data.size();
    if (n == 0 || n > kMaxWriteBytes) return {};
    std::vector<uint8_t> out;
    PutHeader(out, kJob, request.reference, 14, static_cast<uint16_t>(4 + n));
    out.push_back(kWriteFunction);  // function: write variable
    out.push_back(0x01);            // item count
    PutItem(out, static_cast<uint16_t>(n), request.area, request.bitAddress);
    out.push_back(0x00);                              // return code: reserved in a job
    out.push_back(0x04);                              // transport size: BYTE/WORD/DWORD (bits)
    put_be16(out, static_cast<uint16_t>(8 * n));      // data length in bits
    out.insert(out.end(), request.data.begin(), request.data.end());
    return out;
}

std::optional<uint16_t> PduReference(std::span<const uint8_t> pdu) {
    if (pdu.size() < kJobHeaderSize || pdu[0] != kProtocolId) return std::nullopt;
    return get_be16(pdu, 4);
}

S7Error ParseSetupAnswer(std::span<const uint8_t> pdu) {
    AckParts parts;
    if (S7Error e = SplitAckData(pdu, &parts); e != S7Error::None) return e;
    if (parts.parameters.empty() || parts.parameters[0] != kSetupFunction) {
        return S7Error::WrongFunction;
    }
    return S7Error::None;
}

S7Error ParseReadAnswer(std::span<const uint8_t> pdu, std::span<uint8_t> out) {
    AckParts parts;
    if (S7Error e = SplitAckData(pdu, &parts); e != S7Error::None) return e;
    // Parameters: function, item count.
    if (parts.parameters.size() < 2 || parts.parameters[0] != kReadFunction ||
        parts.parameters[1] != 1) {
        return S7Error::WrongFunction;
    }
    // Data item: return code, transport size, length (BE16), the bytes.
    if (parts.data.empty()) return S7Error::Truncated;
    if (parts.data[0] != kItemSuccess) return S7Error::ItemFailed;
    if (parts.data.size() < 4) return S7Error::Truncated;
    const size_t bytes = ItemBytes(parts.data[1], get_be16(parts.data, 2));
    if (4 + bytes > parts.data.size()) return S7Error::Truncated;
    if (bytes < out.size()) return S7Error::ShortData;
    std::copy_n(parts.data.begin() + 4, out.size(), out.begin());
    return S7Error::None;
}

}  // namespace tsr::s7
