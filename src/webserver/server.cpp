#include "webserver/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/fs.h"
#include "webserver/request.h"
#include "webserver/websocket.h"

namespace tsr {
namespace {

using Clock = std::chrono::steady_clock;

std::string AddressText(uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const unsigned char*>(&networkOrder);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
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

// Reads the regular file `path` whole; false when it is missing, not a file or unreadable.
bool ReadRegularFile(const std::string& path, std::string& out) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return ReadFile(path, out);
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
    enum class State { Free, Waiting, AwaitingBody, Sending, Lingering, WebSocket };
    State state = State::Free;
    int fd = -1;
    uint32_t address = 0;
    std::string in;
    std::string out;
    size_t sent = 0;
    bool upgradeAfterSend = false;
    Clock::time_point deadline{};

    void Close() {
        if (fd >= 0) close(fd);
        fd = -1;
        state = State::Free;
        in.clear();
        out.clear();
        sent = 0;
        upgradeAfterSend = false;
    }
};

WebServer::WebServer(LogSink& log, GatewayRoutes routes) : log_(log), routes_(routes) {}

WebServer::~WebServer() { StopWebServer(); }

void WebServer::SetWebRoot(const std::string& webRoot) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    webRoot_ = webRoot;
}

void WebServer::SetRoutes(const GatewayRoutes& routes) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    routes_ = routes;
}

void WebServer::SetTimeouts(std::chrono::milliseconds bodyWait, std::chrono::milliseconds linger) {
    std::lock_guard<std::mutex> lock(settingsMutex_);
    bodyWait_ = bodyWait;
    linger_ = linger;
}

void WebServer::Log(const std::string& text, unsigned colour) {
    if (debugMessages_.load()) log_.LogText(text, colour);
}

