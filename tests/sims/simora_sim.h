// The Simora simulator stand-in: the socket "CIrrDeviceWin32" in the runtime directory, answering
// the check 2345 with 9876, a read 256 with the IEEE single bits of the named behavior, and taking
// a write 512 "name=value" into its behaviors.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "unix_sim_server.h"

namespace tsr::sims {

class SimoraSim {
  public:
    SimoraSim();
    ~SimoraSim() { Stop(); }

    // Listens on the simulator socket of the runtime directory ($XDG_RUNTIME_DIR, else /tmp).
    bool Start();
    void Stop();
    bool IsRunning() const { return server_.IsRunning(); }

    // A behavior's value; an unknown behavior reads 0.
    void SetBehavior(const std::string& name, float value);
    std::optional<float> Behavior(const std::string& name) const;
    // The texts of every write request received, in order.
    std::vector<std::string> Writes() const;
    // Requests received with `wParam`.
    int Requests(uint32_t wParam) const;

#ifdef TESSORA_SIM_FAULTS
    // Faults: the check answers 0 instead of 9876 (the simulation is not running); nothing is
    // answered at all (a hung simulator).
    void SetReady(bool ready) { ready_.store(ready); }
    void SetSilent(bool silent) { silent_.store(silent); }
#endif  // TESSORA_SIM_FAULTS

  private:
    void Serve(int fd, const std::atomic<bool>& stopping);
    uint32_t Answer(uint32_t wParam, const std::string& text);

    mutable std::mutex mutex_;  // guards the behaviors, writes and counts
    std::map<std::string, float> behaviors_;
    std::vector<std::string> writes_;
    std::map<uint32_t, int> requests_;
    std::atomic<bool> ready_{true};
    std::atomic<bool> silent_{false};
    UnixSimServer server_;
};

}  // namespace tsr::sims
