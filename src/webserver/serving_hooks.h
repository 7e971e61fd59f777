// The part of a generation pass that concerns the web server: starting, restarting or stopping
// it from the project's settings, and restarting the gateways.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "generator/generator.h"
#include "webserver/server.h"

namespace tsr {

class ServingHooks : public GenerationHooks {
public:
    // `stopGateways` / `startGateways` run after the server step (start only when it runs);
    // `showError` receives the message when the server cannot be started.
    ServingHooks(WebServer& server, std::function<void()> stopGateways,
                 std::function<void()> startGateways,
                 std::function<void(const std::string&)> showError);

    // Serving from the command line: the server runs whatever the project's switch says, on
    // `port` when given, with debug lines when `debug` is set.
    void ForceServing(std::optional<uint16_t> port, bool debug);

    // The listen address and the access lists: the lists apply at once, the address from the
    // next generation pass (which restarts a running server on another address).
    void SetAccess(const ServerAccess& access);
    // The access settings are wrong: the server is stopped and not started again; `message`
    // goes to `showError` once, at the next generation pass.
    void SetAccessError(std::string message);

    // Sign-in and HTTPS: applied at the next generation pass, which restarts a running server
    // with them. The title then shows the https address.
    void SetSecurity(std::shared_ptr<const TlsContext> tls, std::shared_ptr<UserDirectory> users,
                     bool anonymousRead, std::string realm);

    // Starts, restarts or stops the server as GenerationHooks says. A start that fails shows
    // "Cannot create web server, please check the port number" followed by the reason, and is
    // not tried again for the same port and address until RetryServerStart is called or the
    // settings change: an edit of something else neither retries nor shows the message again.
    std::string ApplyServerSettings(ServerSettings& settings) override;

    // The next pass tries to start the server even with the settings of the last failed start
    // (the user set the switch or the port again).
    void RetryServerStart() { retryStart_ = true; }
    void SetTitle(const std::string& title) override;
    const std::string& title() const { return title_; }

private:
    WebServer& server_;
    std::function<void()> stopGateways_, startGateways_;
    std::function<void(const std::string&)> showError_;
    bool forced_ = false;
    std::optional<uint16_t> forcedPort_;
    bool forcedDebug_ = false;
    std::optional<IpAddress> listen_;
    std::string accessError_;
    bool accessErrorShown_ = false;
    std::string address_;
    std::shared_ptr<const TlsContext> tls_;
    std::shared_ptr<UserDirectory> users_;
    bool anonymousRead_ = false;
    std::string realm_;
    bool securityChanged_ = false;
    std::string title_;
    // The port and address of the last start that failed, while the switch stays on.
    std::optional<std::pair<uint16_t, std::optional<IpAddress>>> failedStart_;
    bool retryStart_ = false;
};

}  // namespace tsr