int WebServer::StartWebServer(uint16_t port, std::string* hostAddressOut) {
    if (running_.load()) StopWebServer();
    port_.store(port);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return kServerCannotListen;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 128) != 0) {
        close(fd);
        return kServerCannotListen;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    listeningPort_.store(ntohs(addr.sin_port));
    if (pipe2(wakePipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
        close(fd);
        return kServerNoThread;
    }
    listenFd_ = fd;
    stopRequested_.store(false);
    try {
        thread_ = std::thread(&WebServer::Serve, this);
    } catch (...) {
        close(listenFd_);
        close(wakePipe_[0]);
        close(wakePipe_[1]);
        listenFd_ = wakePipe_[0] = wakePipe_[1] = -1;
        return kServerNoThread;
    }
    if (hostAddressOut) *hostAddressOut = HostAddress();
    running_.store(true);
    return 0;
}

int WebServer::StopWebServer() {
    if (!thread_.joinable()) return 0;
    running_.store(false);
    stopRequested_.store(true);
    char byte = 1;
    (void)!write(wakePipe_[1], &byte, 1);
    // A device exchange in progress ends within its own time-out; the thread then sees the stop.
    thread_.join();
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
    std::chrono::milliseconds bodyWait, linger;

    auto finishAnswer = [&](Slot& s) {
        if (s.upgradeAfterSend) {
            s.state = Slot::State::WebSocket;
            s.out.clear();
            return;
        }
        shutdown(s.fd, SHUT_WR);  // the peer sees the end of the answer and closes its side
        s.state = Slot::State::Lingering;
        s.deadline = Clock::now() + linger;
    };
    auto sendMore = [&](Slot& s) {
        while (s.sent < s.out.size()) {
            ssize_t n = send(s.fd, s.out.data() + s.sent, s.out.size() - s.sent, MSG_NOSIGNAL);
            if (n > 0) {
                s.sent += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                s.state = Slot::State::Sending;
                return;
            }
            s.Close();  // the peer went away: the answer is abandoned
            return;
        }
        finishAnswer(s);
    };
    auto answer = [&](Slot& s) {
        std::string reply;
        int result = HandleRequest(s.in, s.address, reply);
        s.in.clear();
        s.out = std::move(reply);
        s.sent = 0;
        s.upgradeAfterSend = result == 2;
        sendMore(s);
    };
    auto receive = [&](Slot& s) -> ssize_t {
        size_t room = kBufferSize - 1 - s.in.size();
        if (room == 0) return 0;
        ssize_t n = recv(s.fd, buffer.data(), room, 0);
        if (n > 0) s.in.append(buffer.data(), static_cast<size_t>(n));
        return n;
    };

    while (!stopRequested_.load()) {
        {
            std::lock_guard<std::mutex> lock(settingsMutex_);
            bodyWait = bodyWait_;
            linger = linger_;
        }
        fds.clear();
        slotOfFd.clear();
        fds.push_back({wakePipe_[0], POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        slotOfFd.assign(2, -1);
        Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        for (int i = 0; i < kSlotCount; ++i) {
            Slot& s = slots[static_cast<size_t>(i)];
            if (s.state == Slot::State::Free) continue;
            short events = s.state == Slot::State::Sending ? POLLOUT : POLLIN;
            fds.push_back({s.fd, events, 0});
            slotOfFd.push_back(i);
            if (s.state == Slot::State::AwaitingBody || s.state == Slot::State::Lingering)
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
        if (fds[0].revents) {
            char drain[64];
            while (read(wakePipe_[0], drain, sizeof drain) > 0) {
            }
        }
        if (fds[1].revents & POLLIN) {
            for (;;) {
                sockaddr_in peer{};
                socklen_t len = sizeof peer;
                int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) break;
                auto free = std::find_if(slots.begin(), slots.end(), [](const Slot& s) {
                    return s.state == Slot::State::Free;
                });
                if (free == slots.end()) {
                    close(fd);  // every slot is taken: this client is not served
                    continue;
                }
                int one = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                free->fd = fd;
                free->address = peer.sin_addr.s_addr;
                free->state = Slot::State::Waiting;
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
                    answer(s);
                    break;
                }
                case Slot::State::AwaitingBody:
                    answer(s);
                    break;
                case Slot::State::WebSocket:
                    if (IsWebSocketCloseFrame(s.in)) {
                        shutdown(s.fd, SHUT_WR);
                        s.state = Slot::State::Lingering;
                        s.deadline = Clock::now() + linger;
                    }
                    s.in.clear();  // frames are not answered
                    break;
                case Slot::State::Lingering:
                    s.in.clear();  // whatever the peer still sends is dropped
                    break;
                default:
                    break;
            }
        }
        now = Clock::now();
        for (Slot& s : slots) {
            if (s.state == Slot::State::AwaitingBody && s.deadline <= now) answer(s);
            if (s.state == Slot::State::Lingering && s.deadline <= now) s.Close();
        }
    }
    for (Slot& s : slots) {
        if (s.state == Slot::State::WebSocket) SendAll(s.fd, kWebSocketCloseFrame);
        s.Close();
    }
}

int WebServer::HandleRequest(std::string_view request, uint32_t clientAddress,
                             std::string& answer) {
    answer.clear();
    const std::string client = AddressText(clientAddress);
    if (StartsWithNoCase(request, "GET ")) {
        if (auto upgrade = WebSocketUpgradeAnswer(request)) {
            answer = std::move(*upgrade);
            return 2;
        }
        HandleGet(request, client, answer);
        return 1;
    }
    if (StartsWithNoCase(request, "POST ")) HandlePost(request, client, answer);
    return 1;  // any other method gets no answer
}

void WebServer::HandleGet(std::string_view request, const std::string& client,
                          std::string& answer) {
    std::string_view path = RequestPath(request, "GET ");
    if (path == "/") path = "/index.html";
    std::string root;
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        root = webRoot_;
    }
    std::optional<std::string> local = LocalFilePath(root, path);
    std::string content;
    if (!local || !ReadRegularFile(*local, content)) {
        answer.assign(kNotFoundAnswer);
        Log("Webserver : GET from IP(" + client + "), can't found file '" +
                (local ? *local : root + std::string(path.substr(path.empty() ? 0 : 1))) + "'",
            kLogRed);
        return;
    }
    answer = FileAnswerHeader(content.size(), ContentTypeFor(CutAtQuery(path)));
    answer += content;
    Log("Webserver : GET from IP(" + client + "), send file '" + *local + "', " +
            std::to_string(content.size()) + " bytes",
        kLogGreen);
}

void WebServer::HandlePost(std::string_view request, const std::string& client,
                           std::string& answer) {
    const std::string_view path = RequestPath(request, "POST ");
    const RouteMatch match = MatchRoute(path);
    if (match.route == Route::None) return;  // unknown routes get no answer
    const size_t bodyAt = BodyOffset(request);
    std::string body;
    if (bodyAt != std::string_view::npos) {
        std::string_view rest = request.substr(bodyAt);
        body.assign(rest.substr(0, rest.find('\0')));
    }
    const std::string_view payload = CutAtSpace(path.substr(match.payloadStart));
    GatewayRoutes routes;
    {
        std::lock_guard<std::mutex> lock(settingsMutex_);
        routes = routes_;
    }
    const std::string from = "Webserver : POST from IP(" + client + "), ";
    switch (match.route) {
        case Route::Printer:
            if (bodyAt != std::string_view::npos && routes.printer && routes.printer->IsOpen()) {
                routes.printer->Print(body);
                answer = PlainAnswer("");
                Log(from + "PRN OK", kLogGreen);
            } else {
                answer = PlainAnswer("[err=-1]");
                Log(from + "PRN error '-1'", kLogRed);
            }
            return;
        case Route::Sql: {
            std::string result;
            if (routes.sql && routes.sql->Execute(DecodePercent(payload), result)) {
                answer = PlainAnswer(result);
                Log(from + "SQL OK", kLogGreen);
            } else {
                answer = PlainAnswer("[err=-1]");
                Log(from + "SQL error '-1'", kLogRed);
            }
            return;
        }
        case Route::Dll: {
            const std::string name(payload);
            std::string result;
            DllService::CallResult r = routes.dll ? routes.dll->Call(name, body, result)
                                                  : DllService::CallResult::NoLibrary;
            if (r == DllService::CallResult::NoLibrary) {
                answer = PlainAnswer("[no dll loaded]");
                Log(from + "DLL no dll loaded", kLogRed);
            } else if (r == DllService::CallResult::NoProcedure) {
                answer = PlainAnswer("[error:can't find proc]");
                Log(from + "DLL can't fund proc '" + name + "'", kLogRed);
            } else {
                if (result.size() > kBufferSize) result.resize(kBufferSize);
                answer = PlainAnswer(result);
                Log(from + "DLL Ok", kLogGreen);
            }
            return;
        }
        default:
            break;
    }
    DeviceFamily* family = nullptr;
    const char* word = "";
    switch (match.route) {
        case Route::Corvane: family = routes.corvane; word = "CVN"; break;
        case Route::Simora: family = routes.simora; word = "SM"; break;
        case Route::Unity: family = routes.unity; word = "UNI"; break;
        case Route::Kx: family = routes.kx; word = "KX"; break;
        case Route::S7: family = routes.s7; word = "S7"; break;
        default: return;
    }
    std::string text;
    bool first = true;
    for (std::string_view item : SplitItems(payload)) {
        if (IsWriteItem(item)) {
            if (family) family->WriteItem(item);
            continue;
        }
        std::string value = family ? family->ReadItem(item) : std::string("[err]");
        if (!first) text += ';';
        first = false;
        if (text.size() + value.size() > kBufferSize) break;  // the answer buffer is full
        text += value;
    }
    answer = DeviceAnswer(text);
    Log(from + word + " request (" + std::string(payload) + "), answer (" + text + ")", kLogBlue);
}

}  // namespace tsr
