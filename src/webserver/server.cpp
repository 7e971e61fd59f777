#include "webserver/server.h"

#include "base/strings.h"
#include "base/text.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "platform/fs.h"
#include "webserver/request.h"
#include "webserver/request_worker.h"
#include "webserver/shared_reads.h"
#include "webserver/sign_in.h"
#include "webserver/tls.h"
#include "webserver/websocket.h"

namespace tsr {
namespace {

using Clock = std::chrono::steady_clock;

std::string AddressText(const IpAddress& address) { return address.Text(); }

bool IsUnspecified(const IpAddress& a) {
    static const IpAddress anyV6{};
    return a == anyV6 || a == IpAddress::FromIpv4(0);
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               Clock::now().time_since_epoch())
        .count();
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

// Sends all of `data` on a blocking-capable socket, retrying while it would block (used only for
// the two-byte close frames at stop).
void SendAll(int fd, std::string_view data) {
    size_t done = 0;
    for (int tries = 0; done < data.size() && tries < 1000; ++tries) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            usleep(1000);
        } else {
            return;
        }
    }
}

// Reads from a connection, through its TLS session when it has one: > 0 bytes, 0 when the peer
// closed, -1 with errno set (EAGAIN: again once `*want` is ready).
ssize_t ReadSome(int fd, SSL* ssl, char* data, size_t size, short* want) {
    *want = 0;
    if (!ssl) return recv(fd, data, size, 0);
    ERR_clear_error();
    const int n = SSL_read(ssl, data, static_cast<int>(std::min<size_t>(size, 1 << 30)));
    if (n > 0) return n;
    switch (SSL_get_error(ssl, n)) {
        case SSL_ERROR_WANT_READ: *want = POLLIN; errno = EAGAIN; return -1;
        case SSL_ERROR_WANT_WRITE: *want = POLLOUT; errno = EAGAIN; return -1;
        case SSL_ERROR_ZERO_RETURN: return 0;
        default: errno = ECONNRESET; return -1;
    }
}

// Writes to a connection as ReadSome reads.
ssize_t WriteSome(int fd, SSL* ssl, const char* data, size_t size, short* want) {
    *want = 0;
    if (!ssl) return send(fd, data, size, MSG_NOSIGNAL);
    ERR_clear_error();
    const int n = SSL_write(ssl, data, static_cast<int>(std::min<size_t>(size, 1 << 30)));
    if (n > 0) return n;
    switch (SSL_get_error(ssl, n)) {
        case SSL_ERROR_WANT_READ: *want = POLLIN; errno = EAGAIN; return -1;
        case SSL_ERROR_WANT_WRITE: *want = POLLOUT; errno = EAGAIN; return -1;
        default: errno = ECONNRESET; return -1;
    }
}

// A whole answer with a status line of its own, `extra` header lines (each ending "\r\n") and a
// short text body.
std::string StatusAnswer(std::string_view status, std::string_view extra, std::string_view body) {
    return "HTTP/1.0 " + std::string(status) + "\r\n" + std::string(extra) +
           "Content-Length: " + std::to_string(body.size()) +
           "\r\nContent-Type: text/html\r\nCache-Control: no-cache, no-store\r\n\r\n" +
           std::string(body);
}

// The answer to a client locked out after too many failed sign-ins.
constexpr std::string_view kTooManySignInsAnswer =
    "HTTP/1.0 429 Too Many Requests\r\nRetry-After: 60\r\nContent-Length: 62\r\n"
    "Content-Type: text/html\r\n\r\n"
    "<html><head><title>429 Too Many Requests</title></head></html>";

// True when a POST may change something: a device request with a write item, or a request of
// the database, printer or user library routes.
bool NeedsOperator(Route route, std::string_view payload) {
    if (route == Route::Printer || route == Route::Sql || route == Route::Dll) return true;
    for (std::string_view item : SplitItems(payload))
        if (IsWriteItem(item)) return true;
    return false;
}

// The first bytes of a connection to the HTTPS port look like plain HTTP ("GET ", "POST "…) and
// not like a TLS handshake record (which begins with 0x16).
bool LooksLikePlainHttp(std::string_view first) {
    if (first.empty() || static_cast<unsigned char>(first[0]) == 0x16) return false;
    return std::all_of(first.begin(), first.end(), [](char c) { return c >= 'A' && c <= 'Z'; }) ||
           first.find(' ') != std::string_view::npos;
}

}  // namespace

std::string HostAddress() {
    ifaddrs* list = nullptr;
    std::string found = "127.0.0.1";
    if (getifaddrs(&list) != 0) return found;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (i->ifa_flags & IFF_LOOPBACK) continue;
        char text[INET_ADDRSTRLEN];
        const auto* in = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) {
            found = text;
            break;
        }
    }
    freeifaddrs(list);
    return found;
}


// One client connection, owned by the serving thread.
struct WebServer::Slot {
    enum class State { Free, Handshake, Waiting, AwaitingBody, Working, Sending, Lingering, WebSocket };
    State state = State::Free;
    int fd = -1;
    SSL* ssl = nullptr;      // the TLS session of an HTTPS connection
    short tlsWant = 0;       // what the session waits for (POLLIN or POLLOUT), 0: nothing
    bool refused = false;    // outside `allow`: answered 403 once the TLS handshake is done
    std::string chunk;       // HTTPS: the bytes of a streamed file being written
    size_t chunkSent = 0;
    bool signingIn = false;  // the request waits for its credentials to be checked
    std::string pending;     // that request
    IpAddress address;
    std::string in;
    // What is sent: `out` (own bytes) or `shared` (a kept file answer), then `file` from
    // `fileOffset` to `fileEnd`.
    std::string out;
    std::shared_ptr<const std::string> shared;
    size_t sent = 0;
    int file = -1;
    off_t fileOffset = 0;
    off_t fileEnd = 0;
    bool upgradeAfterSend = false;
    uint64_t job = 0;  // the gateway request being worked on (Working)
    std::shared_ptr<std::atomic<bool>> cancelled;
    Clock::time_point deadline{};

