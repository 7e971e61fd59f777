#include "generator/arduino_sketch.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace tsr {
namespace {

const std::string kOpening =
    "\r\n#include <SPI.h>\r\n#include <SD.h>\r\nPROGMEM const unsigned char datas[]=\r\n{\r\n";

TEST(ArduinoSketch, BytesSixteenToALine) {
    const std::string sketch = ArduinoSketch("0123456789ABCDEF\xff");
    ASSERT_EQ(sketch.rfind(kOpening, 0), 0u);
    const std::string values = sketch.substr(kOpening.size(), sketch.find("\r\n};") -
                                                                  kOpening.size());
    EXPECT_EQ(values,
              "0x30,0x31,0x32,0x33,0x34,0x35,0x36,0x37,0x38,0x39,0x41,0x42,0x43,0x44,0x45,0x46,"
              "\r\n0xff,");
    EXPECT_NE(sketch.find("SD.open(\"index.htm\", FILE_WRITE);\r\n"), std::string::npos);
    EXPECT_TRUE(sketch.ends_with("\r\nvoid loop(void)\r\n{\r\n}\r\n\r\n"));
}

TEST(ArduinoSketch, AnEmptyDocumentGivesOpeningThenClosing) {
    const std::string sketch = ArduinoSketch("");
    EXPECT_EQ(sketch.substr(0, kOpening.size() + 6), kOpening + "\r\n};\r\n");
    EXPECT_TRUE(sketch.ends_with(
        "Serial.println(\"SD write success\");\r\n}\r\nvoid loop(void)\r\n{\r\n}\r\n\r\n"));
}

TEST(ArduinoSketch, FileOutcomes) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "index.html", "<html>"));
    EXPECT_EQ(WriteArduinoSketch(dir / "index.html", dir / "s.c"), 0);
    EXPECT_EQ(test::ReadAll(dir / "s.c"), ArduinoSketch("<html>"));
    EXPECT_EQ(WriteArduinoSketch(dir / "missing.html", dir / "t.c"), kSketchReadFailed);
    EXPECT_EQ(WriteArduinoSketch(dir / "index.html", dir / "no/dir/s.c"), kSketchWriteFailed);
}

}  // namespace
}  // namespace tsr
