// The web server over real sockets on 127.0.0.1.
#include "webserver/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "socket_support.h"
#include "test_support.h"
#include "webserver/websocket.h"

namespace tsr {
namespace {

using namespace std::chrono_literals;

// A device whose every variable reads "v(<item>)"; writes are recorded.
class EchoFamily : public DeviceFamily {
public:
    std::string ReadItem(std::string_view item) override { return "v(" + std::string(item) + ")"; }
    void WriteItem(std::string_view item) override { writes.emplace_back(item); }
    std::vector<std::string> writes;
};

class StubSql : public SqlService {
public:
    bool Execute(const std::string& statement, std::string& answer) override {
        last = statement;
        if (statement.rfind("select", 0) != 0) return false;
        answer = "a;b";
        return true;
    }
    std::string last;
};

class StubDll : public DllService {
public:
    CallResult Call(const std::string& name, const std::string& body, std::string& answer) override {
        if (name != "proc") return CallResult::NoProcedure;
        bodies.push_back(body);
        answer = "got:" + body;
        return CallResult::Done;
    }
    std::vector<std::string> bodies;
};

using test::ConnectLoopback;
constexpr auto Connect = ConnectLoopback;

// Everything the server sends until it closes the connection (or `limit` passes).
std::string ReadUntilClosed(int fd, std::chrono::milliseconds limit = 3000ms) {
    std::string out;
    auto end = std::chrono::steady_clock::now() + limit;
    char buf[65536];
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

// True when the peer has closed the connection (or reset it) within `limit`.
bool ClosedByPeer(int fd, std::chrono::milliseconds limit) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(limit.count())) <= 0) return false;
    char c;
    return recv(fd, &c, 1, MSG_PEEK) <= 0;
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFile(root / "index.html", "INDEX"));
        ASSERT_TRUE(WriteFile(root / "page.html", "PAGE"));
        ASSERT_TRUE(WriteFile(root / "PAGE.HTML", "UPPER"));
        ASSERT_TRUE(WriteFile(root / "app.js", "JS"));
        ASSERT_TRUE(WriteFile(root / "cache.manifest", "CACHE MANIFEST"));
        ASSERT_TRUE(WriteFile(root / "x.xcss", "CSS"));
        ASSERT_TRUE(WriteFile(root / "a%20b.html", "LITERAL"));
        ASSERT_TRUE(WriteFile(root / "data.bin", std::string(250000, 'x')));
        ASSERT_TRUE(WriteFile(outside / "secret", "SECRET"));
        server.SetRoutes(routes);
        server.SetWebRoot(root.path() + "/");
        server.SetTimeouts(300ms, 1000ms);
        ASSERT_EQ(server.StartWebServer(0), 0);
        port = server.ListeningPort();
        ASSERT_NE(port, 0);
    }
    // Sends `request` in pieces (with a pause between them) and returns the whole answer.
    std::string Exchange(const std::vector<std::string>& pieces,
                         std::chrono::milliseconds pause = 60ms) {
        int fd = Connect(port);
        EXPECT_GE(fd, 0);
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (i) std::this_thread::sleep_for(pause);
            send(fd, pieces[i].data(), pieces[i].size(), MSG_NOSIGNAL);
        }
        std::string answer = ReadUntilClosed(fd);
        close(fd);
        return answer;
    }
    static std::string FileAnswer(const std::string& body, const std::string& type) {
        return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nContent-Type: " + type + "\r\nCache-Control: max-age=30\r\n\r\n" + body;
    }
    static std::string Plain(const std::string& body) {
        return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nContent-Type: text/html\r\nCache-Control: no-cache, no-store\r\n\r\n" + body;
    }
    static std::string Device(const std::string& body) {
        return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nContent-Type: text/html\r\nCache-Control: no-cache, no-store\r\n"
               "Access-Control-Allow-Origin: *\r\n\r\n" + body;
    }

    test::ScratchDir root, outside;
    EchoFamily corvane, simora, unity, kx, s7;
    StubSql sql;
    StubDll dll;
    GatewayRoutes routes{&corvane, &simora, &unity, &kx, &s7, &sql, nullptr, &dll};
    RecordingLogSink log;
    WebServer server{log};
    uint16_t port = 0;
};

