#include "gateways/simora/simora_gateway.h"

#include <locale.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

#include "gateways/simora/frames.h"
#include "gateways/transport/tcp_transport.h"

namespace tsr {
namespace {

using namespace simora;

// "%g" of an IEEE single's bits, with "." whatever the program's locale.
std::string PrintSingle(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const locale_t previous = c ? uselocale(c) : static_cast<locale_t>(0);
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof(buffer), "%g", static_cast<double>(value));
    if (previous) uselocale(previous);
    if (n < 0) return {};
    return std::string(buffer, static_cast<size_t>(n) < sizeof(buffer) ? n : sizeof(buffer) - 1);
}

// The simulator is "known" once an exchange with its socket has worked, and forgotten when one
// fails (the simulation has ended); each exchange uses a connection of its own, so a restarted
// simulation is found again by the next one.
class SimoraFamily : public ConnectedFamily {
  public:
    explicit SimoraFamily(const SimoraOptions& options) : options_(options) {}

    int Connect(const GatewaySettings&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (known_) {
            if (const auto result = Exchange(kCheck, {})) return *result == kCheckAnswer ? 0 : -1;
            known_ = false;
        }
        const auto result = Exchange(kCheck, {});
        if (!result) return -1;
        known_ = true;
        return *result == kCheckAnswer ? 0 : -1;
    }

    // The simulator stays known: stopping only reports.
    bool Disconnect() override { return known_.load(); }

    bool IsConnected() const override { return known_.load(); }

    // No simulator known, a name that cannot travel (empty or longer than 255 bytes), or a failed
    // exchange: the item gets no value.
    std::string ReadItem(std::string_view item) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!known_ || item.empty() || item.size() > kMaxText) return {};
        const auto result = Exchange(kReadBehavior, item);
        if (!result) {
            known_ = false;
            return {};
        }
        return PrintSingle(*result);
    }

    void WriteItem(std::string_view item) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!known_ || item.size() > kMaxText) return;
        if (!Exchange(kWriteBehavior, item)) known_ = false;
    }

  private:
    // One request and its answer on a new connection; empty when any step fails.
    std::optional<uint32_t> Exchange(uint32_t wParam, std::string_view text) {
        const auto request = BuildRequest(wParam, text);
        if (!request) return std::nullopt;
        UnixConnection connection;
        if (connection.Connect(RuntimeSocketPath(kSimoraSocketName), options_.socketConnect) !=
            TransportError::None)
            return std::nullopt;
        // A socket of another user's program is not our simulation.
        const std::optional<uid_t> peer = connection.PeerUserId();
        if (!peer || !IsTrustedLocalUser(*peer, geteuid())) return std::nullopt;
        if (connection.SendAll(*request, options_.socketAnswer) != TransportError::None)
            return std::nullopt;
        std::array<uint8_t, kAnswerSize> answer{};
        if (connection.ReceiveExact(answer, options_.socketAnswer) != TransportError::None)
            return std::nullopt;
        return ParseAnswer(answer);
    }

    const SimoraOptions options_;
    std::mutex mutex_;  // the family lock, held for every whole operation
    std::atomic<bool> known_{false};
};

}  // namespace

std::unique_ptr<ConnectedFamily> MakeSimoraFamily(LogSink& log) {
    return MakeSimoraFamily(log, SimoraOptions{});
}

// The family logs nothing of its own: the lifecycle walks log its messages.
std::unique_ptr<ConnectedFamily> MakeSimoraFamily(LogSink&, const SimoraOptions& options) {
    return std::make_unique<SimoraFamily>(options);
}

}  // namespace tsr
