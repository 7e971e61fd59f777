// A device family for tests of the request scheduling: every read answers "v(<item>)" after a
// delay the test sets, or, when told to hang, answers "[err]" only when its time-out expires, as
// a controller that is switched off does. Every item it is given is recorded in order.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateways/families.h"

namespace tsr::sims {

class StandInFamily : public ConnectedFamily {
public:
    // Each exchange takes `delay`.
    void SetDelay(std::chrono::milliseconds delay) {
        std::lock_guard<std::mutex> lock(settings_);
        delay_ = delay;
        hang_ = false;
    }
    // Each exchange waits for an answer that never comes, until `timeout`, then fails.
    void SetHang(std::chrono::milliseconds timeout) {
        std::lock_guard<std::mutex> lock(settings_);
        delay_ = timeout;
        hang_ = true;
    }
    // The items given to the family so far, in the order it got them.
    std::vector<std::string> Seen() const {
        std::lock_guard<std::mutex> lock(settings_);
        return seen_;
    }
    // How many exchanges are running now (at most 1 when the family is used one at a time).
    int busiest() const { return busiest_; }

    int Connect(const GatewaySettings&) override { return 0; }
    bool Disconnect() override { return false; }
    bool IsConnected() const override { return true; }
    std::string ReadItem(std::string_view item) override {
        return Exchange(item) ? "v(" + std::string(item) + ")" : "[err]";
    }
    void WriteItem(std::string_view item) override { Exchange(item); }

private:
    bool Exchange(std::string_view item) {
        std::lock_guard<std::mutex> family(lock_);
        std::chrono::milliseconds delay;
        bool hang;
        {
            std::lock_guard<std::mutex> lock(settings_);
            seen_.emplace_back(item);
            delay = delay_;
            hang = hang_;
            busiest_ = std::max(busiest_, ++running_);
        }
        std::this_thread::sleep_for(delay);
        std::lock_guard<std::mutex> lock(settings_);
        --running_;
        return !hang;
    }

    mutable std::mutex settings_;
    std::mutex lock_;  // the family lock: one exchange at a time
    std::chrono::milliseconds delay_{0};
    bool hang_ = false;
    std::vector<std::string> seen_;
    int running_ = 0;
    int busiest_ = 0;
};

}  // namespace tsr::sims