    std::string_view Bytes() const { return shared ? std::string_view(*shared) : out; }

    void Close() {
        if (ssl) SSL_free(ssl);
        ssl = nullptr;
        tlsWant = 0;
        refused = signingIn = false;
        std::string().swap(chunk);
        std::string().swap(pending);
        chunkSent = 0;
        if (fd >= 0) close(fd);
        if (file >= 0) close(file);
        if (cancelled) cancelled->store(true);  // a queued gateway request is not carried out
        fd = file = -1;
        state = State::Free;
        // Buffers go back to their normal size after a large request or answer.
        std::string().swap(in);
        std::string().swap(out);
        shared.reset();
        cancelled.reset();
        sent = 0;
        fileOffset = fileEnd = 0;
        upgradeAfterSend = false;
    }
};

struct WebServer::FileAnswer {
    std::string own;                              // header (and content when not kept)
    std::shared_ptr<const std::string> kept;      // or a kept whole answer
    int file = -1;                                // then the file's bytes to stream
    off_t size = 0;
};

struct WebServer::PostRequest {
    Route route = Route::None;
    std::string payload;
    std::string body;
    bool hasBlankLine = false;
    std::string client;
    IpAddress clientAddress;
    bool mayWrite = true;  // the client is inside `write-allow`
    GatewayRoutes routes;
};

struct WebServer::DevicePost {
    DeviceFamily* family = nullptr;
    std::string channel;  // the device connection of the first item (DeviceFamily::Channel)
    std::vector<std::string> items;  // write items of a client outside `write-allow` left out
    DeviceWorker::Finish finish;
};

namespace {

// Device connections of one route that get a worker of their own; the requests of further ones
// share the route's first worker.
constexpr size_t kMaxChannels = 16;

// Below this many open connections the server accepts one new connection per wake-up.
constexpr size_t kQuietConnections = 4;

// The device routes, /CVN to /MQ, each with a worker of its own (per device connection).
constexpr size_t kDeviceRoutes =
    static_cast<size_t>(Route::Mqtt) - static_cast<size_t>(Route::Corvane) + 1;
bool IsDeviceRoute(Route route) { return route >= Route::Corvane && route <= Route::Mqtt; }
size_t DeviceIndex(Route route) {
    return static_cast<size_t>(route) - static_cast<size_t>(Route::Corvane);
}

}  // namespace

// The workers of the gateway families, and the answers they have finished for the serving
// thread to send. The services (/PRN, /SQL, /DLL) run whole requests one at a time; the device
// families share their reads among the requests that wait together.
class WebServer::Workers {
public:
    struct Finished {
        int slot;
        uint64_t id;
        std::string answer;
    };

    Workers(int wakeFd, std::chrono::milliseconds maxAge) : wakeFd_(wakeFd) {
        auto done = [this](int slot, uint64_t id, std::string answer) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                finished_.push_back({slot, id, std::move(answer)});
            }
            char byte = 2;
            (void)!write(wakeFd_, &byte, 1);
        };
        for (auto& w : services_) w = std::make_unique<RequestWorker>(kSlotCount, done);
        signIn_ = std::make_unique<RequestWorker>(kSlotCount, done);
        done_ = done;
        maxAge_ = maxAge;
        for (auto& route : devices_) route[""] = MakeDevice();
    }
    // The worker that checks passwords, one at a time (each check takes tens of megabytes).
    RequestWorker& SignIn() { return *signIn_; }
    // The worker of a service route (/PRN, /SQL, /DLL).
    RequestWorker& Service(Route route) {
        return *services_[static_cast<size_t>(route) - static_cast<size_t>(Route::Printer)];
    }
    // The worker of a device route for the device connection `channel`, made at its first
    // request.
    DeviceWorker& Device(Route route, const std::string& channel) {
        std::lock_guard<std::mutex> lock(devicesMutex_);
        auto& workers = devices_[DeviceIndex(route)];
        auto it = workers.find(channel);
        if (it != workers.end()) return *it->second;
        if (workers.size() >= kMaxChannels) return *workers[""];
        return *(workers[channel] = MakeDevice());
    }
    void SetMaxAge(std::chrono::milliseconds maxAge) {
        std::lock_guard<std::mutex> lock(devicesMutex_);
        maxAge_ = maxAge;
        for (auto& route : devices_)
            for (auto& [channel, w] : route) w->SetMaxAge(maxAge);
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(devicesMutex_);
        for (auto& route : devices_)
            for (auto& [channel, w] : route) w->Forget();
    }
    std::vector<Finished> TakeFinished() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Finished> out;
        out.swap(finished_);
        return out;
    }
    void Stop() {
        for (auto& w : services_) w->Stop();
        signIn_->Stop();
        std::lock_guard<std::mutex> lock(devicesMutex_);
        for (auto& route : devices_)
            for (auto& [channel, w] : route) w->Stop();
    }

private:
    std::unique_ptr<DeviceWorker> MakeDevice() {
        return std::make_unique<DeviceWorker>(kSlotCount, maxAge_, kBufferSize, done_);
    }

    int wakeFd_;
    RequestWorker::Done done_;
    std::chrono::milliseconds maxAge_;
    std::array<std::unique_ptr<RequestWorker>, 3> services_;
    std::unique_ptr<RequestWorker> signIn_;
    std::mutex devicesMutex_;
    std::array<std::map<std::string, std::unique_ptr<DeviceWorker>>, kDeviceRoutes> devices_;
    std::mutex mutex_;
    std::vector<Finished> finished_;
};

WebServer::WebServer(LogSink& log, GatewayRoutes routes) : log_(log), routes_(routes) {}

