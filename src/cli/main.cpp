// tessora-cli: the designer's core without a window.
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "base/log_fold.h"
#include "base/strings.h"
#include "cli/simulate.h"
#include "cli/users.h"
#include "generator/arduino_sketch.h"
#include "generator/build_copy.h"
#include "generator/generator.h"
#include "gateways/lifecycle.h"
#include "gateways/mqtt/site_publisher.h"
#include "gateways/trust.h"
#include "model/catalogue.h"
#include "model/catalogue_json.h"
#include "model/project_file.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "webserver/server.h"
#include "webserver/serving_hooks.h"

namespace {

const char kUsage[] =
    "usage: tessora-cli COMMAND ...\n"
    "  new FILE.tsr [--force]   write a new project (--force replaces an existing file)\n"
    "  show PROJECT             print the object tree (serial, type key, id or name)\n"
    "  catalogue                print the object catalogue as JSON\n"
    "  generate PROJECT [--out DIR] [--page NAME]\n"
    "                           write the web application (index.html and libraries) into DIR\n"
    "                           (default: ./WEB), opening the page NAME first\n"
    "  build PROJECT --to DIR [--83]\n"
    "                           copy the web application into DIR (whose parent must exist),\n"
    "                           with --83 under 8.3 file names with the references rewritten\n"
    "  serve PROJECT [--port N] [--debug] [--trust]\n"
    "                           generate and serve the project (on its port, or N) until Ctrl-C;\n"
    "                           --debug logs every request; gateways that load a shared library,\n"
    "                           open a database outside the project or print to a file start\n"
    "                           only with --trust\n"
    "      [--listen ADDR] [--allow CIDR,...] [--write-allow CIDR,...]\n"
    "                           listen on ADDR only (IPv4 or IPv6; default: every IPv4 address);\n"
    "                           answer only clients in --allow (others get 403 Forbidden);\n"
    "                           carry out write items only for clients in --write-allow\n"
    "      [--max-age MS]       answer a device read from a value read less than MS ms ago\n"
    "                           (default 200, 0 to 60000; 0: every read asks the device)\n"
    "      [--users FILE [--anonymous-read]] [--tls-cert PEM --tls-key PEM | --tls-self-signed]\n"
    "                           sign-in: viewers read, operators also write (--anonymous-read:\n"
    "                           anyone allowed may read); HTTPS with the certificate and key, or\n"
    "                           with one made for this machine once and kept in the profile\n"
    "                           directory; --users without HTTPS needs --insecure-login\n"
    "      [--publish mqtt://HOST:PORT/PREFIX]\n"
    "                           publish every value read from a device, retained, to the MQTT\n"
    "                           broker under PREFIX/FAMILY/ITEM when it changes (mqtts:// for TLS)\n"
    "  arduino PROJECT --sketch FILE\n"
    "                           write the Arduino sketch that puts the page on an SD card\n";

// The usage text with the simulate command's lines.
std::string UsageText() {
    return std::string(kUsage) + tsr::cli::kSimulateUsage + tsr::cli::kUserUsage;
}

int Usage() {
    std::fputs(UsageText().c_str(), stderr);
    return 2;
}

// A command line that cannot be run: what is wrong with it, then the usage.
int UsageError(const std::string& what) {
    std::fprintf(stderr, "tessora-cli: %s\n", what.c_str());
    return Usage();
}

int Error(const std::string& message) {
    std::fprintf(stderr, "tessora-cli: %s\n", message.c_str());
    return 1;
}

// Makes the project's working directory; prints why when it cannot.
bool StartProject(tsr::Project& project) {
    int rc = project.Start();
    if (rc == 0) return true;
    Error("cannot create a working directory in the temporary directory (code " +
          std::to_string(rc) + ")");
    return false;
}

int CommandNew(const std::vector<std::string>& args) {
    std::string path;
    bool force = false;
    for (const std::string& a : args) {
        if (a == "--force") {
            force = true;
        } else if (path.empty()) {
            path = a;
        } else {
            return UsageError("one project file only (also given: " + a + ")");
        }
    }
    if (path.empty()) return UsageError("the project file is missing");
    tsr::Project project;
    if (!StartProject(project)) return 1;
    tsr::Status s =
        project.Save(path, force ? tsr::SaveMode::Replace : tsr::SaveMode::CreateNew);
    if (s.code == tsr::kSaveExists) return Error(path + " already exists (use --force to replace it)");
    return s ? 0 : Error(s.message + " : " + path);
}

int CommandShow(const std::vector<std::string>& args) {
    if (args.empty()) return UsageError("the project file is missing");
    if (args.size() > 1) return UsageError("one project file only (also given: " + args[1] + ")");
    tsr::Project project;
    if (!StartProject(project)) return 1;
    tsr::Status s = project.Load(args[0]);
    if (!s) return Error(s.message);
    int serial = 0;
    project.document().ForEachObject([&](pugi::xml_node n, int depth) {
        const char* label = n.attribute("id") ? n.attribute("id").value()
                                              : n.attribute("name").value();
        std::printf("%4d  %*s%s%s%s\n", serial++, depth * 2, "", n.name(), *label ? "  " : "",
                    label);
        return true;
    });
    return 0;
}

// Log lines of a generation pass, printed on standard error.
class StderrLog : public tsr::LogSink {
public:
    void LogText(std::string_view text, unsigned) override {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    }
};

// Parses "PROJECT [--name VALUE]...": `options` lists the accepted names and receives values.
// On a bad command line, `why` says what is wrong with it.
bool ParseProjectArgs(const std::vector<std::string>& args, std::string& project,
                      std::vector<std::pair<std::string, std::string>>& options, std::string* why) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i].rfind("--", 0) == 0) {
            auto option = std::find_if(options.begin(), options.end(),
                                       [&](const auto& o) { return o.first == args[i]; });
            if (option == options.end()) {
                *why = "unknown option " + args[i];
                return false;
            }
            if (i + 1 >= args.size()) {
                *why = args[i] + " needs a value";
                return false;
            }
            option->second = args[++i];
        } else if (project.empty()) {
            project = args[i];
        } else {
            *why = "one project only (also given: " + args[i] + ")";
            return false;
        }
    }
    if (project.empty()) *why = "the project file is missing";
    return !project.empty();
}

