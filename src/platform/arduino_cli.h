// Handing the Arduino sketch to the arduino-cli tool: the sketch directory it expects, the
// compile and upload command lines, and the boards it detects.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace tsr {

// arduino-cli builds a directory whose main file is "<dir>/<dir name>.ino". Copies the sketch
// text `sketchFile` byte for byte to "<its parent>/<its stem>/<its stem>.ino" (replacing an older
// copy), creating the directory when needed, and stores that directory in `*sketchDir` (when not
// null).
Status PrepareSketchDirectory(const std::string& sketchFile, std::string* sketchDir);

// {cli, "compile", "--fqbn", fqbn, sketchDir}
std::vector<std::string> ArduinoCompileArgs(const std::string& cli, const std::string& fqbn,
                                            const std::string& sketchDir);

// {cli, "upload", "-p", port, "--fqbn", fqbn, sketchDir}
std::vector<std::string> ArduinoUploadArgs(const std::string& cli, const std::string& fqbn,
                                           const std::string& port, const std::string& sketchDir);

struct ArduinoBoard {
    std::string port;  // e.g. "/dev/ttyACM0"
    std::string fqbn;  // e.g. "arduino:avr:uno"; empty when the port's board is unknown
    std::string name;  // e.g. "Arduino Uno"
};

// The boards in the output of "arduino-cli board list --format json": one entry per matching
// board of each port, or one entry with an empty fqbn for a port without matching boards. Reads
// both the top-level array of older versions and the {"detected_ports": [...]} object of newer
// ones. Text that is not such JSON gives an empty list.
std::vector<ArduinoBoard> ParseBoardList(std::string_view json);

struct ArduinoStep {
    bool ok = false;
    std::string output;  // what the tool printed, compile then upload
};

// Compiles `sketchDir` for `fqbn`, then, when that succeeded, uploads it to `port`. `onLine`
// receives each output line as it comes. ok only when both runs exit with 0.
ArduinoStep CompileAndUpload(const std::string& cli, const std::string& fqbn,
                             const std::string& port, const std::string& sketchDir,
                             const std::function<void(std::string_view)>& onLine);

}  // namespace tsr