WebServer::~WebServer() { StopWebServer(); }

void WebServer::SetWebRoot(const std::string& webRoot) {
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        webRoot_ = webRoot;
    }
    files_.Invalidate();  // a generation pass has written the site
}

void WebServer::SetRoutes(const GatewayRoutes& routes) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    routes_ = routes;
    if (workers_) workers_->Forget();  // values kept from the families replaced
}

void WebServer::SetMaxAge(std::chrono::milliseconds maxAge) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    maxAge_ = std::max(maxAge, std::chrono::milliseconds(0));
    if (workers_) workers_->SetMaxAge(maxAge_);
}

void WebServer::SetSignIn(std::shared_ptr<UserDirectory> users, bool anonymousRead,
                          std::string realm) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    signIn_ = std::move(users);
    anonymousRead_ = anonymousRead;
    // The realm travels in a quoted header value.
    std::erase_if(realm, [](char c) { return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20; });
    realm_ = realm.empty() ? "Tessora" : realm;
}

void WebServer::SetTls(std::shared_ptr<const TlsContext> tls) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    tls_ = std::move(tls);
}

bool WebServer::UsesTls() const {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return tls_ != nullptr;
}

std::shared_ptr<UserDirectory> WebServer::SignIn() const {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return signIn_;
}

std::shared_ptr<const TlsContext> WebServer::Tls() const {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return tls_;
}

std::string WebServer::UnauthorizedAnswer() const {
    std::string realm;
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        realm = realm_;
    }
    return StatusAnswer("401 Unauthorized",
                        "WWW-Authenticate: Basic realm=\"" + realm + "\", charset=\"UTF-8\"\r\n",
                        "<html><head><title>401 Unauthorized</title></head>"
                        "<body>Sign in to use this panel.</body></html>");
}

bool WebServer::LockedOut(const IpAddress& client) {
    std::lock_guard<std::mutex> lock(signInMutex_);
    return signInLimiter_.Locked(client, Clock::now());
}

WebServer::Access WebServer::AccessOf(const IpAddress& client,
                                      std::optional<UserDirectory::Known> known) {
    bool anonymousRead;
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        anonymousRead = anonymousRead_;
    }
    if (!known) return anonymousRead ? Access::Anonymous : Access::None;
    switch (*known) {
        case UserDirectory::Known::Operator: return Access::Operator;
        case UserDirectory::Known::Viewer: return Access::Viewer;
        default: break;
    }
    bool locked;
    {
        std::lock_guard<std::mutex> lock(signInMutex_);
        locked = signInLimiter_.Failed(client, Clock::now());
    }
    if (locked)
        log_.LogText(EscapeControls("Webserver : sign-in from IP(" + AddressText(client) +
                                    ") failed 5 times within a minute, refused for a minute"),
                     kLogRed);
    return Access::None;
}

std::chrono::milliseconds WebServer::MaxAge() const {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return maxAge_;
}

void WebServer::SetTimeouts(std::chrono::milliseconds bodyWait, std::chrono::milliseconds linger) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    bodyWait_ = bodyWait;
    linger_ = linger;
}

void WebServer::SetIdleTimeout(std::chrono::milliseconds idle) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    idle_ = idle;
}

void WebServer::Log(const std::string& text, unsigned colour) {
    if (debugMessages_.load()) log_.LogText(EscapeControls(text), colour);
}

std::string StartFailureReason(uint16_t port, int error, Language language) {
    std::string text;
    if ((error == EACCES || error == EPERM) && port < 1024) {
        text = LoadString(kTextServerPortPrivileged, language);
    } else if (error == EADDRINUSE) {
        text = LoadString(kTextServerPortInUse, language);
    } else {
        text = LoadString(kTextServerCannotListen, language);
        const size_t at = text.find("%e");
        if (at != std::string::npos) text.replace(at, 2, strerror(error));
    }
    const size_t at = text.find("%u");
    if (at != std::string::npos) text.replace(at, 2, std::to_string(port));
    return text;
}

int WebServer::StartFailed(uint16_t port, int error) {
    startFailure_ = StartFailureReason(port, error, SystemLanguage());
    log_.LogText(startFailure_, kLogRed);
    return kServerCannotListen;
}

void WebServer::LogRefusal(const IpAddress& client, const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(refusalMutex_);
        if (!refusals_.ShouldLog(client, NowMs())) return;
    }
    log_.LogText(EscapeControls(text), kLogRed);
}

std::shared_ptr<const AccessPolicy> WebServer::Policy() {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return policy_;
}

void WebServer::SetAccessPolicy(AccessPolicy policy) {
    auto kept = std::make_shared<const AccessPolicy>(std::move(policy));
    std::lock_guard<std::mutex> lock(settingsMutex_);
    policy_ = std::move(kept);
}

void WebServer::SetListenAddress(std::optional<IpAddress> address) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    listenAddress_ = address;
}

std::optional<IpAddress> WebServer::ListenAddress() const {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    return startedListenAddress_;
}

std::string WebServer::ServedAddress() const {
    const std::optional<IpAddress> listen = ListenAddress();
    if (!listen || IsUnspecified(*listen)) return HostAddress();
    return listen->IsIpv4() ? listen->Text() : "[" + listen->Text() + "]";
}

