#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "designer/property_grid.h"
#include "designer_test_support.h"

namespace tsr::designer {
namespace {

using test::LoadXml;
using test::XmlText;

RowValue Text(const char* text) {
    RowValue v;
    v.text = text;
    return v;
}
RowValue Bool(bool value) {
    RowValue v;
    v.boolean = value;
    return v;
}
RowValue Number(uint32_t value) {
    RowValue v;
    v.number = value;
    return v;
}
RowValue Real(double value) {
    RowValue v;
    v.real = value;
    return v;
}

std::vector<std::string> Labels(const PropertyGrid& grid) {
    std::vector<std::string> labels;
    for (const GridRow& row : grid.rows) labels.push_back(row.label);
    return labels;
}

const GridRow* RowByKey(const PropertyGrid& grid, const char* key) {
    for (const GridRow& row : grid.rows) {
        if (std::string(PropertyKeyAt(row.ref.typeId, row.ref.propertyIndex)) == key) return &row;
    }
    return nullptr;
}

TEST(DesignerPropertyGrid, ChoiceOptionsStopAtTheFirstEmptyField) {
    struct Case {
        const char* list;
        std::vector<std::string> expected;
    } cases[] = {
        {"Left;Center;Right", {"Left", "Center", "Right"}},
        {"Left;;Right", {"Left"}},
        {"Left;", {"Left"}},
        {";Left", {}},
        {"", {}},
        {"Only", {"Only"}},
    };
    for (const Case& c : cases) EXPECT_EQ(ChoiceOptions(c.list), c.expected) << c.list;
}

TEST(DesignerPropertyGrid, StoredTextReadAsTheRowShowsIt) {
    struct Case {
        const char* name;
        PropertyKind kind;
        const char* text;
        RowValue expected;
    } cases[] = {
        {"boolean 2 is true", PropertyKind::Boolean, "2", Bool(true)},
        {"boolean 0 is false", PropertyKind::Boolean, "0", {}},
        {"boolean text is false", PropertyKind::Boolean, "true", {}},
        {"boolean leading digits", PropertyKind::Boolean, " 1x", Bool(true)},
        {"uint16 in range", PropertyKind::UInt16, "40000", Number(40000)},
        {"uint16 keeps the low bits", PropertyKind::UInt16, "65616", Number(80)},
        {"uint16 negative", PropertyKind::UInt16, "-1", Number(65535)},
        {"uint16 empty", PropertyKind::UInt16, "", {}},
        {"uint32", PropertyKind::UInt32, "3000000", Number(3000000)},
        {"uint32 saturates like atoi", PropertyKind::UInt32, "4294967295", Number(2147483647)},
        {"colour blue", PropertyKind::Colour, "16711680", Number(0xFF0000)},
        {"real", PropertyKind::Real, "0.2", Real(0.2)},
        {"real exponent", PropertyKind::Real, "1e3", Real(1000)},
        {"real with trailing text", PropertyKind::Real, "  -2.5abc", Real(-2.5)},
        {"real plus sign", PropertyKind::Real, "+7", Real(7)},
        {"real not a number", PropertyKind::Real, "abc", {}},
        {"real double sign", PropertyKind::Real, "--1", {}},
        {"text kept", PropertyKind::Text, " 12 ", Text(" 12 ")},
        {"choice kept", PropertyKind::Choice, "Center", Text("Center")},
        {"script kept", PropertyKind::Script, "a();\nb();", Text("a();\nb();")},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseRowValue(c.kind, c.text), c.expected) << c.name;
}

TEST(DesignerPropertyGrid, TextWrittenBackPerKind) {
    struct Case {
        const char* name;
        PropertyKind kind;
        RowValue value;
        const char* expected;
    } cases[] = {
        {"real six significant digits", PropertyKind::Real, Real(1234567), "1.23457e+06"},
        {"real 0.2", PropertyKind::Real, Real(0.2), "0.2"},
        {"real whole", PropertyKind::Real, Real(100), "100"},
        {"real small", PropertyKind::Real, Real(0.00001), "1e-05"},
        {"real negative", PropertyKind::Real, Real(-0.5), "-0.5"},
        {"colour red", PropertyKind::Colour, Number(0x0000FF), "255"},
        {"colour blue", PropertyKind::Colour, Number(0xFF0000), "16711680"},
        {"boolean true", PropertyKind::Boolean, Bool(true), "1"},
        {"boolean false", PropertyKind::Boolean, {}, "0"},
        {"uint16", PropertyKind::UInt16, Number(8080), "8080"},
        {"uint16 truncated", PropertyKind::UInt16, Number(70000), "4464"},
        {"uint32", PropertyKind::UInt32, Number(4000000000u), "4000000000"},
        {"text", PropertyKind::Text, Text("a b"), "a b"},
        {"template", PropertyKind::Template, Text("<div>"), "<div>"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatRowValue(c.kind, c.value), c.expected) << c.name;
}

// What the grid shows: whole numbers as whole numbers, other reals in their shortest form.
TEST(DesignerPropertyGrid, RowsShowIntegersAsIntegers) {
    struct Case {
        const char* name;
        PropertyKind kind;
        RowValue value;
        const char* expected;
    } cases[] = {
        {"a whole real", PropertyKind::Real, Real(150), "150"},
        {"a fraction", PropertyKind::Real, Real(0.2), "0.2"},
        {"a negative real", PropertyKind::Real, Real(-2.5), "-2.5"},
        {"zero", PropertyKind::Real, Real(0), "0"},
        {"uint16", PropertyKind::UInt16, Number(80), "80"},
        {"uint32", PropertyKind::UInt32, Number(4294967295u), "4294967295"},
        {"boolean", PropertyKind::Boolean, Bool(true), "True"},
        {"text", PropertyKind::Text, Text("150.0"), "150.0"},
    };
    for (const Case& c : cases) EXPECT_EQ(RowDisplayText(c.kind, c.value), c.expected) << c.name;
}

// A typed number is checked against its property's range; what is refused says the range.
TEST(DesignerPropertyGrid, TypedNumbersAreCheckedAgainstTheirRange) {
    setenv("LANG", "C", 1);
    auto ref = [](const char* type, const char* key) {
        const int t = FindTypeByKey(type);
        return RowRef{t, 0, FindPropertyByKey(t, key)};
    };
    const char* kPort = "Web server port number: enter a whole number from 1 to 65535";
    const char* kRefresh = "Refresh period: enter a whole number from 50 to 4294967295";
    struct Case {
        const char* name;
        RowRef ref;
        PropertyKind kind;
        const char* text;
        std::optional<RowValue> accepted;  // nullopt: refused with `error`
        const char* error;
    } cases[] = {
        {"a port", ref("project", "webserverport"), PropertyKind::UInt16, "8080", Number(8080), ""},
        {"blanks and a plus", ref("project", "webserverport"), PropertyKind::UInt16, " +81 ",
         Number(81), ""},
        {"the highest port", ref("project", "webserverport"), PropertyKind::UInt16, "65535",
         Number(65535), ""},
        {"past 16 bits", ref("project", "webserverport"), PropertyKind::UInt16, "70000",
         std::nullopt, kPort},
        {"negative", ref("project", "webserverport"), PropertyKind::UInt16, "-1", std::nullopt,
         kPort},
        {"port zero", ref("project", "webserverport"), PropertyKind::UInt16, "0", std::nullopt,
         kPort},
        {"no number", ref("project", "webserverport"), PropertyKind::UInt16, "80a", std::nullopt,
         kPort},
        {"empty", ref("project", "webserverport"), PropertyKind::UInt16, "", std::nullopt, kPort},
        {"a fraction for a whole number", ref("project", "webserverport"), PropertyKind::UInt16,
         "80.5", std::nullopt, kPort},
        {"refresh period 0", ref("unitylink", "refreshperiod"), PropertyKind::UInt32, "0",
         std::nullopt, kRefresh},
        {"refresh period 49", ref("unitylink", "refreshperiod"), PropertyKind::UInt32, "49",
         std::nullopt, kRefresh},
        {"refresh period 50", ref("unitylink", "refreshperiod"), PropertyKind::UInt32, "50",
         Number(50), ""},
        {"past 32 bits", ref("unitylink", "refreshperiod"), PropertyKind::UInt32, "4294967296",
         std::nullopt, kRefresh},
        {"plot length 0", ref("plot", "length"), PropertyKind::UInt32, "0", std::nullopt,
         "Length: enter a whole number from 1 to 4294967295"},
        {"a Modbus unit", ref("modbusgateway", "unit"), PropertyKind::UInt16, "256", std::nullopt,
         "Unit identifier: enter a whole number from 0 to 255"},
        {"a knob width", ref("knob", "width"), PropertyKind::Real, "150", Real(150), ""},
        {"a negative knob width", ref("knob", "width"), PropertyKind::Real, "-1", std::nullopt,
         "Width: enter a number of at least 0"},
        {"a negative knob value", ref("knob", "value"), PropertyKind::Real, "-12.5", Real(-12.5),
         ""},
        {"a knob value that is no number", ref("knob", "value"), PropertyKind::Real, "abc",
         std::nullopt, "Value: enter a number"},
        {"a text row", ref("knob", "id"), PropertyKind::Text, "-1", Text("-1"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NumericEntry entry = CheckNumericEntry(c.ref, c.kind, c.text);
        EXPECT_EQ(entry.accepted, c.accepted.has_value());
        if (c.accepted) {
            EXPECT_EQ(entry.value, *c.accepted);
        }
        EXPECT_EQ(entry.error, c.error);
    }
    setenv("LANG", "fr_FR.UTF-8", 1);
    EXPECT_EQ(
        CheckNumericEntry(ref("project", "webserverport"), PropertyKind::UInt16, "70000").error,
        "Web server port number : entrez un nombre entier de 1 à 65535");
    EXPECT_EQ(CheckNumericEntry(ref("knob", "width"), PropertyKind::Real, "-1").error,
              "Width : entrez un nombre supérieur ou égal à 0");
    setenv("LANG", "C", 1);
}

TEST(DesignerPropertyGrid, BoldWhenTheValueDiffersFromTheDefault) {
    struct Case {
        const char* name;
        PropertyKind kind;
        const char* text;
        const char* defaultText;
        bool expected;
    } cases[] = {
        {"numbered id", PropertyKind::Text, "knob12", "knob#", false},
        {"renamed id", PropertyKind::Text, "speed", "knob#", true},
        {"id without number", PropertyKind::Text, "knob", "knob#", true},
        {"same text", PropertyKind::Text, "", "", false},
        {"real written differently", PropertyKind::Real, "1.0", "1", false},
        {"real changed", PropertyKind::Real, "0.3", "0.2", true},
        {"boolean 2 shows as 1", PropertyKind::Boolean, "2", "1", false},
        {"boolean changed", PropertyKind::Boolean, "0", "1", true},
        {"colour changed", PropertyKind::Colour, "255", "65535", true},
        {"choice same", PropertyKind::Choice, "Left", "Left", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DiffersFromDefault(c.kind, c.text, c.defaultText), c.expected) << c.name;
    }
}

class DesignerPropertyGridDocument : public ::testing::Test {
protected:
    void SetUp() override {
        LoadXml(doc,
                "<tsr><project webserveron='0' webserverport='80'>"
                "<page name='FirstPage' align='Center'>"
                "<knob value='1234' fgcolor='255' displayvalue='2' id='knob1'/>"
                "</page></project></tsr>");
    }
    static constexpr int kProject = 0, kPage = 1, kKnob = 2;
    ProjectDocument doc;
};

TEST_F(DesignerPropertyGridDocument, PageRowsInBothModes) {
    auto normal = BuildPropertyGrid(doc, kPage, false);
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->caption, "Page");
    EXPECT_EQ(Labels(*normal), (std::vector<std::string>{"Name of the page", "Alignment"}));
    const GridRow& name = normal->rows[0];
    EXPECT_EQ(name.kind, PropertyKind::Text);
    EXPECT_TRUE(name.typing);
    EXPECT_FALSE(name.button);
    EXPECT_EQ(name.description, "Name of the page, should be unique");
    EXPECT_EQ(name.value.text, "FirstPage");
    const GridRow& align = normal->rows[1];
    EXPECT_EQ(align.kind, PropertyKind::Choice);
    EXPECT_EQ(align.options, (std::vector<std::string>{"Left", "Center", "Right"}));
    EXPECT_FALSE(align.typing);
    EXPECT_FALSE(align.button);
    EXPECT_TRUE(align.differsFromDefault);

    auto expert = BuildPropertyGrid(doc, kPage, true);
    ASSERT_TRUE(expert);
    EXPECT_EQ(Labels(*expert),
              (std::vector<std::string>{"Name of the page (name)", "Alignment (align)",
                                        "Html begin (htmlh)", "Html end (htmlf)"}));
    for (size_t i = 2; i < 4; ++i) {
        EXPECT_EQ(expert->rows[i].kind, PropertyKind::Template);
        EXPECT_TRUE(expert->rows[i].button);
        EXPECT_FALSE(expert->rows[i].typing);
        EXPECT_EQ(expert->rows[i].ref.propertyIndex, static_cast<int>(i));
    }
}

TEST_F(DesignerPropertyGridDocument, ToggleExpertModeTwiceGivesTheSameRows) {
    auto before = BuildPropertyGrid(doc, kKnob, false);
    auto expert = BuildPropertyGrid(doc, kKnob, true);
    auto after = BuildPropertyGrid(doc, kKnob, false);
    ASSERT_TRUE(before && expert && after);
    EXPECT_EQ(*before, *after);
    EXPECT_NE(*before, *expert);
    EXPECT_GT(expert->rows.size(), before->rows.size());
}

TEST_F(DesignerPropertyGridDocument, RowsSkipTemplatesButKeepTheirIndexes) {
    for (bool expert : {false, true}) {
        auto grid = BuildPropertyGrid(doc, kKnob, expert);
        ASSERT_TRUE(grid);
        int previous = -1;
        for (const GridRow& row : grid->rows) {
            EXPECT_GT(row.ref.propertyIndex, previous);
            previous = row.ref.propertyIndex;
            EXPECT_EQ(row.ref.serial, kKnob);
            EXPECT_EQ(row.ref.typeId, kTypeKnob);
            EXPECT_EQ(row.kind, PropertyKindAt(kTypeKnob, row.ref.propertyIndex));
            if (!expert) {
                EXPECT_NE(row.kind, PropertyKind::Template) << row.label;
            }
        }
        int templates = 0;
        for (int i = 0; i < PropertyCount(kTypeKnob); ++i) {
            templates += PropertyKindAt(kTypeKnob, i) == PropertyKind::Template;
        }
        EXPECT_EQ(grid->rows.size(),
                  static_cast<size_t>(PropertyCount(kTypeKnob) - (expert ? 0 : templates)));
    }
}

TEST_F(DesignerPropertyGridDocument, ColourRowsHaveBareLabelsAndNoDescription) {
    for (bool expert : {false, true}) {
        auto grid = BuildPropertyGrid(doc, kKnob, expert);
        ASSERT_TRUE(grid);
        struct Case {
            const char* key;
            const char* label;
            uint32_t colour;
        } cases[] = {{"fgcolor", "Foreground color", 255}, {"bgcolor", "Background color", 65535}};
        for (const Case& c : cases) {
            const GridRow* row = RowByKey(*grid, c.key);
            ASSERT_NE(row, nullptr) << c.key;
            EXPECT_EQ(row->label, c.label);
            EXPECT_EQ(row->description, "");
            EXPECT_EQ(row->value.number, c.colour);
            EXPECT_FALSE(row->typing);
            EXPECT_FALSE(row->button);
        }
        // Other rows carry their key in expert mode.
        EXPECT_EQ(RowByKey(*grid, "value")->label, expert ? "Value (value)" : "Value");
    }
}

TEST_F(DesignerPropertyGridDocument, MissingAttributesAreFilledWithoutMarkingAChange) {
    auto grid = BuildPropertyGrid(doc, kKnob, false);
    ASSERT_TRUE(grid);
    pugi::xml_node knob = doc.FindObjectBySerial(kKnob);
    EXPECT_STREQ(knob.attribute("max").value(), "100");
    EXPECT_STREQ(knob.attribute("bgcolor").value(), "65535");
    EXPECT_DOUBLE_EQ(RowByKey(*grid, "max")->value.real, 100.0);
    EXPECT_FALSE(RowByKey(*grid, "max")->differsFromDefault);
    EXPECT_TRUE(RowByKey(*grid, "value")->differsFromDefault);
    EXPECT_FALSE(RowByKey(*grid, "id")->differsFromDefault);
    EXPECT_TRUE(RowByKey(*grid, "displayvalue")->value.boolean);
    EXPECT_FALSE(doc.ProjectChanged());
    // Template attributes are filled only when their rows are built.
    EXPECT_FALSE(knob.attribute("htmlh"));
    BuildPropertyGrid(doc, kKnob, true);
    EXPECT_TRUE(knob.attribute("htmlh"));
    EXPECT_FALSE(doc.ProjectChanged());
}

TEST_F(DesignerPropertyGridDocument, NoGridForAMissingObject) {
    EXPECT_FALSE(BuildPropertyGrid(doc, 3, false));
    EXPECT_FALSE(BuildPropertyGrid(doc, -1, true));
}

TEST_F(DesignerPropertyGridDocument, DoubleClickCyclesChoicesAndBooleans) {
    GridRow align = *RowByKey(*BuildPropertyGrid(doc, kPage, false), "align");
    struct Case {
        const char* current;
        std::optional<std::string> expected;
    } cases[] = {{"Left", "Center"},
                 {"Center", "Right"},
                 {"Right", "Left"},
                 {"Middle", std::nullopt},
                 {"", std::nullopt}};
    for (const Case& c : cases) {
        align.value.text = c.current;
        std::optional<RowValue> next = NextValueOnDoubleClick(align);
        EXPECT_EQ(next.has_value(), c.expected.has_value()) << c.current;
        if (next && c.expected) {
            EXPECT_EQ(next->text, *c.expected) << c.current;
        }
    }
    GridRow shown = *RowByKey(*BuildPropertyGrid(doc, kKnob, false), "displayvalue");
    ASSERT_TRUE(shown.value.boolean);  // stored "2"
    std::optional<RowValue> off = NextValueOnDoubleClick(shown);
    ASSERT_TRUE(off);
    EXPECT_FALSE(off->boolean);
    EXPECT_EQ(ApplyPropertyEdit(doc, shown.ref, *off).text, "0");
    EXPECT_STREQ(doc.FindObjectBySerial(kKnob).attribute("displayvalue").value(), "0");
    GridRow value = *RowByKey(*BuildPropertyGrid(doc, kKnob, false), "value");
    EXPECT_FALSE(NextValueOnDoubleClick(value));
}

TEST_F(DesignerPropertyGridDocument, EditsWrittenBack) {
    auto grid = BuildPropertyGrid(doc, kKnob, false);
    auto project = BuildPropertyGrid(doc, kProject, false);
    auto page = BuildPropertyGrid(doc, kPage, false);
    ASSERT_TRUE(grid && project && page);
    struct Case {
        const char* name;
        RowRef ref;
        RowValue value;
        const char* key;
        const char* stored;
    } cases[] = {
        {"port", RowByKey(*project, "webserverport")->ref, Number(8080), "webserverport", "8080"},
        {"server on", RowByKey(*project, "webserveron")->ref, Bool(true), "webserveron", "1"},
        {"real", RowByKey(*grid, "value")->ref, Real(1234567), "value", "1.23457e+06"},
        {"colour", RowByKey(*grid, "fgcolor")->ref, Number(0xFF0000), "fgcolor", "16711680"},
        {"choice", RowByKey(*page, "align")->ref, Text("Right"), "align", "Right"},
        {"text", RowByKey(*page, "name")->ref, Text("Main"), "name", "Main"},
    };
    for (const Case& c : cases) {
        doc.SetProjectChanged(false);
        EditOutcome outcome = ApplyPropertyEdit(doc, c.ref, c.value);
        EXPECT_TRUE(outcome.stored) << c.name;
        EXPECT_TRUE(outcome.refresh) << c.name;
        EXPECT_EQ(outcome.text, c.stored) << c.name;
        EXPECT_TRUE(doc.ProjectChanged()) << c.name;
        EXPECT_STREQ(doc.FindObjectBySerial(c.ref.serial).attribute(c.key).value(), c.stored)
            << c.name;
    }
}

TEST_F(DesignerPropertyGridDocument, EditsThatStoreNothing) {
    const RowRef align{kTypePage, kPage, FindPropertyByKey(kTypePage, "align")};
    const RowRef pageName{kTypePage, kPage, FindPropertyByKey(kTypePage, "name")};
    const RowRef textAfter{kTypeKnob, kKnob, FindPropertyByKey(kTypeKnob, "textafter")};
    struct Case {
        const char* name;
        RowRef ref;
        RowValue value;
        bool refresh;
        bool changed;
    } cases[] = {
        {"choice outside the list", align, Text("Middle"), false, false},
        {"missing attribute is not added", textAfter, Text("x"), true, true},
        {"object gone", {kTypePage, 9, pageName.propertyIndex}, Text("x"), true, true},
        {"unknown type", {77, kPage, 0}, Text("x"), false, true},
    };
    const std::string before = XmlText(doc);
    for (const Case& c : cases) {
        doc.SetProjectChanged(false);
        EditOutcome outcome = ApplyPropertyEdit(doc, c.ref, c.value);
        EXPECT_FALSE(outcome.stored) << c.name;
        EXPECT_EQ(outcome.refresh, c.refresh) << c.name;
        EXPECT_EQ(doc.ProjectChanged(), c.changed) << c.name;
        EXPECT_EQ(XmlText(doc), before) << c.name;
    }
}

}  // namespace
}  // namespace tsr::designer

namespace tsr::designer {
namespace {

// The server switch row shows a running server only; the project's server rows ask for a new
// start; the live-values hint is for a page with links and the switch off.
TEST(DesignerPropertyGrid, TheServerSwitchRowShowsWhetherTheServerRuns) {
    setenv("LANG", "C", 1);
    struct Case {
        const char* name;
        const char* stored;
        bool running;
        bool shown;
    } cases[] = {
        {"on and running", "1", true, true},
        {"on, but the start failed", "1", false, false},
        {"off", "0", false, false},
    };
    for (const Case& c : cases) {
        ProjectDocument doc;
        test::LoadXml(doc, (std::string("<tsr><project webserveron='") + c.stored +
                            "' webserverport='80'/></tsr>")
                               .c_str());
        std::optional<PropertyGrid> grid = BuildPropertyGrid(doc, 0, false);
        ASSERT_TRUE(grid);
        GridRow& row = grid->rows[0];
        ASSERT_EQ(row.label, "Activate web server");
        ShowServerState(doc, row, c.running);
        EXPECT_EQ(row.value.boolean, c.shown) << c.name;
        EXPECT_EQ(RowDisplayText(row.kind, row.value), c.shown ? "True" : "False") << c.name;
        // The port row is left as it is, and both rows ask for a new start.
        GridRow port = grid->rows[1];
        ShowServerState(doc, port, c.running);
        EXPECT_EQ(port.value, grid->rows[1].value);
        EXPECT_TRUE(IsServerSettingRow(row.ref));
        EXPECT_TRUE(IsServerSettingRow(port.ref));
        EXPECT_FALSE(IsServerSettingRow(grid->rows[2].ref));  // offline mode
    }
    EXPECT_EQ(LiveValuesHint(true, false),
              "The page has links, but the web server is off, so its widgets show no live "
              "values: set \"Activate web server\" of the project to True to see them.");
    EXPECT_FALSE(LiveValuesHint(true, true));
    EXPECT_FALSE(LiveValuesHint(false, false));
}

}  // namespace
}  // namespace tsr::designer