// The same, with the option at `required` that must be given.
bool ParseProjectArgs(const std::vector<std::string>& args, std::string& project,
                      std::vector<std::pair<std::string, std::string>>& options, std::string* why,
                      size_t required) {
    if (!ParseProjectArgs(args, project, options, why)) return false;
    if (!options[required].second.empty()) return true;
    *why = options[required].first + " is missing";
    return false;
}

bool HasPageNamed(const tsr::ProjectDocument& doc, const std::string& name) {
    bool found = false;
    doc.ForEachObject([&](pugi::xml_node n, int) {
        if (std::string_view(n.name()) == "page" && tsr::GetPropertyOr(n, "name", "") == name)
            found = true;
        return !found;
    });
    return found;
}

// Loads `path` and runs one generation pass into `outDir`; prints why when it cannot.
bool GenerateInto(tsr::Project& project, const std::string& path, const std::string& outDir,
                  const std::string& page) {
    if (!StartProject(project)) return false;
    tsr::Status s = project.Load(path);
    if (!s) {
        Error(s.message);
        return false;
    }
    StderrLog log;
    for (const std::string& line : project.loadCorrections()) log.LogText(line, tsr::kLogRed);
    tsr::GenerationHooks noServer;
    tsr::Generator generator(project, log, noServer, tsr::ProgramLibraryDirectory());
    if (!outDir.empty()) {
        mkdir(outDir.c_str(), 0755);
        generator.SetOutputDirectory(outDir);
    }
    if (!page.empty() && !HasPageNamed(project.document(), page))
        std::fprintf(stderr, "tessora-cli: warning: no page is named %s; the application opens on "
                             "its first page\n", page.c_str());
    if (generator.generateApplication(page.empty() ? std::nullopt
                                                   : std::optional<std::string>(page)))
        return true;
    Error("cannot write " + generator.outputDirectory() + "/index.html");
    return false;
}