const std::string kNotFound =
    "HTTP/1.0 404 Not Found\r\nContent-Length: 54\r\nContent-Type: text/html\r\n\r\n"
    "<html><head><title>404 Not Found</title></head></html>";

TEST_F(ServerTest, FileRequests) {
    struct Case {
        const char* name;
        std::string request;
        std::string expected;
    } cases[] = {
        {"bare /", "GET / HTTP/1.0\r\n\r\n", FileAnswer("INDEX", "text/html")},
        {"/?x=1 is the directory", "GET /?x=1 HTTP/1.0\r\n\r\n", kNotFound},
        {"query cut", "GET /page.html?v=2 HTTP/1.0\r\n\r\n", FileAnswer("PAGE", "text/html")},
        {"case-sensitive ending", "GET /PAGE.HTML HTTP/1.0\r\n\r\n",
         FileAnswer("UPPER", "application/octet-stream")},
        {"lower-case method", "get /app.js HTTP/1.0\r\n\r\n",
         FileAnswer("JS", "application/javascript")},
        {"manifest", "GET /cache.manifest HTTP/1.0\r\n\r\n",
         FileAnswer("CACHE MANIFEST", "text/cache-manifest")},
        {"last characters only", "GET /x.xcss HTTP/1.0\r\n\r\n", FileAnswer("CSS", "text/css")},
        {"percent taken literally", "GET /a%20b.html HTTP/1.0\r\n\r\n",
         FileAnswer("LITERAL", "text/html")},
        {"missing", "GET /nothere.html HTTP/1.0\r\n\r\n", kNotFound},
        {"leaving the root", "GET /../" + outside.path().substr(outside.path().rfind('/') + 1) +
                                 "/secret HTTP/1.0\r\n\r\n", kNotFound},
        {"absolute", "GET //etc/passwd HTTP/1.0\r\n\r\n", kNotFound},
        {"HEAD not answered", "HEAD / HTTP/1.0\r\n\r\n", ""},
        {"PUT not answered", "PUT / HTTP/1.0\r\n\r\n", ""},
        {"Upgrade without key", "GET / HTTP/1.1\r\nConnection: Upgrade\r\n\r\n",
         FileAnswer("INDEX", "text/html")},
    };
    for (const Case& c : cases) EXPECT_EQ(Exchange({c.request}), c.expected) << c.name;
    EXPECT_EQ(Exchange({"GET /data.bin HTTP/1.0\r\n\r\n"}),
              FileAnswer(std::string(250000, 'x'), "application/octet-stream"));
}

