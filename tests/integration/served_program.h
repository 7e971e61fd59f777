// A running program without a window, as `tessora-cli serve` has it: a project whose server is
// on (on a free port), its gateways, the web server and the generator, for the tests that drive
// gateways through the server's routes.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "base/log_sink.h"
#include "gateways/lifecycle.h"
#include "generator/generator.h"
#include "model/catalogue.h"
#include "socket_support.h"
#include "test_support.h"
#include "webserver/serving_hooks.h"

namespace tsr::test {

class ServedProgram {
public:
    ServedProgram() {
        setenv("LC_ALL", "C", 1);
        started = project.Start(tmp.path());
        ProjectDocument& doc = project.document();
        doc.SetProperty(doc.ProjectElement(), "webserveron", "1");
        doc.SetProperty(doc.ProjectElement(), "webserverport", "0");
    }

    // Adds an object of type `key` under the project.
    pugi::xml_node Add(const char* key) {
        pugi::xml_node n;
        project.document().CreateObject(FindTypeByKey(key), project.document().ProjectElement(), &n);
        return n;
    }
    // The answer body of a POST of `path` (and `body`) to the server.
    std::string Post(const std::string& path, const std::string& body = "") {
        return AnswerBody(HttpExchange(
            port(), "POST " + path + " HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\n\r\n" + body));
    }
    // The log lines other than the generation passes'.
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const auto& l : log.Lines())
            if (l.text.rfind("Generate:", 0) != 0) out.push_back(l.text);
        return out;
    }
    std::string LastMessage() const {
        const std::vector<std::string> m = Messages();
        return m.empty() ? "" : m.back();
    }
    uint16_t port() const { return server.ListeningPort(); }

    int started = -1;  // the working directory's creation: 0 when it worked
    ScratchDir tmp;
    Project project;
    RecordingLogSink log;
    Gateways gateways{log, project.workingDirectory()};
    WebServer server{log, gateways.Routes()};
    std::vector<std::string> shown;  // the messages the program would show in a box
    ServingHooks hooks{server, [this] { gateways.StopGateways(project.document()); },
                       [this] { gateways.StartGateways(project.document()); },
                       [this](const std::string& m) { shown.push_back(m); }};
    Generator generator{project, log, hooks, tmp / "nolibs"};
};

}  // namespace tsr::test
