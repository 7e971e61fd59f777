#include "platform/arduino_cli.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

#include "platform/fs.h"
#include "platform/process.h"

namespace tsr {
namespace {

using nlohmann::json;

// Member `key` of `object`, or null when `object` is not an object or has no such member.
const json* Member(const json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it != object.end() ? &*it : nullptr;
}

// The string member `key` of `object`, or empty when it is missing or not a string.
std::string StringMember(const json& object, const char* key) {
    const json* member = Member(object, key);
    return member && member->is_string() ? member->get<std::string>() : std::string();
}

const json* ArrayMember(const json& object, const char* key) {
    const json* member = Member(object, key);
    return member && member->is_array() ? member : nullptr;
}

void AddPort(const json& entry, std::vector<ArduinoBoard>& boards) {
    // The port is {"port": {"address": ...}}; the oldest versions put "address" on the entry.
    const json* port = Member(entry, "port");
    std::string address = port ? StringMember(*port, "address") : std::string();
    if (address.empty()) address = StringMember(entry, "address");
    if (address.empty()) return;
    const json* matching = ArrayMember(entry, "matching_boards");
    if (!matching) matching = ArrayMember(entry, "boards");
    bool added = false;
    if (matching) {
        for (const json& board : *matching) {
            if (!board.is_object()) continue;
            std::string fqbn = StringMember(board, "fqbn");
            if (fqbn.empty()) fqbn = StringMember(board, "FQBN");
            boards.push_back({address, fqbn, StringMember(board, "name")});
            added = true;
        }
    }
    if (!added) boards.push_back({address, {}, {}});
}

Status SketchFailure(const std::string& what, const std::string& path, int error) {
    return Status::Fail(-1, "Cannot " + what + " " + path + ": " + std::strerror(error));
}

}  // namespace

Status PrepareSketchDirectory(const std::string& sketchFile, std::string* sketchDir) {
    const std::string parent = DirectoryOf(sketchFile);
    std::string stem = FileNameOf(sketchFile);
    size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0) stem.resize(dot);
    if (stem.empty() || stem == "." || stem == "..")
        return Status::Fail(-1, "Not a sketch file name: " + sketchFile);

    std::string text;
    if (!ReadFile(sketchFile, text)) return SketchFailure("read", sketchFile, errno ? errno : EIO);
    const std::string dir = JoinPath(parent, stem);
    if (mkdir(dir.c_str(), 0755) != 0) {
        int error = errno;
        struct stat st;
        if (error != EEXIST) return SketchFailure("create the directory", dir, error);
        if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return SketchFailure("create the directory", dir, ENOTDIR);
    }
    const std::string ino = JoinPath(dir, stem + ".ino");
    if (!WriteFile(ino, text)) return SketchFailure("write", ino, errno ? errno : EIO);
    if (sketchDir) *sketchDir = dir;
    return Status::Ok();
}

std::vector<std::string> ArduinoCompileArgs(const std::string& cli, const std::string& fqbn,
                                            const std::string& sketchDir) {
    return {cli, "compile", "--fqbn", fqbn, sketchDir};
}

std::vector<std::string> ArduinoUploadArgs(const std::string& cli, const std::string& fqbn,
                                           const std::string& port, const std::string& sketchDir) {
    return {cli, "upload", "-p", port, "--fqbn", fqbn, sketchDir};
}

std::vector<ArduinoBoard> ParseBoardList(std::string_view text) {
    std::vector<ArduinoBoard> boards;
    json doc = json::parse(text, nullptr, /*allow_exceptions=*/false);
    const json* ports = doc.is_array() ? &doc : ArrayMember(doc, "detected_ports");
    if (!ports) return boards;
    for (const json& entry : *ports) AddPort(entry, boards);
    return boards;
}

ArduinoStep CompileAndUpload(const std::string& cli, const std::string& fqbn,
                             const std::string& port, const std::string& sketchDir,
                             const std::function<void(std::string_view)>& onLine) {
    ArduinoStep step;
    for (const std::vector<std::string>& args :
         {ArduinoCompileArgs(cli, fqbn, sketchDir), ArduinoUploadArgs(cli, fqbn, port, sketchDir)}) {
        std::optional<ProcessResult> run = RunAndCapture(args, onLine);
        if (!run) {
            const std::string message = "Cannot start " + cli;
            if (onLine) onLine(message);
            step.output += message + "\n";
            return step;
        }
        step.output += run->output;
        if (!step.output.empty() && step.output.back() != '\n') step.output += '\n';
        if (run->exitCode != 0) return step;
    }
    step.ok = true;
    return step;
}

}  // namespace tsr
