#include <gtest/gtest.h>

#include <sstream>

#include "designer/library_tree.h"
#include "designer/project_tree.h"
#include "designer_test_support.h"

namespace tsr::designer {
namespace {

using test::LoadXml;

// Elements that are no type key ("note", "tsr" below the root) hide everything inside them.
constexpr const char* kDocument =
    "<tsr><project>"
    "<page name='A'><note><knob/></note><button><onclickscript/></button><knob/></page>"
    "<tsr><page name='Hidden'/></tsr>"
    "<script/><corvanegateway/>"
    "</project></tsr>";

TEST(DesignerProjectTree, OneItemPerObjectInDocumentOrder) {
    ProjectDocument doc;
    LoadXml(doc, kDocument);
    ProjectTree tree = BuildProjectTree(doc);
    struct Expected {
        const char* text;
        int typeId;
        int parent;
        std::vector<int> children;
    } expected[] = {
        {"Project", 0, -1, {1, 5, 6}},      {"Page — A", 1, 0, {2, 4}}, {"Button", 4, 1, {3}},
        {"On Click Run Script", 13, 2, {}}, {"Knob", 19, 1, {}},        {"Script", 14, 0, {}},
        {"Corvane Gateway", 20, 0, {}},
    };
    ASSERT_EQ(tree.items.size(), std::size(expected));
    for (size_t i = 0; i < tree.items.size(); ++i) {
        const ProjectTreeItem& item = tree.items[i];
        SCOPED_TRACE(expected[i].text);
        EXPECT_EQ(item.text, expected[i].text);
        EXPECT_EQ(item.typeId, expected[i].typeId);
        EXPECT_EQ(item.serial, static_cast<int>(i));
        EXPECT_EQ(item.parent, expected[i].parent);
        EXPECT_EQ(item.children, expected[i].children);
        EXPECT_EQ(item.image, ImageIndexOfType(item.typeId));
        EXPECT_TRUE(item.expanded);
        // The serial finds the same object again.
        EXPECT_EQ(ObjectTypeOf(doc.FindObjectBySerial(item.serial)), item.typeId);
    }
    EXPECT_EQ(tree.TopLevel(), std::vector<int>{0});
    EXPECT_EQ(tree.selected, -1);
}

TEST(DesignerProjectTree, FindBySerial) {
    ProjectDocument doc;
    LoadXml(doc, kDocument);
    ProjectTree tree = BuildProjectTree(doc);
    struct Case {
        int serial;
        const char* expected;  // nullptr: no item
    } cases[] = {{0, "Project"}, {4, "Knob"}, {6, "Corvane Gateway"}, {7, nullptr}, {-1, nullptr}};
    for (const Case& c : cases) {
        const ProjectTreeItem* item = tree.FindBySerial(c.serial);
        if (!c.expected) {
            EXPECT_EQ(item, nullptr) << c.serial;
            continue;
        }
        ASSERT_NE(item, nullptr) << c.serial;
        EXPECT_EQ(item->text, c.expected);
    }
}

TEST(DesignerProjectTree, SelectsTheGivenObject) {
    ProjectDocument doc;
    LoadXml(doc, kDocument);
    ProjectDocument other;
    other.NewProjectDocument();
    pugi::xml_node hidden = doc.Root().child("project").child("page").child("note").child("knob");
    struct Case {
        const char* name;
        pugi::xml_node select;
        int expected;
    } cases[] = {
        {"nothing", {}, -1},
        {"the script", doc.FindObjectBySerial(5), 5},
        {"the second knob", doc.FindObjectBySerial(4), 4},
        {"a knob hidden in a non-object", hidden, -1},
        {"an element of another document", other.FindObjectBySerial(1), -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildProjectTree(doc, c.select).selected, c.expected) << c.name;
}

TEST(DesignerProjectTree, NewProjectShowsTheProjectAndItsFirstPage) {
    ProjectDocument doc;
    doc.NewProjectDocument();
    ProjectTree tree = BuildProjectTree(doc);
    ASSERT_EQ(tree.items.size(), 2u);
    EXPECT_EQ(tree.items[0].text, "Project");
    EXPECT_EQ(tree.items[1].text, "Page — FirstPage");
    EXPECT_EQ(tree.items[1].parent, 0);
}

TEST(DesignerProjectTree, ItemTextsNameTheObject) {
    struct Case {
        const char* xml;
        const char* expected;
    } cases[] = {
        {"<page name='FirstPage'/>", "Page — FirstPage"},
        {"<slider id='slider1'/>", "Slider — slider1"},
        // A radio button's name is its group, shared by several: the id tells them apart.
        {"<radiob name='radio' id='rb2'/>", "Radio Button — rb2"},
        {"<radiob name='radio' id=''/>", "Radio Button — radio"},
        {"<page name=''/>", "Page"},
        {"<page/>", "Page"},
        {"<header text='My Header'/>", "Header"},
        {"<corvanegateway id='cvn1'/>", "Corvane Gateway — cvn1"},
        {"<page name='Vue générale'/>", "Page — Vue générale"},
        // A link shows its kind and its variable.
        {"<unitylink variable='%MW0' gatewayid='uni1'/>", "Unity link — %MW0"},
        {"<s71200webserverslink variable='MW100' len='4'/>", "S7-1200 table link — MW100"},
        {"<modbuslink variable='hr0:f32'/>", "Modbus link — hr0:f32"},
        {"<mqttlink variable='tele/plug|ENERGY.Power'/>", "MQTT link — tele/plug|ENERGY.Power"},
        {"<kxlink variable=''/>", "KX link"},
    };
    setenv("LANG", "C", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(c.xml));
        auto text = [&] {
            std::ostringstream out;
            doc.save(out, "", pugi::format_raw);
            return out.str();
        };
        const std::string before = text();
        EXPECT_EQ(ProjectItemText(doc.first_child()), c.expected);
        // Reading the label appends no missing attribute to the object.
        EXPECT_EQ(text(), before);
    }
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string("<cvnlink variable='m3'/>"));
    setenv("LANG", "fr_FR.UTF-8", 1);
    EXPECT_EQ(ProjectItemText(doc.first_child()), "Lien Corvane — m3");
    setenv("LANG", "C", 1);
}

}  // namespace
}  // namespace tsr::designer
