// The integrated web server: serves the output directory to browsers (HTTP/1.0, one request per
// connection) and relays the pages' POST requests to the gateway families.
//
// One serving thread waits in poll() on the listening socket, the clients and a wake-up pipe.
// Each connection moves through: waiting for its request -> (a POST body still to come) ->
// (a gateway request: waiting for its family's worker) -> sending its answer -> half-closed,
// lingering until the peer closes; or, after a WebSocket handshake, held open until the peer
// closes or the server stops. A client that sends nothing, or reads slowly, never holds up
// another; a device that does not answer holds up only its own family's requests.
//
// Slots of ended connections are freed before new connections are accepted; while all slots
// are taken, new connections wait in the listen backlog. A connection that sends nothing within
// the idle time-out (5 s) is closed, and WebSocket connections may hold at most
// kMaxWebSockets slots, so idle clients cannot lock phones out. Files are served only from
// inside the site; small ones are kept in memory between generations, large ones are streamed
// from disk with sendfile.
//
// Access: the server listens on every local IPv4 address unless a listen address is set. A client
// outside the `allow` list is answered "403 Forbidden" as soon as it connects and nothing it sends
// is read; the write items of a client outside `write-allow` are not carried out while its read
// items are answered as usual. Both are logged in red, at most once per client per minute.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "base/log_sink.h"
#include "base/strings.h"
#include "gateways/families.h"
#include "webserver/access_rules.h"
#include "webserver/file_store.h"
#include "webserver/request.h"
#include "webserver/shared_reads.h"
#include "webserver/sign_in.h"
#include "webserver/tls.h"

namespace tsr {

// Result codes of StartWebServer.
enum WebServerError : int {
    kServerNoSocketLibrary = -1,  // kept for callers; cannot happen on POSIX
    kServerCannotListen = -2,     // the socket cannot be created, bound or put into listening
    kServerNoThread = -3,         // the serving thread cannot be started
};

// The machine's first non-loopback IPv4 address as dotted text, else "127.0.0.1".
std::string HostAddress();

// Why the listening socket could not be made on `port` after the system error `error`: a port
// below 1024 that needs privileges, a port in use, or the system's text.
std::string StartFailureReason(uint16_t port, int error, Language language);

class WebServer {
public:
    static constexpr int kSlotCount = 128;
    static constexpr size_t kBufferSize = 100000;
    // Upgraded WebSocket connections held at once; a further upgrade is closed unanswered.
    static constexpr int kMaxWebSockets = 32;