TEST_F(ServerTest, GatewayRoutes) {
    struct Case {
        const char* name;
        std::string request;
        std::string expected;
    } cases[] = {
        {"read, write, read", "POST /UNI%MW0;%MW1=3;%MW2 HTTP/1.0\r\n\r\n",
         Device("v(%MW0);v(%MW2)")},
        {"route in lower case", "POST /uni%MW4 HTTP/1.0\r\n\r\n", Device("v(%MW4)")},
        {"three characters compared", "POST /UNx%MW5 HTTP/1.0\r\n\r\n", Device("v(%MW5)")},
        {"corvane write only", "POST /CVNm200=5 HTTP/1.0\r\n\r\n", Device("")},
        {"corvane read", "POST /CVNm200 HTTP/1.0\r\n\r\n", Device("v(m200)")},
        {"K is enough", "POST /KXa@b HTTP/1.0\r\n\r\n", Device("v(a@b)")},
        {"S is S7", "POST /S7%MW0 HTTP/1.0\r\n\r\n", Device("v(%MW0)")},
        {"SM", "POST /SMbeh HTTP/1.0\r\n\r\n", Device("v(beh)")},
        {"SQL decoded", "POST /SQLselect%20a HTTP/1.0\r\n\r\n", Plain("a;b")},
        {"SQL failing", "POST /SQLdrop HTTP/1.0\r\n\r\n", Plain("[err=-1]")},
        {"DLL call with body", "POST /DLLproc HTTP/1.0\r\nContent-Length: 4\r\n\r\nbody",
         Plain("got:body")},
        {"DLL unknown procedure", "POST /DLLnope HTTP/1.0\r\n\r\n",
         Plain("[error:can't find proc]")},
        {"no printer", "POST /PRN HTTP/1.0\r\nContent-Length: 2\r\n\r\nhi", Plain("[err=-1]")},
        {"unknown route", "POST /XYZ HTTP/1.0\r\n\r\n", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Exchange({c.request}), c.expected) << c.name;
    EXPECT_EQ(unity.writes, std::vector<std::string>{"%MW1=3"});
    EXPECT_EQ(corvane.writes, std::vector<std::string>{"m200=5"});
    EXPECT_EQ(sql.last, "drop");
}

TEST_F(ServerTest, ABodyGetsOneMoreReceive) {
    const std::string head = "POST /DLLproc HTTP/1.0\r\nContent-Length: 5\r\n\r\n";
    EXPECT_EQ(Exchange({head, "hello"}), Plain("got:hello"));
    EXPECT_EQ(Exchange({head, "he", "llo"}, 120ms), Plain("got:he"));  // a third piece is late
    EXPECT_EQ(dll.bodies, (std::vector<std::string>{"hello", "he"}));
}

TEST_F(ServerTest, ASilentClientBlocksNobody) {
    int silent = Connect(port);
    ASSERT_GE(silent, 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange({"GET /page.html HTTP/1.0\r\n\r\n"}), FileAnswer("PAGE", "text/html"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_FALSE(ClosedByPeer(silent, 100ms));  // it keeps its slot
    close(silent);
}

TEST_F(ServerTest, WhenEverySlotIsTakenANewClientWaitsForAFreeSlot) {
    server.SetIdleTimeout(60s);
    std::vector<int> held;
    for (int i = 0; i < WebServer::kSlotCount; ++i) {
        held.push_back(Connect(port));
        ASSERT_GE(held.back(), 0);
    }
    std::this_thread::sleep_for(200ms);  // the server accepts them all
    int extra = Connect(port);  // completes in the kernel's backlog
    ASSERT_GE(extra, 0);
    send(extra, "GET / HTTP/1.0\r\n\r\n", 18, MSG_NOSIGNAL);
    EXPECT_FALSE(ClosedByPeer(extra, 300ms));  // neither answered nor dropped
    close(held.back());
    held.pop_back();
    EXPECT_EQ(ReadUntilClosed(extra, 2000ms), FileAnswer("INDEX", "text/html"));
    close(extra);
    for (int fd : held) close(fd);
}

TEST_F(ServerTest, ShortLivedClientsBeyondTheTableAreAllAnswered) {
    // 200 clients at once, one request each: every one is answered, none dropped.
    std::vector<int> clients;
    for (int i = 0; i < 200; ++i) {
        clients.push_back(Connect(port));
        ASSERT_GE(clients.back(), 0);
        send(clients.back(), "GET /page.html HTTP/1.0\r\n\r\n", 27, MSG_NOSIGNAL);
    }
    int answered = 0;
    for (int fd : clients) {
        answered += ReadUntilClosed(fd, 5000ms) == FileAnswer("PAGE", "text/html");
        close(fd);
    }
    EXPECT_EQ(answered, 200);
}

TEST_F(ServerTest, IdleClientsCannotLockThePanelOut) {
    server.SetIdleTimeout(500ms);
    std::vector<int> silent;
    for (int i = 0; i < WebServer::kSlotCount; ++i) silent.push_back(Connect(port));
    std::this_thread::sleep_for(100ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange({"GET /page.html HTTP/1.0\r\n\r\n"}), FileAnswer("PAGE", "text/html"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_TRUE(ClosedByPeer(silent.front(), 1000ms));  // the silent ones were closed
    for (int fd : silent) close(fd);
}

TEST_F(ServerTest, WebSocketsHoldOnlyPartOfTheTable) {
    const std::string upgrade =
        "GET / HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    std::vector<int> clients;
    int upgraded = 0;
    for (int i = 0; i < WebServer::kSlotCount; ++i) {
        int fd = Connect(port);
        ASSERT_GE(fd, 0);
        send(fd, upgrade.data(), upgrade.size(), MSG_NOSIGNAL);
        clients.push_back(fd);
    }
    for (int fd : clients) {
        std::string got = ReadUntilClosed(fd, 100ms);
        upgraded += got.rfind("HTTP/1.1 101 Switching Protocols", 0) == 0;
    }
    EXPECT_EQ(upgraded, WebServer::kMaxWebSockets);
    EXPECT_EQ(Exchange({"GET /page.html HTTP/1.0\r\n\r\n"}), FileAnswer("PAGE", "text/html"));
    for (int fd : clients) close(fd);
}

TEST_F(ServerTest, OnlyRegularFilesInsideTheSiteAreServed) {
    ASSERT_EQ(mkdir((root / "sub").c_str(), 0700), 0);
    ASSERT_TRUE(WriteFile(root / "sub/in.html", "INSIDE"));
    ASSERT_EQ(symlink((outside / "secret").c_str(), (root / "file-link").c_str()), 0);
    ASSERT_EQ(symlink(outside.path().c_str(), (root / "dir-link").c_str()), 0);
    ASSERT_EQ(symlink("/", (root / "slash").c_str()), 0);
    ASSERT_EQ(symlink("index.html", (root / "inner-link.html").c_str()), 0);
    ASSERT_EQ(mkfifo((root / "fifo.html").c_str(), 0600), 0);
    struct Case {
        const char* path;
        std::string expected;
    } cases[] = {
        {"/sub/in.html", FileAnswer("INSIDE", "text/html")},
        {"/sub//in.html", FileAnswer("INSIDE", "text/html")},
        {"/file-link", kNotFound},
        {"/dir-link/secret", kNotFound},
        {"/slash/etc/passwd", kNotFound},
        {"/slash/proc/self/environ", kNotFound},
        {"/inner-link.html", kNotFound},
        {"/sub", kNotFound},
        {"/sub/./in.html", kNotFound},
        {"/fifo.html", kNotFound},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Exchange({"GET " + std::string(c.path) + " HTTP/1.0\r\n\r\n"}), c.expected)
            << c.path;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms) << c.path;
    }
}

TEST_F(ServerTest, KeptFilesFollowTheirChanges) {
    EXPECT_EQ(Exchange({"GET /page.html HTTP/1.0\r\n\r\n"}), FileAnswer("PAGE", "text/html"));
    ASSERT_TRUE(WriteFile(root / "page.html", "LONGER PAGE"));  // another size
    EXPECT_EQ(Exchange({"GET /page.html HTTP/1.0\r\n\r\n"}),
              FileAnswer("LONGER PAGE", "text/html"));
    // Same size, another time.
    ASSERT_TRUE(WriteFile(root / "page.html", "SHORTER PAG"));
    struct timespec times[2] = {{0, UTIME_NOW}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root / "page.html").c_str(), times, 0), 0);
    EXPECT_EQ(Exchange({"GET /page.html HTTP/1.0\r\n\r\n"}),
              FileAnswer("SHORTER PAG", "text/html"));
    // Same size and time: a generation pass (which sets the site again) forgets the kept copy.
    ASSERT_TRUE(WriteFile(root / "page.html", "SHORTER PAX"));
    ASSERT_EQ(utimensat(AT_FDCWD, (root / "page.html").c_str(), times, 0), 0);
    server.SetWebRoot(root.path() + "/");
    EXPECT_EQ(Exchange({"GET /page.html HTTP/1.0\r\n\r\n"}),
              FileAnswer("SHORTER PAX", "text/html"));
    // A file too large to keep is streamed whole.
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 23);
    ASSERT_TRUE(WriteFile(root / "big.js", big));
    EXPECT_EQ(Exchange({"GET /big.js HTTP/1.0\r\n\r\n"}),
              FileAnswer(big, "application/javascript"));
}

