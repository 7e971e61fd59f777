#include "simora_sim.h"

#include <cstring>

#include "gateways/simora/frames.h"
#include "gateways/transport/tcp_transport.h"
#include "sim_support.h"

namespace tsr::sims {

SimoraSim::SimoraSim()
    : server_([this](int fd, const std::atomic<bool>& stopping) { Serve(fd, stopping); }) {}

bool SimoraSim::Start() {
    return server_.Start(RuntimeSocketPath(simora::kSimoraSocketName));
}

void SimoraSim::Stop() {
    server_.Stop();
}

void SimoraSim::SetBehavior(const std::string& name, float value) {
    std::lock_guard<std::mutex> lock(mutex_);
    behaviors_[name] = value;
}

std::optional<float> SimoraSim::Behavior(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = behaviors_.find(name);
    if (it == behaviors_.end()) return std::nullopt;
    return it->second;
}

std::vector<std::string> SimoraSim::Writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

int SimoraSim::Requests(uint32_t wParam) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = requests_.find(wParam);
    return it == requests_.end() ? 0 : it->second;
}

uint32_t SimoraSim::Answer(uint32_t wParam, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++requests_[wParam];
    if (wParam == simora::kCheck) return ready_.load() ? simora::kCheckAnswer : 0;
    if (wParam == simora::kReadBehavior) {
        const auto it = behaviors_.find(text);
        const float value = it == behaviors_.end() ? 0.0f : it->second;
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof(bits));
        return bits;
    }
    if (wParam == simora::kWriteBehavior) {
        writes_.push_back(text);
        const size_t equals = text.find('=');
        if (equals != std::string::npos)
            behaviors_[text.substr(0, equals)] = std::strtof(text.c_str() + equals + 1, nullptr);
    }
    return 0;
}

// Requests on one connection until the peer closes it.
void SimoraSim::Serve(int fd, const std::atomic<bool>& stopping) {
    for (;;) {
        std::vector<uint8_t> received(simora::kRequestHeaderSize);
        if (!ReceiveAllBytes(fd, received.data(), received.size(), stopping, 2000)) return;
        simora::Request request = simora::ParseRequest(received);
        if (request.kind == simora::Request::Kind::Malformed) return;
        if (request.kind == simora::Request::Kind::NeedMore) {
            received.resize(request.needed);
            if (!ReceiveAllBytes(fd, received.data() + simora::kRequestHeaderSize,
                                 request.needed - simora::kRequestHeaderSize, stopping, 2000))
                return;
            request = simora::ParseRequest(received);
        }
        if (silent_.load()) {
            uint8_t ignored;
            ReceiveAllBytes(fd, &ignored, 1, stopping, 3000);  // until the gateway gives up
            return;
        }
        const std::vector<uint8_t> answer =
            simora::BuildAnswer(Answer(request.wParam, request.text));
        if (!SendAllBytes(fd, answer.data(), answer.size())) return;
    }
}

}  // namespace tsr::sims
