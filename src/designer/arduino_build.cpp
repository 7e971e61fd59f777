#include "designer/arduino_build.h"

#include <cstdio>
#include <cstdlib>

#include "base/strings.h"
#include "generator/arduino_sketch.h"
#include "platform/arduino_cli.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/profile.h"

namespace tsr::designer {
namespace {

constexpr const char* kSection = "Tessora";
constexpr const char* kKeyBoard = "arduinofqbn";
constexpr const char* kKeyPort = "arduinoport";
constexpr const char* kKeySaveDirectory = "arduinosavedir";

std::string Format(int id, const std::string& argument) {
    const std::string format = LoadString(id);
    const size_t at = format.find("%s");
    if (at == std::string::npos) return format;
    return format.substr(0, at) + argument + format.substr(at + 2);
}

// Text `id` with its two "%s" replaced by `first` and `second`, in order.
std::string Format(int id, const std::string& first, const std::string& second) {
    const std::string format = LoadString(id);
    const std::string* arguments[] = {&first, &second};
    std::string text;
    size_t from = 0;
    for (const std::string* argument : arguments) {
        const size_t at = format.find("%s", from);
        if (at == std::string::npos) break;
        text += format.substr(from, at - from) + *argument;
        from = at + 2;
    }
    return text + format.substr(from);
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : "/";
}

// Without arduino-cli: offers to copy the sketch and its page out of the working directory.
ArduinoOutcome OfferSketchCopy(ArduinoHost& host, Profile& profile, const std::string& sketch,
                               const std::string& page) {
    if (!host.AskYesNo(Format(kTextArduinoNoCli, sketch) + "\n\n" +
                       LoadString(kTextArduinoSaveQuestion)))
        return ArduinoOutcome::SketchOnly;
    const std::optional<std::string> directory =
        host.AskDirectory(LoadString(kTextArduinoSaveDirectory),
                          profile.GetString(kSection, kKeySaveDirectory, HomeDirectory()));
    if (!directory || directory->empty()) return ArduinoOutcome::SketchOnly;
    profile.SetString(kSection, kKeySaveDirectory, *directory);
    std::string sketchCopy, pageCopy;
    const Status saved = SaveSketchCopy(sketch, page, *directory, &sketchCopy, &pageCopy);
    if (!saved) {
        host.ShowError(saved.message);
        return ArduinoOutcome::SaveFailed;
    }
    host.ShowInfo(Format(kTextArduinoSaved, sketchCopy, pageCopy));
    return ArduinoOutcome::SketchSaved;
}

// The board and port, from the profile or else asked (offering what arduino-cli detects) and
// kept. False when the user cancelled.
bool ChooseBoard(ArduinoHost& host, Profile& profile, const std::string& cli, std::string* fqbn,
                 std::string* port) {
    *fqbn = profile.GetString(kSection, kKeyBoard, "");
    *port = profile.GetString(kSection, kKeyPort, "");
    if (!fqbn->empty() && !port->empty()) return true;
    ArduinoBoard detected;
    if (auto listed = RunAndCapture({cli, "board", "list", "--format", "json"})) {
        for (const ArduinoBoard& board : ParseBoardList(listed->output)) {
            if (detected.port.empty() || (detected.fqbn.empty() && !board.fqbn.empty()))
                detected = board;
        }
    }
    auto board = host.AskText(LoadString(kTextArduinoBoardPrompt),
                              fqbn->empty() ? detected.fqbn : *fqbn);
    if (!board || board->empty()) return false;
    auto device = host.AskText(LoadString(kTextArduinoPortPrompt),
                               port->empty() ? detected.port : *port);
    if (!device || device->empty()) return false;
    *fqbn = *board;
    *port = *device;
    profile.SetString(kSection, kKeyBoard, *fqbn);
    profile.SetString(kSection, kKeyPort, *port);
    return true;
}

}  // namespace

Status SaveSketchCopy(const std::string& sketch, const std::string& page,
                      const std::string& directory, std::string* sketchCopy,
                      std::string* pageCopy) {
    const std::string sketchTarget = JoinPath(directory, "arduinosdwrite.c");
    const std::string pageTarget = JoinPath(directory, "index.htm");
    std::string sketchText, pageText;
    auto failed = [](int code, int message, const std::string& path) {
        return Status::Fail(code, LoadString(message) + "\n" + path);
    };
    if (!ReadFile(sketch, sketchText)) return failed(-2, kSketchReadFailed, sketch);
    if (!ReadFile(page, pageText)) return failed(-2, kSketchReadFailed, page);
    if (!WriteFileReplacing(sketchTarget, sketchText))
        return failed(-1, kSketchWriteFailed, sketchTarget);
    if (!WriteFileReplacing(pageTarget, pageText))
        return failed(-1, kSketchWriteFailed, pageTarget);
    if (sketchCopy) *sketchCopy = sketchTarget;
    if (pageCopy) *pageCopy = pageTarget;
    return Status::Ok();
}

ArduinoOutcome BuildToArduino(ArduinoHost& host, Profile& profile,
                              const std::string& workingDirectory,
                              const std::string& outputDirectory,
                              const std::optional<std::string>& cli) {
    if (!host.AskContinue(LoadString(kMsgArduinoContinue))) return ArduinoOutcome::Declined;
    const std::string sketch = workingDirectory + "/arduinosdwrite.c";
    const int written = WriteArduinoSketch(outputDirectory + "/index.html", sketch);
    if (written != 0) {
        host.ShowError(LoadString(written));
        return ArduinoOutcome::SketchFailed;
    }
    if (!cli) return OfferSketchCopy(host, profile, sketch, outputDirectory + "/index.html");
    std::string fqbn, port;
    if (!ChooseBoard(host, profile, *cli, &fqbn, &port)) return ArduinoOutcome::Declined;
    std::string sketchDir;
    const Status prepared = PrepareSketchDirectory(sketch, &sketchDir);
    if (!prepared) {
        host.ShowError(LoadString(kSketchWriteFailed) + "\n" + prepared.message);
        return ArduinoOutcome::SketchFailed;
    }
    ArduinoStep step{false, {}};
    host.RunWithProgress(LoadString(kTextArduinoProgress), [&] {
        step = CompileAndUpload(*cli, fqbn, port, sketchDir,
                                [&](std::string_view line) { host.LogLine(line); });
    });
    if (!step.ok) {
        // Asked again next time: the board or the port was probably wrong.
        profile.SetString(kSection, kKeyBoard, "");
        profile.SetString(kSection, kKeyPort, "");
        host.ShowError(LoadString(kTextArduinoFailed));
        return ArduinoOutcome::UploadFailed;
    }
    host.ShowInfo(LoadString(kMsgArduinoWait));
    return ArduinoOutcome::Uploaded;
}

}  // namespace tsr::designer