int CommandGenerate(const std::vector<std::string>& args) {
    std::string path;
    std::vector<std::pair<std::string, std::string>> options = {{"--out", "WEB"}, {"--page", ""}};
    std::string why;
    if (!ParseProjectArgs(args, path, options, &why)) return UsageError(why);
    tsr::Project project;
    return GenerateInto(project, path, options[0].second, options[1].second) ? 0 : 1;
}

int CommandArduino(const std::vector<std::string>& args) {
    std::string path;
    std::vector<std::pair<std::string, std::string>> options = {{"--sketch", ""}};
    std::string why;
    if (!ParseProjectArgs(args, path, options, &why, 0)) return UsageError(why);
    tsr::Project project;
    if (!GenerateInto(project, path, {}, {})) return 1;
    const std::string index = project.workingDirectory().outputDirectory() + "/index.html";
    int rc = tsr::WriteArduinoSketch(index, options[0].second);
    if (rc != 0) return Error(tsr::LoadString(rc) + " : " + options[0].second);
    return 0;
}

int CommandBuild(std::vector<std::string> args) {
    bool use83 = false;
    std::erase_if(args, [&](const std::string& a) { return a == "--83" && (use83 = true); });
    std::string path;
    std::vector<std::pair<std::string, std::string>> options = {{"--to", ""}};
    std::string why;
    if (!ParseProjectArgs(args, path, options, &why, 0)) return UsageError(why);
    tsr::Project project;
    if (!GenerateInto(project, path, {}, {})) return 1;
    std::string failed;
    int rc = tsr::CopyBuild(project.workingDirectory().outputDirectory(), options[0].second, use83,
                            &failed);
    if (rc != tsr::kBuildCopyOk)
        return Error(tsr::LoadString(134) + " (" + std::to_string(rc) + ") : " + failed);
    return 0;
}

// Log lines on the terminal: "HH:MM:SS: text", coloured when standard error is a terminal.
class TerminalLog : public tsr::LogSink {
public:
    TerminalLog() : colour_(isatty(2)) {}
    void LogText(std::string_view text, unsigned colour) override {
        time_t now = time(nullptr);
        struct tm local;
        localtime_r(&now, &local);
        char stamp[16];
        strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
        const char* code = colour == tsr::kLogRed ? "31" : colour == tsr::kLogGreen ? "32" : "34";
        std::lock_guard<std::mutex> lock(mutex_);
        if (colour_) {
            std::fprintf(stderr, "%s: \033[%sm%.*s\033[0m\n", stamp, code,
                         static_cast<int>(text.size()), text.data());
        } else {
            std::fprintf(stderr, "%s: %.*s\n", stamp, static_cast<int>(text.size()), text.data());
        }
    }

private:
    std::mutex mutex_;
    bool colour_;
};

