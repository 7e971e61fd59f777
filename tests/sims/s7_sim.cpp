#include "s7_sim.h"

#include <sys/socket.h>

#include <algorithm>
#include <thread>

namespace tsr::sims {

namespace {

using namespace std::chrono_literals;

uint16_t Be16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>((b[at] << 8) | b[at + 1]);
}

void PutBe16(std::vector<uint8_t>& out, size_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Receives exactly `count` bytes into `out`; false when the peer closed or the sim stops.
bool ReceiveBytes(int fd, const std::atomic<bool>& stopping, size_t count,
                  std::vector<uint8_t>* out) {
    out->assign(count, 0);
    size_t got = 0;
    while (got < count) {
        if (!WaitReadable(fd, stopping)) return false;
        ssize_t n = recv(fd, out->data() + got, count - got, 0);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// The TPKT packet around a COTP data TPDU carrying `pdu`.
std::vector<uint8_t> DataPacket(const std::vector<uint8_t>& pdu) {
    std::vector<uint8_t> out = {0x03, 0x00};
    PutBe16(out, 7 + pdu.size());
    out.insert(out.end(), {0x02, 0xF0, 0x80});
    out.insert(out.end(), pdu.begin(), pdu.end());
    return out;
}

// An ack-data PDU answering the job with `reference`.
std::vector<uint8_t> AckData(uint16_t reference, const std::vector<uint8_t>& parameters,
                             const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out = {0x32, 0x03, 0x00, 0x00};
    PutBe16(out, reference);
    PutBe16(out, parameters.size());
    PutBe16(out, data.size());
    out.insert(out.end(), {0x00, 0x00});  // error class and code: none
    out.insert(out.end(), parameters.begin(), parameters.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

}  // namespace

S7Sim::S7Sim()
    : server_([this](int fd, const std::atomic<bool>& stopping) { Serve(fd, stopping); }),
      inputs_(kAreaSize),
      outputs_(kAreaSize),
      flags_(kAreaSize) {}

bool S7Sim::Start(const std::string& address, uint16_t port) {
    return server_.Start(address, port);
}

void S7Sim::Stop() { server_.Stop(); }

void S7Sim::SetBytes(uint8_t area, size_t offset, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t>* a = Area(area);
    if (!a) return;
    for (size_t i = 0; i < bytes.size() && offset + i < a->size(); ++i) (*a)[offset + i] = bytes[i];
}

std::vector<uint8_t> S7Sim::GetBytes(uint8_t area, size_t offset, size_t count) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<uint8_t>* a = const_cast<S7Sim*>(this)->Area(area);
    if (!a || offset >= a->size()) return {};
    count = std::min(count, a->size() - offset);
    return std::vector<uint8_t>(a->begin() + offset, a->begin() + offset + count);
}

#ifdef TESSORA_SIM_FAULTS
void S7Sim::SetAnswerDelay(std::chrono::milliseconds delay, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    delay_ = delay;
    delayCount_ = count;
}
#endif  // TESSORA_SIM_FAULTS

std::vector<uint8_t> S7Sim::LastConnectionRequest() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastConnectionRequest_;
}

std::vector<uint8_t> S7Sim::LastSetup() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastSetup_;
}

std::vector<uint8_t>* S7Sim::Area(uint8_t code) {
    switch (code) {
        case 0x81: return &inputs_;
        case 0x82: return &outputs_;
        case 0x83: return &flags_;
        default: return nullptr;
    }
}

std::chrono::milliseconds S7Sim::TakeDelay() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (delay_ == 0ms) return 0ms;
    const auto delay = delay_;
    if (delayCount_ > 0 && --delayCount_ == 0) delay_ = 0ms;
    return delay;
}

void S7Sim::Serve(int fd, const std::atomic<bool>& stopping) {
    std::vector<uint8_t> header, rest;
    for (;;) {
        if (!ReceiveBytes(fd, stopping, 4, &header) || header[0] != 0x03) return;
        const size_t length = Be16(header, 2);
        if (length < 7 || !ReceiveBytes(fd, stopping, length - 4, &rest)) return;
        std::vector<uint8_t> packet = header;
        packet.insert(packet.end(), rest.begin(), rest.end());
        if (silent_) continue;
        bool delayed = false;
        std::vector<uint8_t> answer = Answer(packet, &delayed);
        if (answer.empty()) return;  // refused, or not understood: the link is dropped
        if (delayed) {
            const auto until = std::chrono::steady_clock::now() + TakeDelay();
            while (!stopping && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(2ms);
            }
        }
        if (!SendAllBytes(fd, answer.data(), answer.size())) return;
        // A refused connection request: the disconnect request is the last packet.
        if (answer.size() > 5 && answer[5] == 0x80) return;
    }
}

std::vector<uint8_t> S7Sim::Answer(const std::vector<uint8_t>& packet, bool* delayed) {
    const uint8_t type = packet[5] & 0xF0;
    if (type == 0xE0) {  // connection request
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lastConnectionRequest_ = packet;
        }
        if (refuse_) {
            // Disconnect request: LI 6, DR, destination and source reference, reason 0x80.
            return {0x03, 0x00, 0x00, 0x0B, 0x06, 0x80, packet[8], packet[9], 0x00, 0x01, 0x80};
        }
        // Connection confirm: the request with the type changed and the references swapped.
        std::vector<uint8_t> answer = packet;
        answer[5] = 0xD0;
        answer[6] = packet[8];
        answer[7] = packet[9];
        answer[8] = 0x00;
        answer[9] = 0x01;
        return answer;
    }
    if (type != 0xF0 || packet.size() < 7 + 10 || packet[7] != 0x32) return {};
    std::vector<uint8_t> pdu(packet.begin() + 7, packet.end());
    if (pdu[1] == 0x07) {  // user data: the CPU state request
        ++cpuStates_;
        *delayed = true;
        std::vector<uint8_t> out = {0x32, 0x07, 0x00, 0x00, pdu[4], pdu[5], 0x00, 0x0C, 0x00, 0x08};
        out.insert(out.end(), {0x00, 0x01, 0x12, 0x08, 0x12, 0x84, 0x01, 0x00, 0x00, 0x00, 0x00,
                               0x00});
        out.insert(out.end(), {0xFF, 0x09, 0x00, 0x04, 0x04, 0x24, 0x00, 0x00});
        return DataPacket(out);
    }
    if (pdu[1] != 0x01 || pdu.size() < 11) return {};
    if (pdu[10] == 0xF0) {  // setup communication: the same figures back, PDU size at most 480
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lastSetup_ = packet;
        }
        if (pdu.size() < 18) return {};
        std::vector<uint8_t> parameters(pdu.begin() + 10, pdu.begin() + 18);
        const size_t size = std::min<size_t>(Be16(pdu, 16), 480);
        parameters[6] = static_cast<uint8_t>(size >> 8);
        parameters[7] = static_cast<uint8_t>(size);
        return DataPacket(AckData(Be16(pdu, 4), parameters, {}));
    }
    *delayed = true;
    return DataPacket(AnswerJob(pdu, delayed));
}