    // `log` receives the debug lines (when switched on); `routes` are the gateway families.
    explicit WebServer(LogSink& log, GatewayRoutes routes = {});
    ~WebServer();  // stops a running server
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens on `port` (0 picks a free port, see ListeningPort) on the listen address (every
    // local IPv4 address when none is set) and starts the serving thread. Returns 0,
    // kServerCannotListen or kServerNoThread; `hostAddressOut` receives ServedAddress() on
    // success.
    int StartWebServer(uint16_t port, std::string* hostAddressOut = nullptr);

    // The address the next StartWebServer listens on; nullopt: every local IPv4 address. An
    // unspecified address ("::") listens on every IPv6 and IPv4 address.
    void SetListenAddress(std::optional<IpAddress> address);
    // The listen address given to the last StartWebServer.
    std::optional<IpAddress> ListenAddress() const;
    // The address a browser uses to reach the server, for titles and log lines: the listen
    // address ("[...]" for IPv6), or HostAddress() when the server listens on every address.
    std::string ServedAddress() const;
    // Who may connect and whose write items are carried out; takes effect at the next
    // connection. The default allows everyone.
    void SetAccessPolicy(AccessPolicy policy);

    // Stops the serving thread, sends the close frame to every WebSocket client and closes every
    // connection. Returns 0; does nothing when the server is not running.
    int StopWebServer();

    bool IsWebServerRunning() const { return running_.load(); }
    // The port given to the last StartWebServer.
    uint16_t WebServerPort() const { return port_.load(); }
    // The port actually listened on while running (useful when 0 was asked).
    uint16_t ListeningPort() const { return listeningPort_.load(); }
    // Why the last StartWebServer could not listen (also logged in red); empty after a start
    // that could.
    const std::string& StartFailure() const { return startFailure_; }

    // The directory served (ends with '/'), and whether request lines go to the log. Both may
    // change while the server runs.
    void SetWebRoot(const std::string& webRoot);
    void SetDebugMessages(bool on) { debugMessages_.store(on); }
    void SetRoutes(const GatewayRoutes& routes);
    // How old a value read from a device may be when it answers another request from memory;
    // zero: every read item is one exchange with the device. Default kDefaultMaxAge (200 ms).
    // Takes effect at once, also while the server runs.
    void SetMaxAge(std::chrono::milliseconds maxAge);
    std::chrono::milliseconds MaxAge() const;

    // Sign-in. With `users`, every request needs a valid user given with the browser's Basic
    // sign-in: viewers load the pages and read, operators also write (a request with a write
    // item, or to /SQL, /DLL or /PRN, from anyone else answers 403 and nothing of it is carried
    // out); without credentials the answer is 401 with a challenge naming `realm`, unless
    // `anonymousRead` lets anyone read. After 5 failed sign-ins within a minute an address is
    // answered 429 for a minute. Null `users`: no sign-in. Takes effect at the next start.
    void SetSignIn(std::shared_ptr<UserDirectory> users, bool anonymousRead, std::string realm);
    // HTTPS with `tls` from the next start; null: plain HTTP.
    void SetTls(std::shared_ptr<const TlsContext> tls);
    bool UsesTls() const;

    // How long a POST whose headers announce a body waits for it, and how long an answered
    // connection waits for the peer to close before it is closed anyway.
    void SetTimeouts(std::chrono::milliseconds bodyWait, std::chrono::milliseconds linger);
    // How long an accepted connection may stay without sending its request (default 5 s).
    void SetIdleTimeout(std::chrono::milliseconds idle);

    // Builds the answer to one complete request from a client at `clientAddress` (network byte
    // order): 1 = `answer` holds the answer (empty: none is sent) and the connection closes after
    // it; 2 = a WebSocket handshake answer, the connection stays open.
    int HandleRequest(std::string_view request, uint32_t clientAddress, std::string& answer);
    // The same for a client at any address; a client outside `allow` gets kForbiddenAnswer.
    int HandleRequest(std::string_view request, const IpAddress& client, std::string& answer);

private:
    int StartFailed(uint16_t port, int error);
    struct Slot;
    struct FileAnswer;
    struct PostRequest;
    class Workers;
    struct DevicePost;
    // What a request's sender may do: nothing yet (401), read without signing in, read, write.
    enum class Access { None, Anonymous, Viewer, Operator };
    std::shared_ptr<UserDirectory> SignIn() const;
    std::shared_ptr<const TlsContext> Tls() const;
    std::string UnauthorizedAnswer() const;
    bool LockedOut(const IpAddress& client);
    // The access of a sender whose credentials are `known` (none given: nullopt); counts a
    // failed sign-in.
    Access AccessOf(const IpAddress& client, std::optional<UserDirectory::Known> known);
    void Serve();
    // The answer to a GET: kept bytes, or a header followed by an open file to stream.
    FileAnswer AnswerGet(std::string_view request, const IpAddress& client);
    // Parses a POST into what its family's worker needs; nullopt for an unknown route.
    std::optional<PostRequest> ParsePost(std::string_view request, const IpAddress& client);
    // Runs a parsed /PRN, /SQL or /DLL POST and builds the whole answer.
    std::string RunPost(const PostRequest& post);
    // The items a device POST hands to its family's worker, and how its answer is built.
    DevicePost PrepareDevicePost(const PostRequest& post);
    void Log(const std::string& text, unsigned colour);
    // Logs `text` in red whatever the debug switch says, unless a line about `client` was
    // logged less than a minute ago.
    void LogRefusal(const IpAddress& client, const std::string& text);
    std::shared_ptr<const AccessPolicy> Policy();

    LogSink& log_;
    mutable std::mutex settingsMutex_;
    GatewayRoutes routes_;
    std::string webRoot_;
    std::chrono::milliseconds bodyWait_{500};
    std::chrono::milliseconds linger_{2000};
    std::chrono::milliseconds idle_{5000};
    std::chrono::milliseconds maxAge_{kDefaultMaxAge};
    std::shared_ptr<UserDirectory> signIn_;
    bool anonymousRead_ = false;
    std::string realm_ = "Tessora";
    std::shared_ptr<const TlsContext> tls_;
    std::mutex signInMutex_;
    SignInLimiter signInLimiter_;
    FileCache files_;
    std::optional<IpAddress> listenAddress_;         // for the next start
    std::optional<IpAddress> startedListenAddress_;  // of the last start
    std::shared_ptr<const AccessPolicy> policy_ = std::make_shared<AccessPolicy>();
    std::mutex refusalMutex_;
    PerClientLimiter refusals_;
    std::atomic<bool> debugMessages_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<uint16_t> port_{0};
    std::atomic<uint16_t> listeningPort_{0};
    std::string startFailure_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::thread thread_;
    std::unique_ptr<Workers> workers_;
};

}  // namespace tsr