int WebServer::StartWebServer(uint16_t port, std::string* hostAddressOut) {
    startFailure_.clear();
    if (running_.load()) StopWebServer();
    port_.store(port);
    std::optional<IpAddress> listenAddress;
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        listenAddress = startedListenAddress_ = listenAddress_;
    }
    // IPv4 (every address, as by default, or one) on an AF_INET socket; IPv6 on an AF_INET6
    // socket, which for "::" takes IPv4 clients too (they arrive as ::ffff:a.b.c.d).
    const bool v6 = listenAddress && !listenAddress->IsIpv4();
    int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return StartFailed(port, errno);
    int on = 1, off = 0;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Answers go out whole, without waiting for the peer's acknowledgements; accepted
    // connections inherit the option, which saves a system call per request.
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_storage storage{};
    socklen_t len;
    if (v6) {
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&storage);
        a6->sin6_family = AF_INET6;
        std::memcpy(&a6->sin6_addr, listenAddress->bytes.data(), 16);
        a6->sin6_port = htons(port);
        len = sizeof *a6;
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&storage);
        a4->sin_family = AF_INET;
        if (listenAddress) {
            std::memcpy(&a4->sin_addr.s_addr, listenAddress->bytes.data() + 12, 4);
        } else {
            a4->sin_addr.s_addr = htonl(INADDR_ANY);
        }
        a4->sin_port = htons(port);
        len = sizeof *a4;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&storage), len) != 0 || listen(fd, 128) != 0) {
        const int why = errno;
        close(fd);
        return StartFailed(port, why);
    }
    len = sizeof storage;
    getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &len);
    listeningPort_.store(ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                  : reinterpret_cast<sockaddr_in*>(&storage)->sin_port));
    if (pipe2(wakePipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
        close(fd);
        return kServerNoThread;
    }
    listenFd_ = fd;
    stopRequested_.store(false);
    try {
        workers_ = std::make_unique<Workers>(wakePipe_[1], MaxAge());
        thread_ = std::thread(&WebServer::Serve, this);
    } catch (...) {
        if (workers_) workers_->Stop();
        workers_.reset();
        close(listenFd_);
        close(wakePipe_[0]);
        close(wakePipe_[1]);
        listenFd_ = wakePipe_[0] = wakePipe_[1] = -1;
        return kServerNoThread;
    }
    if (hostAddressOut) *hostAddressOut = ServedAddress();
    running_.store(true);
    return 0;
}

int WebServer::StopWebServer() {
    if (!thread_.joinable()) return 0;
    running_.store(false);
    stopRequested_.store(true);
    char byte = 1;
    (void)!write(wakePipe_[1], &byte, 1);
    thread_.join();
    // A family in the middle of an exchange finishes it within that exchange's own time-out;
    // the requests still waiting are dropped.
    workers_->Stop();
    workers_.reset();
    close(listenFd_);
    close(wakePipe_[0]);
    close(wakePipe_[1]);
    listenFd_ = wakePipe_[0] = wakePipe_[1] = -1;
    listeningPort_.store(0);
    return 0;
}

