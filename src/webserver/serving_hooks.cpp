#include "webserver/serving_hooks.h"

#include "base/strings.h"

namespace tsr {

ServingHooks::ServingHooks(WebServer& server, std::function<void()> stopGateways,
                           std::function<void()> startGateways,
                           std::function<void(const std::string&)> showError)
    : server_(server),
      stopGateways_(std::move(stopGateways)),
      startGateways_(std::move(startGateways)),
      showError_(std::move(showError)) {}

void ServingHooks::ForceServing(std::optional<uint16_t> port, bool debug) {
    forced_ = true;
    forcedPort_ = port;
    forcedDebug_ = debug;
}

void ServingHooks::SetAccess(const ServerAccess& access) {
    listen_ = access.listen;
    server_.SetListenAddress(access.listen);
    server_.SetAccessPolicy(access.policy);
    accessError_.clear();
}

void ServingHooks::SetAccessError(std::string message) {
    accessError_ = std::move(message);
    accessErrorShown_ = false;
}

void ServingHooks::SetSecurity(std::shared_ptr<const TlsContext> tls,
                               std::shared_ptr<UserDirectory> users, bool anonymousRead,
                               std::string realm) {
    tls_ = std::move(tls);
    users_ = std::move(users);
    anonymousRead_ = anonymousRead;
    realm_ = std::move(realm);
    securityChanged_ = true;
    retryStart_ = true;  // a start that failed is tried again with the new settings
}

std::string ServingHooks::ApplyServerSettings(ServerSettings& s) {
    if (forced_) {
        s.on = true;
        if (forcedPort_) s.port = *forcedPort_;
        s.debugMessages = s.debugMessages || forcedDebug_;
    }
    server_.SetWebRoot(s.webRoot);
    server_.SetDebugMessages(s.debugMessages);
    if (!accessError_.empty() && s.on) {
        // Serving with rules other than the user's would be worse than not serving.
        s.on = false;
        if (!accessErrorShown_ && showError_) showError_(accessError_);
        accessErrorShown_ = true;
    }
    const bool running = server_.IsWebServerRunning();
    if (running && (!s.on || server_.WebServerPort() != s.port ||
                    server_.ListenAddress() != listen_ || securityChanged_))
        server_.StopWebServer();
    if (securityChanged_) {
        server_.SetTls(tls_);
        server_.SetSignIn(users_, anonymousRead_, realm_);
        securityChanged_ = false;
    }
    const auto attempt = std::make_pair(s.port, listen_);
    if (!s.on) failedStart_.reset();
    if (s.on && !server_.IsWebServerRunning() && (retryStart_ || failedStart_ != attempt)) {
        if (server_.StartWebServer(s.port, &address_) == 0) {
            failedStart_.reset();
        } else {
            failedStart_ = attempt;
            std::string text = LoadString(kMsgCannotCreateWebServer);
            if (!server_.StartFailure().empty()) text += "\n\n" + server_.StartFailure();
            if (showError_) showError_(text);
        }
    }
    retryStart_ = false;
    if (stopGateways_) stopGateways_();
    if (!server_.IsWebServerRunning()) return {};
    s.port = server_.ListeningPort();  // the port served on, for the title
    if (startGateways_) startGateways_();
    return server_.UsesTls() ? "https://" + address_ : address_;
}

void ServingHooks::SetTitle(const std::string& title) { title_ = title; }

}  // namespace tsr
