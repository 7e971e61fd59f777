// Fuzzes the web server's handling of one received request, files and routes included (no
// sockets): whatever arrives, the answer is well formed and no file outside the root is served.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/fs.h"
#include "webserver/server.h"

namespace {

class Echo : public tsr::DeviceFamily {
public:
    std::string ReadItem(std::string_view item) override { return std::string(item); }
    void WriteItem(std::string_view) override {}
};

class Sql : public tsr::SqlService {
public:
    bool Execute(const std::string& s, std::string& answer) override {
        answer = s;
        return !s.empty();
    }
};

class Dll : public tsr::DllService {
public:
    CallResult Call(const std::string& name, const std::string& body, std::string& a) override {
        if (name.empty()) return CallResult::NoProcedure;
        a = body;
        return CallResult::Done;
    }
};

// A web root holding index.html, beside a file that must never be served.
const std::string& Root() {
    static const std::string root = [] {
        // One fixed directory, reused by every run, so that runs leave nothing new behind.
        std::string base = tsr::TemporaryDirectory() + "/tessora-fuzz-" + std::to_string(getuid());
        mkdir(base.c_str(), 0700);
        mkdir((base + "/web").c_str(), 0700);
        tsr::WriteFile(base + "/web/index.html", "INDEX");
        tsr::WriteFile(base + "/secret", "SECRET");
        return base;
    }();
    return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Echo echo;
    static Sql sql;
    static Dll dll;
    static tsr::NullLogSink log;
    static tsr::WebServer* server = [] {
        auto* s = new tsr::WebServer(log, {&echo, &echo, &echo, &echo, &echo, &sql, nullptr, &dll});
        s->SetWebRoot(Root() + "/web/");
        s->SetDebugMessages(true);
        return s;
    }();
    std::string answer;
    const std::string_view request(reinterpret_cast<const char*>(data), size);
    int result = server->HandleRequest(request, 0x0100007f, answer);
    if (result != 1 && result != 2) abort();
    if (!answer.empty() && answer.rfind("HTTP/1.", 0) != 0) abort();
    if (answer.find("SECRET") != std::string::npos && request.find("SECRET") == std::string::npos)
        abort();
    return 0;
}