void WebServer::Serve() {
    std::vector<Slot> slots(kSlotCount);
    std::vector<pollfd> fds;
    std::vector<int> slotOfFd;
    std::vector<char> buffer(kBufferSize);
    std::chrono::milliseconds bodyWait, linger, idle;
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        bodyWait = bodyWait_;
        linger = linger_;
        idle = idle_;
    }
    uint64_t nextJob = 0;
    const std::shared_ptr<UserDirectory> signIn = SignIn();

    auto lingerThenClose = [&](Slot& s) {
        if (s.ssl) {
            ERR_clear_error();
            SSL_shutdown(s.ssl);  // the close_notify alert; the peer's answer is not awaited
        }
        shutdown(s.fd, SHUT_WR);  // the peer sees the end of the answer and closes its side
        s.state = Slot::State::Lingering;
        s.deadline = Clock::now() + linger;
        std::string().swap(s.out);
        s.shared.reset();
    };
    auto finishAnswer = [&](Slot& s) {
        if (s.file >= 0) {
            close(s.file);
            s.file = -1;
        }
        if (s.upgradeAfterSend) {
            s.state = Slot::State::WebSocket;
            s.out.clear();
            return;
        }
        lingerThenClose(s);
    };
    // Sends what the slot has to send until the socket would block; false when the slot closed.
    auto sendMore = [&](Slot& s) {
        for (;;) {
            const std::string_view bytes = s.Bytes();
            ssize_t n;
            if (s.sent < bytes.size()) {
                n = WriteSome(s.fd, s.ssl, bytes.data() + s.sent, bytes.size() - s.sent, &s.tlsWant);
                if (n > 0) {
                    s.sent += static_cast<size_t>(n);
                    continue;
                }
            } else if (s.ssl && s.file >= 0 && (s.chunkSent < s.chunk.size() || s.fileOffset < s.fileEnd)) {
                // HTTPS streams a large file through the session, a chunk at a time.
                if (s.chunkSent == s.chunk.size()) {
                    s.chunk.resize(static_cast<size_t>(std::min<off_t>(s.fileEnd - s.fileOffset, 1 << 16)));
                    const ssize_t got = pread(s.file, s.chunk.data(), s.chunk.size(), s.fileOffset);
                    if (got <= 0) {  // the file became shorter: the answer ends here
                        s.chunk.clear();
                        s.chunkSent = 0;
                        s.fileEnd = s.fileOffset;
                        continue;
                    }
                    s.chunk.resize(static_cast<size_t>(got));
                    s.chunkSent = 0;
                    s.fileOffset += got;
                }
                n = WriteSome(s.fd, s.ssl, s.chunk.data() + s.chunkSent, s.chunk.size() - s.chunkSent,
                              &s.tlsWant);
                if (n > 0) {
                    s.chunkSent += static_cast<size_t>(n);
                    continue;
                }
            } else if (s.file >= 0 && s.fileOffset < s.fileEnd && !s.ssl) {
                const size_t chunk = static_cast<size_t>(
                    std::min<off_t>(s.fileEnd - s.fileOffset, off_t{1} << 20));
                n = sendfile(s.fd, s.file, &s.fileOffset, chunk);
                if (n > 0) continue;
                if (n == 0) {  // the file became shorter: the answer ends here
                    s.fileEnd = s.fileOffset;
                    continue;
                }
            } else {
                finishAnswer(s);
                return;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                s.state = Slot::State::Sending;
                return;
            }
            s.Close();  // the peer went away: the answer is abandoned
            return;
        }
    };
    auto startAnswer = [&](Slot& s, std::string answer, bool upgrade) {
        s.out = std::move(answer);
        s.shared.reset();
        s.sent = 0;
        s.upgradeAfterSend = upgrade;
        if (s.out.empty() && !upgrade) {  // nothing to answer
            lingerThenClose(s);
            return;
        }
        sendMore(s);
    };
    auto webSocketCount = [&] {
        return std::count_if(slots.begin(), slots.end(), [](const Slot& s) {
            return s.state == Slot::State::WebSocket || (s.upgradeAfterSend && s.fd >= 0);
        });
    };
    // Answers the request of `s`. With sign-in on, `checked` is what the sign-in worker found of
    // its credentials, when it had to check them.
    auto answer = [&](Slot& s, int index, std::optional<UserDirectory::Known> checked = std::nullopt) {
        std::string request;
        request.swap(s.in);
        Access access = Access::Operator;
        if (signIn) {
            if (!checked && LockedOut(s.address)) {
                startAnswer(s, std::string(kTooManySignInsAnswer), false);
                return;
            }
            const std::optional<Credentials> credentials = ParseBasicAuthorization(request);
            std::optional<UserDirectory::Known> known = checked;
            if (credentials && !known) {
                known = signIn->Lookup(*credentials);
                if (*known == UserDirectory::Known::Unchecked) {
                    // The slow check runs on the sign-in worker; the request waits for it.
                    s.state = Slot::State::Working;
                    s.job = ++nextJob;
                    s.cancelled = std::make_shared<std::atomic<bool>>(false);
                    s.signingIn = true;
                    s.pending = std::move(request);
                    auto job = [signIn, c = *credentials] {
                        return std::string(1, static_cast<char>('0' + static_cast<int>(signIn->Check(c))));
                    };
                    if (!workers_->SignIn().Post(index, s.job, s.cancelled, std::move(job))) {
                        s.cancelled.reset();
                        lingerThenClose(s);
                    }
                    return;
                }
            }
            access = AccessOf(s.address, known);
            if (access == Access::None) {
                startAnswer(s, UnauthorizedAnswer(), false);
                return;
            }
        }
        if (signIn && StartsWithNoCase(request, "GET ") && RequestPath(request, "GET ") == "/signin") {
            // The sign-in page of a panel open to anonymous readers: the browser asks for a
            // user until one is given, then goes back to the panel.
            startAnswer(s, access == Access::Anonymous ? UnauthorizedAnswer()
                                                       : StatusAnswer("303 See Other", "Location: /\r\n", ""),
                        false);
            return;
        }
        if (StartsWithNoCase(request, "GET ")) {
            if (auto upgrade = WebSocketUpgradeAnswer(request)) {
                if (webSocketCount() >= kMaxWebSockets) {
                    lingerThenClose(s);  // the WebSocket share of the table is taken
                    return;
                }
                startAnswer(s, std::move(*upgrade), true);
                return;
            }
            FileAnswer file = AnswerGet(request, s.address);
            s.out = std::move(file.own);
            s.shared = std::move(file.kept);
            s.sent = 0;
            s.file = file.file;
            s.fileOffset = 0;
            s.fileEnd = file.size;
            s.upgradeAfterSend = false;
            sendMore(s);
            return;
        }
        if (!StartsWithNoCase(request, "POST ")) {
            lingerThenClose(s);  // any other method gets no answer
            return;
        }
        std::optional<PostRequest> post = ParsePost(request, s.address);
        if (!post) {
            lingerThenClose(s);  // unknown routes get no answer
            return;
        }
        if (access != Access::Operator && NeedsOperator(post->route, post->payload)) {
            // Not one item of it is carried out, its reads are not answered either.
            LogRefusal(s.address, "Webserver : POST from IP(" + AddressText(s.address) +
                                      ") refused, writing needs an operator's sign-in");
            startAnswer(s, std::string(kForbiddenAnswer), false);
            return;
        }
        s.state = Slot::State::Working;
        s.job = ++nextJob;
        s.cancelled = std::make_shared<std::atomic<bool>>(false);
        const Route route = post->route;
        bool queued;
        if (IsDeviceRoute(route)) {
            DevicePost device = PrepareDevicePost(*post);
            queued = workers_->Device(route, device.channel)
                         .Post(index, s.job, s.cancelled, device.family,
                                                  std::move(device.items),
                                                  std::move(device.finish));
        } else {
            auto job = [this, p = std::move(*post)] { return RunPost(p); };
            queued = workers_->Service(route).Post(index, s.job, s.cancelled, std::move(job));
        }
        if (!queued) {
            s.cancelled.reset();
            lingerThenClose(s);  // cannot happen: a family queue holds as many as the table
        }
    };
    auto receive = [&](Slot& s) -> ssize_t {
        size_t room = kBufferSize - 1 - s.in.size();
        if (room == 0) return 0;
        ssize_t n = ReadSome(s.fd, s.ssl, buffer.data(), room, &s.tlsWant);
        if (n > 0) s.in.append(buffer.data(), static_cast<size_t>(n));
        return n;
    };
    // Moves the TLS handshake on; true once it is done and the slot waits for its request.
    auto handshake = [&](Slot& s) {
        if (SSL_get_state(s.ssl) == TLS_ST_BEFORE) {
            char first[4];
            const ssize_t n = recv(s.fd, first, sizeof first, MSG_PEEK);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                s.Close();
                return false;
            }
            if (n < 0) return false;
            if (LooksLikePlainHttp(std::string_view(first, static_cast<size_t>(n)))) {
                // Plain HTTP on the HTTPS port: said in plain HTTP, then closed.
                SSL_free(s.ssl);
                s.ssl = nullptr;
                s.state = Slot::State::Working;  // nothing it sends is read
                startAnswer(s, StatusAnswer("400 Bad Request", "",
                                            "This panel server speaks HTTPS: use https:// in the "
                                            "address."),
                            false);
                return false;
            }
        }
        ERR_clear_error();
        const int r = SSL_do_handshake(s.ssl);
        if (r == 1) {
            s.tlsWant = 0;
            s.state = Slot::State::Waiting;  // the idle bound runs on from the connection
            if (s.refused) {
                startAnswer(s, std::string(kForbiddenAnswer), false);
                return false;
            }
            return true;
        }
        switch (SSL_get_error(s.ssl, r)) {
            case SSL_ERROR_WANT_READ: s.tlsWant = POLLIN; return false;
            case SSL_ERROR_WANT_WRITE: s.tlsWant = POLLOUT; return false;
            default: s.Close(); return false;  // garbage, a truncated hello, an old protocol
        }
    };
    auto expire = [&](Clock::time_point now) {
        for (size_t i = 0; i < slots.size(); ++i) {
            Slot& s = slots[i];
            if (s.state == Slot::State::Free || s.deadline > now) continue;
            if (s.state == Slot::State::AwaitingBody) answer(s, static_cast<int>(i));
            else if (s.state == Slot::State::Lingering || s.state == Slot::State::Waiting ||
                     s.state == Slot::State::Handshake)
                s.Close();
        }
    };

    while (!stopRequested_.load()) {
        Clock::time_point now = Clock::now();
        expire(now);  // ended connections give their slots back before any new one is taken
        const bool slotFree = std::any_of(slots.begin(), slots.end(), [](const Slot& s) {
            return s.state == Slot::State::Free;
        });
        fds.clear();
        slotOfFd.clear();
        fds.push_back({wakePipe_[0], POLLIN, 0});
        // While every slot is taken, new connections wait in the listen backlog.
        fds.push_back({slotFree ? listenFd_ : -1, POLLIN, 0});
        slotOfFd.assign(2, -1);
        Clock::time_point next = Clock::time_point::max();
        for (int i = 0; i < kSlotCount; ++i) {
            Slot& s = slots[static_cast<size_t>(i)];
            if (s.state == Slot::State::Free) continue;
            short events = s.state == Slot::State::Sending ? POLLOUT : POLLIN;
            if (s.tlsWant && (s.state == Slot::State::Sending || s.state == Slot::State::Handshake ||
                              s.state == Slot::State::Waiting || s.state == Slot::State::WebSocket))
                events = s.tlsWant;
            fds.push_back({s.fd, events, 0});
            slotOfFd.push_back(i);
            if (s.state == Slot::State::AwaitingBody || s.state == Slot::State::Lingering ||
                s.state == Slot::State::Waiting || s.state == Slot::State::Handshake)
                next = std::min(next, s.deadline);
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
            timeout = static_cast<int>(std::clamp<long long>(wait + 1, 0, 60000));
        }
        int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) break;
        if (stopRequested_.load()) break;
        {
            std::lock_guard<std::mutex> lock(settingsMutex_);
            bodyWait = bodyWait_;
            linger = linger_;
            idle = idle_;
        }
        if (fds[0].revents) {
            char drain[256];
            while (read(wakePipe_[0], drain, sizeof drain) > 0) {
            }
            for (Workers::Finished& f : workers_->TakeFinished()) {
                Slot& s = slots[static_cast<size_t>(f.slot)];
                if (s.state != Slot::State::Working || s.job != f.id) continue;  // gone meanwhile
                s.cancelled.reset();
                if (s.signingIn) {
                    // The credentials are checked: the request goes on as if they had been known.
                    s.signingIn = false;
                    s.in = std::move(s.pending);
                    s.pending.clear();
                    s.state = Slot::State::Waiting;
                    const int known = f.answer.empty() ? 1 : f.answer[0] - '0';
                    answer(s, f.slot, static_cast<UserDirectory::Known>(known));
                    continue;
                }
                startAnswer(s, std::move(f.answer), false);
            }
        }
        for (size_t k = 2; k < fds.size(); ++k) {
            Slot& s = slots[static_cast<size_t>(slotOfFd[k])];
            if (s.fd != fds[k].fd || s.state == Slot::State::Free) continue;
            const short ev = fds[k].revents;
            if (ev == 0) continue;
            if (s.state == Slot::State::Sending) {
                if (ev & (POLLERR | POLLHUP)) {
                    s.Close();
                } else {
                    sendMore(s);
                }
                continue;
            }
            if (s.state == Slot::State::Handshake) {
                if (!handshake(s)) continue;
                // Done: the request may have come with the handshake's last flight.
            }
            if (s.state == Slot::State::Working) {
                // Whatever the client sends meanwhile is dropped; its close cancels the request.
                ssize_t n = recv(s.fd, buffer.data(), buffer.size(), 0);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) s.Close();
                continue;
            }
            ssize_t n = receive(s);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n <= 0 && s.state != Slot::State::AwaitingBody) {
                s.Close();  // the peer closed, or the connection failed
                continue;
            }
            switch (s.state) {
                case Slot::State::Waiting: {
                    if (s.in.empty() || s.in[0] == '\0') {
                        s.in.clear();
                        break;
                    }
                    const size_t body = BodyOffset(s.in);
                    if (StartsWithNoCase(s.in, "POST ") && body != std::string::npos &&
                        body == s.in.size() && ContentLength(s.in) != 0) {
                        // The body may come in the next segment: it gets one more receive.
                        s.state = Slot::State::AwaitingBody;
                        s.deadline = Clock::now() + bodyWait;
                        break;
                    }
                    answer(s, slotOfFd[k]);
                    break;
                }
                case Slot::State::AwaitingBody:
                    answer(s, slotOfFd[k]);
                    break;
                case Slot::State::WebSocket:
                    if (IsWebSocketCloseFrame(s.in)) lingerThenClose(s);
                    s.in.clear();  // frames are not answered
                    break;
                case Slot::State::Lingering:
                    s.in.clear();  // whatever the peer still sends is dropped
                    break;
                default:
                    break;
            }
        }
        if (slotFree && (fds[1].revents & POLLIN)) {
            const std::shared_ptr<const AccessPolicy> policy = Policy();
            const std::shared_ptr<const TlsContext> tls = Tls();
            for (;;) {
                auto free = std::find_if(slots.begin(), slots.end(), [](const Slot& s) {
                    return s.state == Slot::State::Free;
                });
                if (free == slots.end()) break;  // the rest wait in the backlog
                sockaddr_storage peer{};
                socklen_t len = sizeof peer;
                int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) break;
                free->fd = fd;
                if (peer.ss_family == AF_INET6) {
                    std::memcpy(free->address.bytes.data(),
                                &reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr, 16);
                } else {
                    free->address =
                        IpAddress::FromIpv4(reinterpret_cast<sockaddr_in*>(&peer)->sin_addr.s_addr);
                }
                free->state = Slot::State::Waiting;
                free->deadline = Clock::now() + idle;
                if (tls) {
                    free->ssl = tls->NewSession(fd);
                    if (!free->ssl) {
                        free->Close();
                        continue;
                    }
                    free->state = Slot::State::Handshake;
                    free->refused = !policy->MayConnect(free->address);
                    if (free->refused)
                        LogRefusal(free->address, "Webserver : connection from IP(" +
                                                      AddressText(free->address) +
                                                      ") refused, not in allow");
                    continue;
                }
                if (!policy->MayConnect(free->address)) {
                    // Refused at once: the answer says so, and what the client sends is dropped
                    // while the connection lingers.
                    LogRefusal(free->address, "Webserver : connection from IP(" +
                                                  AddressText(free->address) +
                                                  ") refused, not in allow");
                    startAnswer(*free, std::string(kForbiddenAnswer), false);
                }
                // A quiet server takes one connection per wake-up, which spares the accept
                // that would only say "no more"; a busy one takes every connection waiting.
                if (fds.size() - 2 < kQuietConnections) break;
            }
        }
    }
    for (Slot& s : slots) {
        if (s.state == Slot::State::WebSocket && s.ssl) {
            short want;
            WriteSome(s.fd, s.ssl, kWebSocketCloseFrame.data(), kWebSocketCloseFrame.size(), &want);
        } else if (s.state == Slot::State::WebSocket) {
            SendAll(s.fd, kWebSocketCloseFrame);
        }
        s.Close();
    }
}

