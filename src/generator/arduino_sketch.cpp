#include "generator/arduino_sketch.h"

#include "platform/fs.h"

namespace tsr {
namespace {

constexpr std::string_view kOpening =
    "\r\n#include <SPI.h>\r\n#include <SD.h>\r\nPROGMEM const unsigned char datas[]=\r\n{\r\n";

constexpr std::string_view kClosing =
    "\r\n};\r\nvoid setup()\r\n{\r\nSerial.begin(9600);\r\nSerial.println(\"Initializing...\");"
    "\r\ndigitalWrite(10, HIGH);\r\nSD.begin(4);\r\nSerial.println(\"Writing to SD...\");\r\n"
    "File myFile;\r\nSD.remove(\"index.htm\");\r\nmyFile = SD.open(\"index.htm\", FILE_WRITE);"
    "\r\nif(!myFile)\r\n  {\r\n  Serial.println(\"SD access failed, please check SD card, reset "
    "Arduino and retry\");\r\n  return;\r\n  }\r\nunsigned len=sizeof(datas),count;\r\n"
    "for(count=0;count<len;count++)\r\n  {\r\n  myFile.write(pgm_read_byte_near(datas + count));"
    "\r\n  }\r\nmyFile.close();\r\nmyFile.flush();\r\nSerial.println(\"SD write success\");\r\n}"
    "\r\nvoid loop(void)\r\n{\r\n}\r\n\r\n";

}  // namespace

std::string ArduinoSketch(std::string_view document) {
    static const char kHex[] = "0123456789abcdef";
    std::string out(kOpening);
    out.reserve(kOpening.size() + document.size() * 5 + document.size() / 8 + kClosing.size());
    for (size_t i = 0; i < document.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(document[i]);
        out += "0x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
        out += ',';
        if ((i + 1) % 16 == 0) out += "\r\n";
    }
    out += kClosing;
    return out;
}

int WriteArduinoSketch(const std::string& indexPath, const std::string& sketchPath) {
    std::string document;
    if (!ReadFile(indexPath, document)) return kSketchReadFailed;
    return WriteFileReplacing(sketchPath, ArduinoSketch(document)) ? 0 : kSketchWriteFailed;
}

}  // namespace tsr