int CommandServe(std::vector<std::string> args) {
    bool debug = false, trust = false, anonymousRead = false, selfSigned = false, insecure = false;
    std::erase_if(args, [&](const std::string& a) { return a == "--debug" && (debug = true); });
    std::erase_if(args, [&](const std::string& a) { return a == "--trust" && (trust = true); });
    std::erase_if(args, [&](const std::string& a) {
        return a == "--anonymous-read" && (anonymousRead = true);
    });
    std::erase_if(args, [&](const std::string& a) {
        return a == "--tls-self-signed" && (selfSigned = true);
    });
    std::erase_if(args, [&](const std::string& a) {
        return a == "--insecure-login" && (insecure = true);
    });
    std::string path;
    std::vector<std::pair<std::string, std::string>> options = {
        {"--port", ""}, {"--listen", ""}, {"--allow", ""}, {"--write-allow", ""}, {"--max-age", ""},
        {"--users", ""}, {"--tls-cert", ""}, {"--tls-key", ""}, {"--publish", ""}};
    std::string why;
    if (!ParseProjectArgs(args, path, options, &why)) return UsageError(why);
    // An option given with an empty value is refused like any other malformed value.
    for (size_t i = 1; i < options.size(); ++i) {
        const bool given = std::find(args.begin(), args.end(), options[i].first) != args.end();
        if (given && options[i].second.empty())
            return Error(options[i].first + ": the value is empty");
    }
    const tsr::ServerAccessResult access = tsr::ParseServerAccess(
        {options[1].second, options[2].second, options[3].second},
        {"--listen", "--allow", "--write-allow"});
    if (!access) return Error(access.error);
    std::chrono::milliseconds maxAge = tsr::kDefaultMaxAge;
    if (!options[4].second.empty()) {
        std::optional<std::chrono::milliseconds> given = tsr::ParseMaxAge(options[4].second);
        if (!given)
            return Error("--max-age: " + options[4].second +
                         " is not a whole number of milliseconds from 0 to 60000");
        maxAge = *given;
    }
    const std::string& usersFile = options[5].second;
    const std::string& certFile = options[6].second;
    const std::string& keyFile = options[7].second;
    if (certFile.empty() != keyFile.empty()) return Error("--tls-cert and --tls-key go together");
    if (selfSigned && !certFile.empty())
        return Error("--tls-self-signed or --tls-cert/--tls-key, not both");
    const bool https = selfSigned || !certFile.empty();
    if (anonymousRead && usersFile.empty()) return Error("--anonymous-read goes with --users");
    if (insecure && usersFile.empty()) return Error("--insecure-login goes with --users");
    if (!usersFile.empty() && !https && !insecure)
        return Error("--users: passwords would travel in clear; serve HTTPS (--tls-cert and "
                     "--tls-key, or --tls-self-signed), or give --insecure-login to accept that");
    std::shared_ptr<tsr::UserDirectory> users;
    if (!usersFile.empty()) {
        users = std::make_shared<tsr::UserDirectory>();
        const std::string why = users->Load(usersFile);
        if (!why.empty()) return Error("--users: " + why);
    }
    std::shared_ptr<const tsr::TlsContext> tls;
    if (https) {
        std::string cert = certFile, key = keyFile;
        if (selfSigned) {
            const std::string directory = tsr::ProfileDirectory();
            const std::string made = tsr::EnsureProfileDirectory();
            if (!made.empty()) return Error("--tls-self-signed: " + made);
            cert = directory + "/tls-cert.pem";
            key = directory + "/tls-key.pem";
            const std::string why =
                tsr::EnsureSelfSignedCertificate(cert, key, tsr::MachineNames());
            if (!why.empty()) return Error("--tls-self-signed: " + why);
        }
        std::string why;
        tls = tsr::TlsContext::FromFiles(cert, key, &why);
        if (!tls) return Error(why);
        std::fprintf(stderr, "HTTPS certificate %s\nSHA-256 fingerprint %s\n", cert.c_str(),
                     tls->fingerprint().c_str());
    }
    std::unique_ptr<tsr::SitePublisher> publisher;
    std::string publishUrl = options[8].second;
    std::optional<uint16_t> port;
    if (!options[0].second.empty()) {
        char* end = nullptr;
        long n = std::strtol(options[0].second.c_str(), &end, 10);
        if (*end != '\0' || n < 0 || n > 65535) return Error("bad port: " + options[0].second);
        port = static_cast<uint16_t>(n);
    }
    // Ctrl-C and SIGTERM are taken by the main loop below; every thread started from here on
    // inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    tsr::Project project;
    if (!StartProject(project)) return 1;
    tsr::Status s = project.Load(path);
    if (!s) return Error(s.message);
    TerminalLog terminal;
    // A gateway's state line, repeated at each retry, is written once per state.
    tsr::FoldingLogSink log(terminal);
    for (const std::string& line : project.loadCorrections()) log.LogText(line, tsr::kLogRed);
    tsr::Gateways gateways(log, project.workingDirectory());
    if (!trust) {
        const std::vector<tsr::OutsideReach> reaches =
            tsr::FindOutsideReaches(project.document(), project.workingDirectory().path());
        if (!reaches.empty()) {
            std::fprintf(stderr, "%s\n%s\n", tsr::DescribeReaches(path, reaches).c_str(),
                         tsr::LoadString(tsr::kTextTrustCliHint).c_str());
            gateways.SetTrusted(false);
        }
    }
    if (!publishUrl.empty()) {
        std::string why;
        publisher = tsr::SitePublisher::Make(publishUrl, log, &why);
        if (!publisher) return Error("--publish: " + why);
        publisher->Start();
    }
    tsr::WebServer server(log, publisher ? publisher->Wrap(gateways.Routes()) : gateways.Routes());
    server.SetMaxAge(maxAge);
    server.SetTls(tls);
    if (users) {
        const size_t slash = path.find_last_of('/');
        server.SetSignIn(users, anonymousRead,
                         "Tessora " + (slash == std::string::npos ? path : path.substr(slash + 1)));
        if (insecure)
            log.LogText("Sign-in without HTTPS: passwords travel in clear on the network",
                        tsr::kLogRed);
    }
    std::string failure;
    const tsr::ProjectDocument& doc = project.document();
    tsr::ServingHooks hooks(
        server, [&] { gateways.StopGateways(doc); }, [&] { gateways.StartGateways(doc); },
        [&](const std::string& m) { failure = m; });
    hooks.ForceServing(port, debug);
    hooks.SetAccess(access.access);
    tsr::Generator generator(project, log, hooks, tsr::ProgramLibraryDirectory());
    if (!generator.generateApplication()) return Error("cannot write the web application");
    if (!server.IsWebServerRunning()) {
        // The dialog's text carries the reason after the message; here it follows the port.
        const std::string cannot = tsr::LoadString(tsr::kMsgCannotCreateWebServer);
        if (failure.rfind(cannot, 0) == 0) failure = cannot;
        return Error(failure + " (" + std::to_string(server.WebServerPort()) + "): " +
                     server.StartFailure());
    }
    std::fprintf(stderr, "Serving %s on %s://%s:%u/ - press Ctrl-C to stop\n", path.c_str(),
                 tls ? "https" : "http", server.ServedAddress().c_str(), server.ListeningPort());
    for (;;) {
        timespec retry{5, 0};
        int sig = sigtimedwait(&stopSignals, nullptr, &retry);
        if (sig == SIGINT || sig == SIGTERM) break;
        if (sig < 0 && errno == EAGAIN && server.IsWebServerRunning()) gateways.RetryGateways(doc);
    }
    server.StopWebServer();
    gateways.StopGateways(doc);
    log.LogText("Server stopped", tsr::kLogGreen);
    return 0;
}

int CommandCatalogue(const std::vector<std::string>& args) {
    if (!args.empty()) return UsageError("catalogue takes no argument (given: " + args[0] + ")");
    std::fputs(tsr::CatalogueToJson().c_str(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return UsageError("the command is missing");
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "new") return CommandNew(args);
    if (command == "show") return CommandShow(args);
    if (command == "catalogue") return CommandCatalogue(args);
    if (command == "generate") return CommandGenerate(args);
    if (command == "arduino") return CommandArduino(args);
    if (command == "build") return CommandBuild(args);
    if (command == "serve") return CommandServe(args);
    if (command == "simulate") return tsr::cli::CommandSimulate(args);
    if (command == "user") return tsr::cli::CommandUser(args);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    return UsageError("unknown command " + command);
}