int WebServer::HandleRequest(std::string_view request, uint32_t clientAddress,
                             std::string& answer) {
    return HandleRequest(request, IpAddress::FromIpv4(clientAddress), answer);
}

int WebServer::HandleRequest(std::string_view request, const IpAddress& clientAddress,
                             std::string& answer) {
    answer.clear();
    if (!Policy()->MayConnect(clientAddress)) {
        LogRefusal(clientAddress,
                   "Webserver : connection from IP(" + AddressText(clientAddress) +
                       ") refused, not in allow");
        answer.assign(kForbiddenAnswer);
        return 1;
    }
    if (StartsWithNoCase(request, "GET ")) {
        if (auto upgrade = WebSocketUpgradeAnswer(request)) {
            answer = std::move(*upgrade);
            return 2;
        }
        FileAnswer file = AnswerGet(request, clientAddress);
        answer = file.kept ? *file.kept : std::move(file.own);
        if (file.file >= 0) {
            char chunk[65536];
            for (ssize_t n; (n = read(file.file, chunk, sizeof chunk)) > 0;)
                answer.append(chunk, static_cast<size_t>(n));
            close(file.file);
        }
        return 1;
    }
    if (StartsWithNoCase(request, "POST ")) {
        std::optional<PostRequest> post = ParsePost(request, clientAddress);
        if (post && IsDeviceRoute(post->route)) {
            // One request alone: its items run in order, each with its own exchange.
            DevicePost device = PrepareDevicePost(*post);
            SharedReads run(std::chrono::milliseconds(0), kBufferSize);
            run.Add(0, device.family, std::move(device.items));
            while (std::optional<SharedReads::Exchange> e = run.Next(SharedReads::Clock::now()))
                run.Finish(*e, RunExchange(*e));
            std::vector<SharedReads::Done> done = run.TakeDone();
            answer = device.finish(done.empty() ? std::string() : done.front().text);
        } else if (post) {
            answer = RunPost(*post);
        }
    }
    return 1;  // any other method gets no answer
}