TEST_F(ServerTest, WebSocketHandshakeFramesAndCloseAtStop) {
    const std::string upgrade =
        "GET /chat HTTP/1.1\r\nHost: server.example.com\r\nUpgrade: websocket\r\nConnection: "
        "Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    const std::string accepted =
        "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";
    std::vector<int> clients;
    for (int i = 0; i < 3; ++i) {
        int fd = Connect(port);
        ASSERT_GE(fd, 0);
        send(fd, upgrade.data(), upgrade.size(), MSG_NOSIGNAL);
        EXPECT_EQ(ReadUntilClosed(fd, 300ms), accepted);
        clients.push_back(fd);
    }
    // A text frame is ignored; a close frame ends that connection.
    send(clients[0], "\x81\x80\x01\x02\x03\x04", 6, MSG_NOSIGNAL);
    EXPECT_FALSE(ClosedByPeer(clients[0], 200ms));
    send(clients[2], "\x88\x80\x01\x02\x03\x04", 6, MSG_NOSIGNAL);
    EXPECT_TRUE(ClosedByPeer(clients[2], 2000ms));
    // At stop every upgraded client gets the close frame.
    server.StopWebServer();
    for (int i = 0; i < 2; ++i) EXPECT_EQ(ReadUntilClosed(clients[i]), std::string("\x88\x00", 2));
    for (int fd : clients) close(fd);
}

