#include <gtest/gtest.h>

#include <set>
#include <string>

#include "designer/library_tree.h"
#include "model/catalogue.h"

namespace tsr::designer {
namespace {

int FindItem(const std::string& text, const std::string& parentText) {
    auto items = LibraryItems();
    for (size_t i = 0; i < items.size(); ++i) {
        if (text != items[i].text) continue;
        const std::string parent = items[i].parent < 0 ? "" : items[items[i].parent].text;
        if (parent == parentText) return static_cast<int>(i);
    }
    return -1;
}

TEST(DesignerLibraryTree, ItemsCreateTheirTypesUnderTheirGroups) {
    struct Case {
        const char* text;
        const char* parent;  // "" at the top level
        int typeId;
    } cases[] = {
        {"Page", "", 1},
        {"Header", "Page", 2},
        {"On Click Goto Page", "Button", 6},
        {"On Click Open Dialog", "Button", 31},
        {"On Click Run Script", "Button", 13},
        {"On Click Run Script", "Check box", 13},
        {"On Click Run Script", "Radio button", 13},
        {"On Change Run Script", "Switch", 15},
        {"On Change Run Script", "Slider", 15},
        {"On Change Run Script", "Knob", 15},
        {"On Input Run Script", "Text input", 18},
        {"Text area", "Page", 32},
        {"Iframe", "Page", 45},
        {"Accordion (child)", "Accordion (parent)", 26},
        {"List view (child)", "List view (parent)", 28},
        {"Script", "", 14},
        {"Gateways", "", kLibraryHeading},
        {"Corvane Gateway", "Gateways", 20},
        {"Set item value from Corvane variables table", "Corvane Gateway", 24},
        {"Link item value with one Unity simulator or M340 variable",
         "Schneider Electric Unity simulator or M340 Gateway", 38},
        {"Set item value from Embedded S71200 Webserver variables table",
         "Siemens S71200 Embedded Webserver Gateway", 46},
        {"Link item value with one Embedded Arduino Webserver variable",
         "Arduino Embedded Webserver Gateway", 48},
        {"SQL Lite Gateway", "Gateways", 30},
        {"Dll Gateway", "Gateways", 34},
        {"Printer Gateway", "Gateways", 33},
        {"Modbus TCP Gateway", "Gateways", 50},
        {"Link item value with one Modbus TCP device variable", "Modbus TCP Gateway", 51},
        {"MQTT Broker Gateway", "Gateways", 52},
        {"Link item value with one MQTT topic", "MQTT Broker Gateway", 53},
    };
    for (const Case& c : cases) {
        int index = FindItem(c.text, c.parent);
        ASSERT_GE(index, 0) << c.text << " under " << c.parent;
        EXPECT_EQ(LibraryItems()[index].typeId, c.typeId) << c.text;
    }
}

TEST(DesignerLibraryTree, OffersEveryTypeButTheProjectAndTheArduinoTableLink) {
    std::set<int> offered;
    auto items = LibraryItems();
    for (size_t i = 0; i < items.size(); ++i) {
        // A parent comes before its children, so the window can insert in one pass.
        EXPECT_LT(items[i].parent, static_cast<int>(i)) << items[i].text;
        if (items[i].typeId != kLibraryHeading) offered.insert(items[i].typeId);
    }
    EXPECT_EQ(items.size(), 57u);
    for (int type = 0; type < static_cast<int>(kTypeCount); ++type) {
        const bool expected = type != kTypeProject && type != 49;
        EXPECT_EQ(offered.count(type) == 1, expected) << "type " << type;
    }
    EXPECT_STREQ(items[LibraryExpandedAtStart()].text, "Page");
}

TEST(DesignerLibraryTree, OnlyTypeItemsStartADrag) {
    struct Case {
        const char* name;
        int index;
        bool expected;
    } cases[] = {
        {"Page", FindItem("Page", ""), true},
        {"Gateways heading", FindItem("Gateways", ""), false},
        {"Corvane Gateway", FindItem("Corvane Gateway", "Gateways"), true},
        {"before the first", -1, false},
        {"past the last", static_cast<int>(LibraryItems().size()), false},
    };
    for (const Case& c : cases) EXPECT_EQ(CanDragLibraryItem(c.index), c.expected) << c.name;
}

TEST(DesignerLibraryTree, ImageIndexPerTypeWithFallback) {
    struct Case {
        const char* name;
        int typeId;
        int expected;
    } cases[] = {
        {"project", 0, 1},
        {"page", 1, 2},
        {"knob", 19, 20},
        {"last type", 53, 54},
        {"heading", -1, kFallbackImage},
        {"past the table", 54, kFallbackImage},
    };
    for (const Case& c : cases) EXPECT_EQ(ImageIndexOfType(c.typeId), c.expected) << c.name;
    EXPECT_EQ(ImageIndexOfType(53), kImageCount - 1);
}

}  // namespace
}  // namespace tsr::designer