WebServer::FileAnswer WebServer::AnswerGet(std::string_view request, const IpAddress& client) {
    FileAnswer result;
    std::string_view path = RequestPath(request, "GET ");
    if (path == "/") path = "/index.html";
    std::string root;
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        root = webRoot_;
    }
    const std::optional<std::string> local = LocalFilePath(root, path);
    // The log lines are made only when debug messages are on: most requests log nothing.
    auto notFound = [&] {
        result.own.assign(kNotFoundAnswer);
        if (!debugMessages_.load()) return result;
        Log("Webserver : GET from IP(" + AddressText(client) + "), can't found file '" +
                (local ? *local : root + std::string(path.substr(path.empty() ? 0 : 1))) + "'",
            kLogRed);
        return result;
    };
    if (!local) return notFound();
    const std::string_view type = ContentTypeFor(CutAtQuery(path));
    const FileCache::Key key{*local, type};
    auto logSent = [&](off_t size) {
        if (!debugMessages_.load()) return;
        Log("Webserver : GET from IP(" + AddressText(client) + "), send file '" + *local + "', " +
                std::to_string(size) + " bytes",
            kLogGreen);
    };
    if (std::shared_ptr<const std::string> kept = files_.Find(key)) {
        result.kept = std::move(kept);
        if (debugMessages_.load()) {
            const size_t header = result.kept->find("\r\n\r\n");
            logSent(static_cast<off_t>(result.kept->size() - header - 4));
        }
        return result;
    }
    const int fd = OpenServedFile(root, std::string_view(*local).substr(root.size()));
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0) close(fd);
        return notFound();
    }
    std::string header = FileAnswerHeader(static_cast<unsigned long>(st.st_size), type);
    if (st.st_size > FileCache::kMaxFileSize) {
        result.own = std::move(header);  // streamed from the file as the client takes it
        result.file = fd;
        result.size = st.st_size;
        logSent(st.st_size);
        return result;
    }
    auto whole = std::make_shared<std::string>(std::move(header));
    const size_t headerSize = whole->size();
    whole->resize(headerSize + static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < static_cast<size_t>(st.st_size)) {
        ssize_t n = pread(fd, whole->data() + headerSize + got,
                          static_cast<size_t>(st.st_size) - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (got < static_cast<size_t>(st.st_size)) {
        whole->resize(headerSize + got);  // read failed part-way: the answer is shorter
    } else {
        files_.Insert(key, st.st_size, ModificationTimeNs(st), whole);
    }
    result.kept = std::move(whole);
    logSent(st.st_size);
    return result;
}

std::optional<WebServer::PostRequest> WebServer::ParsePost(std::string_view request,
                                                            const IpAddress& clientAddress) {
    const std::string_view path = RequestPath(request, "POST ");
    const RouteMatch match = MatchRoute(path);
    if (match.route == Route::None) return std::nullopt;
    PostRequest post;
    post.route = match.route;
    const size_t bodyAt = BodyOffset(request);
    post.hasBlankLine = bodyAt != std::string_view::npos;
    if (post.hasBlankLine) {
        std::string_view rest = request.substr(bodyAt);
        post.body.assign(rest.substr(0, rest.find('\0')));
    }
    post.payload.assign(CutAtSpace(path.substr(match.payloadStart)));
    post.client = AddressText(clientAddress);
    post.clientAddress = clientAddress;
    std::lock_guard<std::mutex> lock(settingsMutex_);
    post.mayWrite = policy_->MayWrite(clientAddress);
    post.routes = routes_;
    return post;
}

std::string WebServer::RunPost(const PostRequest& post) {
    const GatewayRoutes& routes = post.routes;
    const std::string from = "Webserver : POST from IP(" + post.client + "), ";
    switch (post.route) {
        case Route::Printer:
            if (post.hasBlankLine && routes.printer && routes.printer->IsOpen()) {
                routes.printer->Print(post.body);
                Log(from + "PRN OK", kLogGreen);
                return PlainAnswer("");
            }
            Log(from + "PRN error '-1'", kLogRed);
            return PlainAnswer("[err=-1]");
        case Route::Sql: {
            std::string result;
            if (routes.sql && routes.sql->Execute(DecodePercent(post.payload), result)) {
                Log(from + "SQL OK", kLogGreen);
                return PlainAnswer(result);
            }
            Log(from + "SQL error '-1'", kLogRed);
            return PlainAnswer("[err=-1]");
        }
        case Route::Dll: {
            std::string result;
            DllService::CallResult r = routes.dll ? routes.dll->Call(post.payload, post.body, result)
                                                  : DllService::CallResult::NoLibrary;
            if (r == DllService::CallResult::NoLibrary) {
                Log(from + "DLL no dll loaded", kLogRed);
                return PlainAnswer("[no dll loaded]");
            }
            if (r == DllService::CallResult::NoProcedure) {
                Log(from + "DLL can't fund proc '" + post.payload + "'", kLogRed);
                return PlainAnswer("[error:can't find proc]");
            }
            if (result.size() > kBufferSize) result.resize(kBufferSize);
            Log(from + "DLL Ok", kLogGreen);
            return PlainAnswer(result);
        }
        default:
            break;
    }
    return {};  // device routes go through PrepareDevicePost
}

WebServer::DevicePost WebServer::PrepareDevicePost(const PostRequest& post) {
    const GatewayRoutes& routes = post.routes;
    DevicePost device;
    const char* word = "";
    switch (post.route) {
        case Route::Corvane: device.family = routes.corvane; word = "CVN"; break;
        case Route::Simora: device.family = routes.simora; word = "SM"; break;
        case Route::Unity: device.family = routes.unity; word = "UNI"; break;
        case Route::Kx: device.family = routes.kx; word = "KX"; break;
        case Route::S7: device.family = routes.s7; word = "S7"; break;
        case Route::Modbus: device.family = routes.modbus; word = "MB"; break;
        case Route::Mqtt: device.family = routes.mqtt; word = "MQ"; break;
        default: break;
    }
    bool dropped = false;
    for (std::string_view item : SplitItems(post.payload)) {
        // A client outside `write-allow` never reaches the device with a write; a write item
        // answers no text in any case, so the answer is the same.
        if (IsWriteItem(item) && !post.mayWrite) {
            dropped = true;
            continue;
        }
        device.items.emplace_back(item);
    }
    if (device.family && !device.items.empty())
        device.channel = device.family->Channel(device.items.front());
    const std::string from = "Webserver : POST from IP(" + post.client + "), ";
    device.finish = [this, from, word, dropped, payload = post.payload,
                     client = post.clientAddress](const std::string& text) {
        if (dropped)
            LogRefusal(client, from + word + " write items not carried out, not in write-allow");
        Log(from + word + " request (" + payload + "), answer (" + text + ")", kLogBlue);
        return DeviceAnswer(text);
    };
    return device;
}

}  // namespace tsr