// A one-item read (0x04) or write (0x05) of a byte range.
std::vector<uint8_t> S7Sim::AnswerJob(const std::vector<uint8_t>& pdu, bool*) {
    const uint16_t reference = Be16(pdu, 4);
    const uint8_t function = pdu[10];
    if (pdu.size() < 24 || (function != 0x04 && function != 0x05)) {
        return AckData(reference, {function, 0x00}, {});
    }
    const size_t count = Be16(pdu, 16);
    const uint8_t area = pdu[20];
    const size_t offset = ((size_t{pdu[21]} << 16) | (size_t{pdu[22]} << 8) | pdu[23]) / 8;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t>* a = Area(area);
    const bool inside = a && offset + count <= a->size();
    if (function == 0x04) {
        ++reads_;
        if (!inside) return AckData(reference, {0x04, 0x01}, {0x0A, 0x00, 0x00, 0x00});
        std::vector<uint8_t> data = {0xFF, 0x04};
        PutBe16(data, count * 8);
        data.insert(data.end(), a->begin() + offset, a->begin() + offset + count);
        return AckData(reference, {0x04, 0x01}, data);
    }
    ++writes_;
    const size_t dataAt = 10 + Be16(pdu, 6);
    if (!inside || dataAt + 4 + count > pdu.size()) {
        return AckData(reference, {0x05, 0x01}, {0x0A});
    }
    std::copy_n(pdu.begin() + dataAt + 4, count, a->begin() + offset);
    return AckData(reference, {0x05, 0x01}, {0xFF});
}

}  // namespace tsr::sims