TEST_F(ServerTest, DebugLinesOnlyWhenAsked) {
    Exchange({"GET / HTTP/1.0\r\n\r\n"});
    EXPECT_TRUE(log.Lines().empty());
    server.SetDebugMessages(true);
    Exchange({"GET / HTTP/1.0\r\n\r\n"});
    Exchange({"GET /missing HTTP/1.0\r\n\r\n"});
    Exchange({"POST /UNI%MW0 HTTP/1.0\r\n\r\n"});
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "Webserver : GET from IP(127.0.0.1), send file '" + root.path() +
                                 "/index.html', 5 bytes");
    EXPECT_EQ(lines[0].colour, static_cast<unsigned>(kLogGreen));
    EXPECT_EQ(lines[1].text,
              "Webserver : GET from IP(127.0.0.1), can't found file '" + root.path() + "/missing'");
    EXPECT_EQ(lines[1].colour, static_cast<unsigned>(kLogRed));
    EXPECT_EQ(lines[2].text,
              "Webserver : POST from IP(127.0.0.1), UNI request (%MW0), answer (v(%MW0))");
    EXPECT_EQ(lines[2].colour, static_cast<unsigned>(kLogBlue));
}

TEST_F(ServerTest, StartAndStop) {
    EXPECT_TRUE(server.IsWebServerRunning());
    EXPECT_EQ(server.WebServerPort(), 0);
    WebServer second(log);
    EXPECT_EQ(second.StartWebServer(port), kServerCannotListen);  // the port is taken
    EXPECT_FALSE(second.IsWebServerRunning());
    EXPECT_EQ(second.WebServerPort(), port);
    server.StopWebServer();
    EXPECT_FALSE(server.IsWebServerRunning());
    EXPECT_LT(Connect(port), 0);
    std::string address;
    ASSERT_EQ(second.StartWebServer(port, &address), 0);
    EXPECT_FALSE(address.empty());
    EXPECT_EQ(HostAddress(), address);
}

}  // namespace
}  // namespace tsr
