#include "gateways/transport/mqtt_client.h"

#include <mosquitto.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace tsr {
namespace {

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// A library result as the end of a log line: "connection refused", "not authorised".
std::string ReasonText(int rc, int savedErrno) {
    std::string text = rc == MOSQ_ERR_ERRNO ? std::strerror(savedErrno) : mosquitto_strerror(rc);
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && (text.size() < 2 || text[1] > 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

// A refused connection acknowledgement: "not authorised", "bad user name or password".
std::string RefusalText(int rc) {
    std::string text = mosquitto_connack_string(rc);
    const std::string refused = "Connection Refused: ";
    if (text.starts_with(refused)) text.erase(0, refused.size());
    while (!text.empty() && text.back() == '.') text.pop_back();
    return "refused, " + text;
}

}  // namespace

MqttClient::MqttClient(MqttClientSettings settings, OnMessage onMessage)
    : settings_(std::move(settings)), onMessage_(std::move(onMessage)) {}

MqttClient::~MqttClient() {
    Stop();
    if (handle_) mosquitto_destroy(handle_);
}

bool MqttClient::Start() {
    if (handle_) return true;
    InitLibrary();
    handle_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    if (!handle_) {
        Fail("the client cannot be made (" + ReasonText(MOSQ_ERR_ERRNO, errno) + ")");
        return false;
    }
    mosquitto_threaded_set(handle_, true);
    mosquitto_connect_callback_set(handle_, &MqttClient::HandleConnect);
    mosquitto_message_callback_set(handle_, &MqttClient::HandleMessage);
    mosquitto_publish_callback_set(handle_, &MqttClient::HandlePublish);
    int rc = MOSQ_ERR_SUCCESS;
    if (!settings_.username.empty())
        rc = mosquitto_username_pw_set(handle_, settings_.username.c_str(),
                                       settings_.password.empty() ? nullptr : settings_.password.c_str());
    // mqtts: the certificates the system trusts (OpenSSL's default paths, which SSL_CERT_FILE and
    // SSL_CERT_DIR may point elsewhere), the broker's name checked against its certificate.
    if (rc == MOSQ_ERR_SUCCESS && settings_.broker.tls)
        rc = mosquitto_int_option(handle_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    if (rc != MOSQ_ERR_SUCCESS) {
        Fail(ReasonText(rc, errno));
        return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void MqttClient::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    connected_ = false;
}

void MqttClient::Run() {
    std::chrono::milliseconds backoff = settings_.firstBackoff;
    const auto& broker = settings_.broker;
    while (true) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) break;
            outcome_ = false;
        }
        attemptFailed_ = false;
        int rc = mosquitto_connect_async(handle_, broker.host.c_str(), broker.port,
                                         static_cast<int>(settings_.keepAlive.count()));
        if (rc != MOSQ_ERR_SUCCESS) {
            Fail(ReasonText(rc, errno));
        } else {
            const auto start = std::chrono::steady_clock::now();
            while (true) {
                rc = mosquitto_loop(handle_, 100, 1);
                const int savedErrno = errno;
                bool stopping;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    stopping = stopping_;
                }
                if (stopping) break;
                if (rc != MOSQ_ERR_SUCCESS) {
                    if (connected_.exchange(false)) backoff = settings_.firstBackoff;
                    if (!attemptFailed_) Fail(ReasonText(rc, savedErrno));
                    break;
                }
                if (!connected_ && std::chrono::steady_clock::now() - start > settings_.connectTimeout) {
                    if (!attemptFailed_) Fail("no answer from the broker");
                    break;
                }
            }
        }
        if (!Pause(backoff)) break;
        backoff = std::min(backoff * 2, settings_.longestBackoff);
    }
    if (connected_.exchange(false)) {
        // A clean end: the broker forgets the session at once.
        mosquitto_disconnect(handle_);
        for (int i = 0; i < 3 && mosquitto_loop(handle_, 20, 1) == MOSQ_ERR_SUCCESS; ++i) {
        }
    }
}

bool MqttClient::Pause(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, wait, [this] { return stopping_; });
    return !stopping_;
}

void MqttClient::Fail(std::string reason) {
    attemptFailed_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = Endpoint() + ": " + reason;
        outcome_ = true;
    }
    changed_.notify_all();
}

std::string MqttClient::Failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connected_ ? std::string() : failure_;
}

bool MqttClient::WaitOutcome(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, wait, [this] { return outcome_ || stopping_; });
    return connected_.load();
}

void MqttClient::HandleConnect(mosquitto* handle, void* self, int rc) {
    auto& client = *static_cast<MqttClient*>(self);
    if (rc != 0) {
        client.Fail(RefusalText(rc));
        return;
    }
    client.connected_ = true;
    client.outstanding_ = 0;
    ++client.connections_;
    std::vector<std::string> topics;
    {
        std::lock_guard<std::mutex> lock(client.mutex_);
        client.failure_.clear();
        client.outcome_ = true;
        topics.assign(client.topics_.begin(), client.topics_.end());
    }
    client.changed_.notify_all();
    for (const std::string& topic : topics) mosquitto_subscribe(handle, nullptr, topic.c_str(), 1);
}

void MqttClient::HandleMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto& client = *static_cast<MqttClient*>(self);
    if (!message || !message->topic || message->payloadlen < 0) return;
    const size_t size = static_cast<size_t>(message->payloadlen);
    if (size > mqtt::kMaxPayload) {
        ++client.oversized_;
        return;
    }
    const std::string_view payload(size ? static_cast<const char*>(message->payload) : "", size);
    if (client.onMessage_) client.onMessage_(message->topic, payload);
}

void MqttClient::HandlePublish(mosquitto*, void* self, int) {
    auto& client = *static_cast<MqttClient*>(self);
    int now = client.outstanding_.load();
    while (now > 0 && !client.outstanding_.compare_exchange_weak(now, now - 1)) {
    }
}

void MqttClient::Subscribe(const std::string& topic) {
    bool added;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        added = topics_.insert(topic).second;
    }
    if (added && connected_ && handle_) mosquitto_subscribe(handle_, nullptr, topic.c_str(), 1);
}

bool MqttClient::Publish(const std::string& topic, std::string_view payload, int qos, bool retain) {
    if (!handle_ || !connected_ || payload.size() > INT_MAX) return false;
    if (outstanding_.load() >= settings_.maxOutstanding) return false;
    if (mosquitto_publish(handle_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), qos, retain) != MOSQ_ERR_SUCCESS)
        return false;
    ++outstanding_;
    return true;
}

}  // namespace tsr
