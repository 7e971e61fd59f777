// The Arduino sketch that writes the generated document to a board's SD card as "index.htm".
#pragma once

#include <string>
#include <string_view>

namespace tsr {

// The sketch text for `document`: the document's bytes as a C array initialiser ("0x%2.2x,"
// each, sixteen to a line) between the sketch's opening and closing texts.
std::string ArduinoSketch(std::string_view document);

enum ArduinoSketchError : int {
    kSketchWriteFailed = 136,  // message id: the sketch cannot be written
    kSketchReadFailed = 137,   // message id: the document cannot be read
};

// Reads `indexPath` and writes its sketch to `sketchPath`. Returns 0, or the id of the message
// that says what failed (kSketchWriteFailed, kSketchReadFailed).
int WriteArduinoSketch(const std::string& indexPath, const std::string& sketchPath);

}  // namespace tsr
