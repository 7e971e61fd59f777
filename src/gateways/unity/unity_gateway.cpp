#include "gateways/unity/unity_gateway.h"

#include <array>

#include "gateways/unity/names.h"

namespace tsr {
namespace {

constexpr int kTries = 3;
const char kReadError[] = "[err]";

}  // namespace

bool UnityFamily::Exchange(const unity::Bytes& payload, size_t expected, unity::Bytes* answer) {
    if (!tcp_.IsOpen()) return false;
    transaction_ = unity::NextTransaction(transaction_);
    const unity::Bytes frame = unity::BuildFrame(transaction_, payload);
    std::array<uint8_t, unity::kMaxAnswer> buffer;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        // A late answer to an earlier try or request must not be taken for this one.
        tcp_.DiscardPending();
        if (tcp_.SendAll(frame, options_.sendTimeout) != TransportError::None) return false;
        size_t received = 0;
        TransportError e = tcp_.ReceiveSome(buffer, &received, options_.receiveTimeout);
        if (e == TransportError::ReceiveTimeout) continue;
        if (e != TransportError::None) return false;  // the connection is gone
        unity::Answer a = unity::ParseAnswer(std::span<const uint8_t>(buffer.data(), received),
                                             transaction_, expected);
        if (a.error != unity::AnswerError::None) continue;
        *answer = std::move(a.payload);
        return true;
    }
    return false;
}

void UnityFamily::EndSession() {
    unity::Bytes ignored;
    Exchange(unity::EndPayload(), unity::kOpenAnswerSize, &ignored);
    tcp_.Close();
    connected_.store(false);
}

int UnityFamily::Connect(const GatewaySettings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    unity::Bytes answer;
    if (connected_.load()) {
        if (Exchange(unity::KeepAlivePayload(), unity::kKeepAliveAnswerSize, &answer)) return 0;
        EndSession();
        return -1;
    }
    TransportError e = tcp_.Connect(settings.ip, kUnityDefaultPort, options_.connectTimeout);
    if (e != TransportError::None)
        SetConnectFailure(ConnectFailureText(settings.ip, kUnityDefaultPort, e));
    if (e == TransportError::BadAddress || e == TransportError::Resolve) return -3;
    if (e != TransportError::None) return -2;
    if (!Exchange(unity::OpenPayload(), unity::kOpenAnswerSize, &answer) ||
        !Exchange(unity::IdentifyPayload(), unity::kOpenAnswerSize, &answer)) {
        // Closed now, so that the next retry starts from a fresh connection.
        tcp_.Close();
        SetConnectFailure(EndpointText(settings.ip, kUnityDefaultPort) +
                          ": no Unity or M340 answer to the session opening");
        return -1;
    }
    SetConnectFailure({});
    Exchange(unity::EndPayload(), unity::kOpenAnswerSize, &answer);
    connected_.store(true);
    return 0;
}

bool UnityFamily::Disconnect() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected_.load()) {
        tcp_.Close();
        return false;
    }
    EndSession();
    return true;
}

std::string UnityFamily::ReadItem(std::string_view item) {
    std::optional<unity::Variable> v = unity::ParseName(item);
    if (!v) return kReadError;
    std::optional<unity::Bytes> payload = unity::ReadPayload(*v);
    if (!payload) return kReadError;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected_.load()) return kReadError;
    unity::Bytes answer;
    if (!Exchange(*payload, unity::ReadAnswerSize(*v), &answer)) return kReadError;
    return unity::DecodeRead(*v, answer).value_or(kReadError);
}

void UnityFamily::WriteItem(std::string_view item) {
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) return;
    std::optional<unity::Variable> v = unity::ParseName(item.substr(0, eq));
    if (!v) return;
    std::optional<unity::Bytes> payload = unity::WritePayload(*v, item.substr(eq + 1));
    if (!payload) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected_.load()) return;
    unity::Bytes answer;
    Exchange(*payload, unity::WriteAnswerSize(*v), &answer);  // the result is not reported
}

std::unique_ptr<ConnectedFamily> MakeUnityFamily(LogSink&) {
    return std::make_unique<UnityFamily>();
}

}  // namespace tsr
