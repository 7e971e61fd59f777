#include "designer/library_tree.h"

#include <iterator>

#include "model/catalogue.h"

namespace tsr::designer {
namespace {

// Parent indexes refer to positions in this table; keep them in step when inserting rows.
constexpr LibraryItem kItems[] = {
    /*  0 */ {"Page", 1, -1},
    /*  1 */ {"Header", 2, 0},
    /*  2 */ {"Button", 4, 0},
    /*  3 */ {"On Click Goto Page", 6, 2},
    /*  4 */ {"On Click Open Dialog", 31, 2},
    /*  5 */ {"On Click Run Script", 13, 2},
    /*  6 */ {"Switch", 5, 0},
    /*  7 */ {"On Change Run Script", 15, 6},
    /*  8 */ {"Check box", 9, 0},
    /*  9 */ {"On Click Run Script", 13, 8},
    /* 10 */ {"Radio button", 10, 0},
    /* 11 */ {"On Click Run Script", 13, 10},
    /* 12 */ {"Text input", 16, 0},
    /* 13 */ {"On Input Run Script", 18, 12},
    /* 14 */ {"Text area", 32, 0},
    /* 15 */ {"Label", 12, 0},
    /* 16 */ {"Slider", 17, 0},
    /* 17 */ {"On Change Run Script", 15, 16},
    /* 18 */ {"Knob", 19, 0},
    /* 19 */ {"On Change Run Script", 15, 18},
    /* 20 */ {"Plot", 23, 0},
    /* 21 */ {"Footer", 3, 0},
    /* 22 */ {"Vertical group", 8, 0},
    /* 23 */ {"Horizontal group", 7, 0},
    /* 24 */ {"Form", 11, 0},
    /* 25 */ {"Div", 21, 0},
    /* 26 */ {"Span", 29, 0},
    /* 27 */ {"Iframe", 45, 0},
    /* 28 */ {"Accordion (parent)", 25, 0},
    /* 29 */ {"Accordion (child)", 26, 28},
    /* 30 */ {"List view (parent)", 27, 0},
    /* 31 */ {"List view (child)", 28, 30},
    /* 32 */ {"Script", 14, -1},
    /* 33 */ {"Gateways", kLibraryHeading, -1},
    /* 34 */ {"Corvane Gateway", 20, 33},
    /* 35 */ {"Link item value with one Corvane variable", 22, 34},
    /* 36 */ {"Set item value from Corvane variables table", 24, 34},
    /* 37 */ {"Simora Gateway", 35, 33},
    /* 38 */ {"Link item value with one Simora Behavior", 36, 37},
    /* 39 */ {"Schneider Electric Unity simulator or M340 Gateway", 37, 33},
    /* 40 */ {"Link item value with one Unity simulator or M340 variable", 38, 39},
    /* 41 */ {"Siemens S7 IP Gateway", 39, 33},
    /* 42 */ {"Link item value with one S7 IP variable", 40, 41},
    /* 43 */ {"Siemens S71200 Embedded Webserver Gateway", 43, 33},
    /* 44 */ {"Link item value with one Embedded S71200 Webserver variable", 44, 43},
    /* 45 */ {"Set item value from Embedded S71200 Webserver variables table", 46, 43},
    /* 46 */ {"Arduino Embedded Webserver Gateway", 47, 33},
    /* 47 */ {"Link item value with one Embedded Arduino Webserver variable", 48, 46},
    /* 48 */ {"KX Gateway", 41, 33},
    /* 49 */ {"Link item value with one KX variable", 42, 48},
    /* 50 */ {"SQL Lite Gateway", 30, 33},
    /* 51 */ {"Dll Gateway", 34, 33},
    /* 52 */ {"Printer Gateway", 33, 33},
    /* 53 */ {"Modbus TCP Gateway", 50, 33},
    /* 54 */ {"Link item value with one Modbus TCP device variable", 51, 53},
    /* 55 */ {"MQTT Broker Gateway", 52, 33},
    /* 56 */ {"Link item value with one MQTT topic", 53, 55},
};

}  // namespace

std::span<const LibraryItem> LibraryItems() {
    return kItems;
}

int LibraryExpandedAtStart() {
    return 0;
}

bool CanDragLibraryItem(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kItems))) return false;
    return kItems[index].typeId != kLibraryHeading;
}

int ImageIndexOfType(int typeId) {
    if (typeId < 0 || typeId >= static_cast<int>(kTypeCount)) return kFallbackImage;
    return 1 + typeId;
}

}  // namespace tsr::designer
