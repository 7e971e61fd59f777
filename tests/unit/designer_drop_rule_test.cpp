#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "designer/drop_rule.h"
#include "designer_test_support.h"
#include "generator/link_scripts.h"

namespace tsr::designer {
namespace {

using test::LoadXml;
using test::XmlText;

// Serials: 0 project, 1 page P1, 2 div d1, 3 div d2, 4 button, 5 knob, 6 page P2, 7 script,
// 8 corvanegateway.
constexpr const char* kDocument =
    "<tsr><project>"
    "<page name='P1'><div style='d1'><div style='d2'><button id='button1'/></div></div>"
    "<knob id='knob1'/></page>"
    "<page name='P2'/>"
    "<script/><corvanegateway id='cvn1'/>"
    "</project></tsr>";

constexpr int kProject = 0, kPage1 = 1, kDiv1 = 2, kDiv2 = 3, kButton = 4, kKnob = 5, kPage2 = 6,
              kScript = 7, kGateway = 8;

class DesignerDropRule : public ::testing::Test {
protected:
    void SetUp() override { LoadXml(doc, kDocument); }
    ProjectDocument doc;
};

TEST_F(DesignerDropRule, WhichTargetsAcceptADrop) {
    struct Case {
        const char* name;
        DragSource source;
        int target;
        bool expected;
    } cases[] = {
        {"knob onto a page", DragSource::Library(19), kPage1, true},
        {"knob onto the project", DragSource::Library(19), kProject, false},
        {"knob onto a script", DragSource::Library(19), kScript, false},
        {"header onto a div", DragSource::Library(2), kDiv1, true},
        {"header onto a button", DragSource::Library(2), kButton, false},
        {"gateway onto the project", DragSource::Library(20), kProject, true},
        {"gateway onto a page", DragSource::Library(20), kPage1, false},
        {"page onto the project", DragSource::Library(1), kProject, true},
        {"unknown type", DragSource::Library(99), kPage1, false},
        {"no such target", DragSource::Library(19), 42, false},
        {"negative target", DragSource::Library(19), -1, false},
        {"div onto its own descendant", DragSource::Project(doc, kDiv1), kDiv2, false},
        {"div onto itself", DragSource::Project(doc, kDiv2), kDiv2, false},
        {"div onto its parent div", DragSource::Project(doc, kDiv2), kDiv1, true},
        {"page onto the project", DragSource::Project(doc, kPage1), kProject, true},
        {"project onto a page", DragSource::Project(doc, kProject), kPage2, false},
        {"project onto itself", DragSource::Project(doc, kProject), kProject, false},
        {"knob onto a div", DragSource::Project(doc, kKnob), kDiv2, true},
        {"button onto another page", DragSource::Project(doc, kButton), kPage2, true},
        {"button onto a knob", DragSource::Project(doc, kButton), kKnob, false},
        {"gateway onto a page", DragSource::Project(doc, kGateway), kPage2, false},
        {"missing object", DragSource::Project(doc, 42), kPage2, false},
    };
    for (const Case& c : cases) EXPECT_EQ(CanDrop(doc, c.source, c.target), c.expected) << c.name;
}

TEST_F(DesignerDropRule, TheLastValidTargetSurvivesMovesOutsideTheTrees) {
    struct Case {
        const char* name;
        // Each entry is one mouse move over the trees: the project item under the cursor, or
        // none. Moves over other windows are not reported at all.
        std::vector<std::optional<int>> moves;
        std::optional<int> expected;
    } cases[] = {
        {"no move yet", {}, std::nullopt},
        {"over a page", {kPage1}, kPage1},
        {"over the project", {kProject}, std::nullopt},
        {"page, then an empty area", {kPage1, std::nullopt}, std::nullopt},
        {"page, then a refused target", {kPage1, kScript}, std::nullopt},
        {"refused, then a page", {kScript, kPage2}, kPage2},
        {"page, then the grid", {kPage2}, kPage2},
        {"page, then a div", {kPage1, kDiv2}, kDiv2},
    };
    for (const Case& c : cases) {
        DragSession drag(doc, DragSource::Library(19));
        for (const std::optional<int>& move : c.moves) {
            const bool accepted = drag.Hover(move);
            EXPECT_EQ(accepted, drag.target().has_value()) << c.name;
        }
        EXPECT_EQ(drag.target(), c.expected) << c.name;
    }
}

TEST_F(DesignerDropRule, LibraryDropCreatesTheLastChildAndSelectsIt) {
    StructuralChange change = Drop(doc, DragSource::Library(19), kPage2);
    ASSERT_TRUE(change.rebuild);
    pugi::xml_node page = doc.FindObjectBySerial(kPage2);
    EXPECT_EQ(change.select, page.last_child());
    EXPECT_STREQ(change.select.name(), "knob");
    // One knob existed: the new one is numbered 2.
    EXPECT_STREQ(change.select.attribute("id").value(), "knob2");
    ProjectTree tree = BuildProjectTree(doc, change.select);
    ASSERT_GE(tree.selected, 0);
    EXPECT_EQ(tree.items[tree.selected].text, "Knob — knob2");
    EXPECT_EQ(tree.items[tree.selected].parent, kPage2);
}

TEST_F(DesignerDropRule, ProjectDropMovesToTheEndAndSelectsTheMovedObject) {
    StructuralChange change = Drop(doc, DragSource::Project(doc, kPage1), kProject);
    ASSERT_TRUE(change.rebuild);
    pugi::xml_node project = doc.FindObjectBySerial(kProject);
    EXPECT_EQ(change.select, project.last_child());
    EXPECT_STREQ(change.select.attribute("name").value(), "P1");
    EXPECT_EQ(change.select.find_child_by_attribute("div", "style", "d1")
                  .child("div")
                  .child("button")
                  .attribute("id")
                  .as_string(),
              std::string("button1"));
    EXPECT_EQ(BuildProjectTree(doc, change.select).selected, doc.SerialOf(change.select));
}

TEST_F(DesignerDropRule, RefusedOrTargetlessDropsChangeNothing) {
    struct Case {
        const char* name;
        DragSource source;
        std::optional<int> target;
    } cases[] = {
        {"no target", DragSource::Library(19), std::nullopt},
        {"knob onto the project", DragSource::Library(19), kProject},
        {"div into its descendant", DragSource::Project(doc, kDiv1), kDiv2},
        {"project onto a page", DragSource::Project(doc, kProject), kPage1},
        {"target gone", DragSource::Library(19), 99},
    };
    const std::string before = XmlText(doc);
    for (const Case& c : cases) {
        StructuralChange change = Drop(doc, c.source, c.target);
        EXPECT_FALSE(change.rebuild) << c.name;
        EXPECT_FALSE(change.select) << c.name;
        EXPECT_EQ(XmlText(doc), before) << c.name;
        EXPECT_FALSE(doc.ProjectChanged()) << c.name;
    }
}

TEST_F(DesignerDropRule, ContextMenuOnEveryObjectButTheProject) {
    struct Case {
        const char* name;
        int serial;
        bool expected;
    } cases[] = {{"project", kProject, false}, {"page", kPage1, true}, {"knob", kKnob, true},
                 {"gateway", kGateway, true},  {"no item", 42, false}, {"negative", -1, false}};
    for (const Case& c : cases) EXPECT_EQ(HasContextMenu(doc, c.serial), c.expected) << c.name;
}

TEST_F(DesignerDropRule, DeleteRemovesTheWholeSubtree) {
    StructuralChange change = RunContextCommand(doc, ContextCommand::Delete, kPage1);
    EXPECT_TRUE(change.rebuild);
    EXPECT_FALSE(change.select);
    EXPECT_TRUE(doc.ProjectChanged());
    ProjectTree tree = BuildProjectTree(doc);
    std::vector<std::string> texts;
    for (const ProjectTreeItem& item : tree.items) texts.push_back(item.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Project", "Page — P2", "Script",
                                               "Corvane Gateway — cvn1"}));
    EXPECT_EQ(doc.CountObjects(19), 0u);
    EXPECT_EQ(doc.CountObjects(4), 0u);
}

TEST_F(DesignerDropRule, DuplicateAppendsACopyUnderTheSameParent) {
    StructuralChange change = RunContextCommand(doc, ContextCommand::Duplicate, kDiv2);
    EXPECT_TRUE(change.rebuild);
    EXPECT_TRUE(doc.ProjectChanged());
    pugi::xml_node div1 = doc.FindObjectBySerial(kDiv1);
    ASSERT_EQ(std::distance(div1.children().begin(), div1.children().end()), 2);
    EXPECT_STREQ(div1.last_child().attribute("style").value(), "d2");
    // The copy is selected, and its button has an id of its own.
    EXPECT_EQ(change.select, div1.last_child());
    EXPECT_STREQ(div1.last_child().child("button").attribute("id").value(), "b2");
}

// Serials of the fixture, in tree order, as a compact text: "1 P1 [2 3 4] 5 | 6 P2 ..." is
// not needed; the order of the object elements under one parent is enough.
std::vector<std::string> ChildNames(pugi::xml_node parent) {
    std::vector<std::string> names;
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
        std::string label = c.attribute("name").value();
        if (label.empty()) label = c.attribute("id").value();
        if (label.empty()) label = c.attribute("style").value();
        names.push_back(label.empty() ? c.name() : label);
    }
    return names;
}

TEST_F(DesignerDropRule, MoveUpAndDownTradePlacesAmongSiblings) {
    struct Case {
        const char* name;
        int serial;
        MoveDirection direction;
        bool moves;
        const char* parentName;  // the parent whose children are compared, by its label
        std::vector<std::string> childrenAfter;
        int selectedSerialAfter;  // where the moved object is afterwards (-1: nothing moved)
    } cases[] = {
        {"knob up past the div", kKnob, MoveDirection::Up, true, "P1", {"knob1", "d1"}, 2},
        {"div down past the knob", kDiv1, MoveDirection::Down, true, "P1", {"knob1", "d1"}, 3},
        {"first child up: nothing", kDiv1, MoveDirection::Up, false, "P1", {"d1", "knob1"}, -1},
        {"last child down: nothing", kKnob, MoveDirection::Down, false, "P1", {"d1", "knob1"},
         -1},
        {"only child: nothing", kButton, MoveDirection::Up, false, "d2", {"button1"}, -1},
        {"page down past the other page", kPage1, MoveDirection::Down, true, "project",
         {"P2", "P1", "script", "cvn1"}, 2},
        {"gateway up past the script", kGateway, MoveDirection::Up, true, "project",
         {"P1", "P2", "cvn1", "script"}, 7},
        {"the project never moves", kProject, MoveDirection::Down, false, "project",
         {"P1", "P2", "script", "cvn1"}, -1},
        {"no such object", 99, MoveDirection::Up, false, "project",
         {"P1", "P2", "script", "cvn1"}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoadXml(doc, kDocument);
        EXPECT_EQ(CanMoveAmongSiblings(doc, c.serial, c.direction), c.moves);
        const std::string before = XmlText(doc);
        StructuralChange change = MoveAmongSiblings(doc, c.serial, c.direction);
        EXPECT_EQ(change.rebuild, c.moves);
        EXPECT_EQ(doc.ProjectChanged(), c.moves);
        pugi::xml_node parent = std::string(c.parentName) == "project"
                                    ? doc.ProjectElement()
                                    : doc.xml().find_node([&](pugi::xml_node n) {
                                          return std::string(n.attribute("name").value()) ==
                                                     c.parentName ||
                                                 std::string(n.attribute("style").value()) ==
                                                     c.parentName;
                                      });
        ASSERT_TRUE(parent);
        EXPECT_EQ(ChildNames(parent), c.childrenAfter);
        if (c.moves) {
            // The moved object keeps its subtree and is the one the rebuilt tree selects.
            EXPECT_EQ(doc.SerialOf(change.select), c.selectedSerialAfter);
            EXPECT_EQ(doc.CountObjects(4), 1u);
        } else {
            EXPECT_EQ(XmlText(doc), before);
            EXPECT_FALSE(change.select);
        }
    }
}

TEST_F(DesignerDropRule, ElementsThatAreNoObjectsAreNoPlaces) {
    LoadXml(doc, "<tsr><project><page name='A'/><note/><page name='B'/></project></tsr>");
    // B goes up past the note, before A.
    StructuralChange change = MoveAmongSiblings(doc, 2, MoveDirection::Up);
    ASSERT_TRUE(change.rebuild);
    EXPECT_EQ(ChildNames(doc.ProjectElement()), (std::vector<std::string>{"B", "A", "note"}));
}

TEST_F(DesignerDropRule, TheDeleteKeySparesTheProjectAndAnEmptySelection) {
    struct Case {
        const char* name;
        std::optional<int> serial;
        bool deletes;
    } cases[] = {
        {"a page", kPage1, true},
        {"a gateway", kGateway, true},
        {"the project", kProject, false},
        {"nothing selected", std::nullopt, false},
        {"no such object", 99, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoadXml(doc, kDocument);
        const std::string before = XmlText(doc);
        const StructuralChange change = DeleteSelected(doc, c.serial);
        EXPECT_EQ(change.rebuild, c.deletes);
        // Unlike the context menu's command, a key that deletes nothing leaves no change behind.
        EXPECT_EQ(doc.ProjectChanged(), c.deletes);
        EXPECT_EQ(XmlText(doc) != before, c.deletes);
    }
}

TEST_F(DesignerDropRule, CommandsWithoutAnObjectOnlyMarkTheProjectChanged) {
    struct Case {
        const char* name;
        ContextCommand command;
        std::optional<int> serial;
    } cases[] = {
        {"delete, no item", ContextCommand::Delete, std::nullopt},
        {"duplicate, no item", ContextCommand::Duplicate, std::nullopt},
        {"delete the project", ContextCommand::Delete, kProject},
        {"duplicate the project", ContextCommand::Duplicate, kProject},
        {"delete a stale serial", ContextCommand::Delete, 42},
    };
    const std::string before = XmlText(doc);
    for (const Case& c : cases) {
        doc.SetProjectChanged(false);
        StructuralChange change = RunContextCommand(doc, c.command, c.serial);
        EXPECT_FALSE(change.rebuild) << c.name;
        EXPECT_EQ(XmlText(doc), before) << c.name;
        EXPECT_TRUE(doc.ProjectChanged()) << c.name;
    }
}

}  // namespace
}  // namespace tsr::designer

namespace tsr::designer {
namespace {

// Deleting a gateway asks first when links would be left without it, saying how many.
TEST(DesignerDeleteQuestion, AsksOnlyWhenLinksLoseTheirGateway) {
    setenv("LANG", "C", 1);
    // Serials: 0 project, 1 page, 2 knob, 3 link to uni1, 4 slider, 5 link to uni1, 6 switch,
    // 7 link to s71, 8 uni1, 9 s71, 10 kx1 (unused), then whatever the case appends.
    constexpr const char* kBase =
        "<tsr><project><page name='P'>"
        "<knob id='knob1'><unitylink gatewayid='uni1'/></knob>"
        "<slider id='slider1'><unitylink gatewayid='uni1'/></slider>"
        "<switch id='toggle1'><s7iplink gatewayid='s71'/></switch></page>"
        "<unigateway id='uni1'/><s7ipgateway id='s71'/><kxgateway id='kx1'/>%s"
        "</project></tsr>";
    struct Case {
        const char* name;
        const char* extra;
        std::optional<int> serial;
        unsigned links;
        const char* question;  // nullptr: no question
    } cases[] = {
        {"a gateway two links use", "", 8, 2,
         "2 links use gateway uni1. Without it, their widgets show no communication. Delete the "
         "gateway?"},
        {"a gateway one link uses", "", 9, 1,
         "A link uses gateway s71. Without it, its widget shows no communication. Delete the "
         "gateway?"},
        {"a gateway no link uses", "", 10, 0, nullptr},
        {"a widget", "", 2, 0, nullptr},
        {"a link", "", 3, 0, nullptr},
        {"another gateway has the same id", "<unigateway id='uni1'/>", 8, 0, nullptr},
        {"no item", "", std::nullopt, 0, nullptr},
        {"no such object", "", 42, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProjectDocument doc;
        std::string xml = kBase;
        xml.replace(xml.find("%s"), 2, c.extra);
        test::LoadXml(doc, xml.c_str());
        EXPECT_EQ(LinksUsingGateway(doc, c.serial), c.links);
        const std::optional<std::string> question = DeleteQuestion(doc, c.serial);
        EXPECT_EQ(question.has_value(), c.question != nullptr);
        if (question && c.question) {
            EXPECT_EQ(*question, c.question);
        }
    }
    ProjectDocument doc;
    std::string xml = kBase;
    xml.replace(xml.find("%s"), 2, "");
    test::LoadXml(doc, xml.c_str());
    setenv("LANG", "fr_FR.UTF-8", 1);
    EXPECT_EQ(DeleteQuestion(doc, 8),
              "2 liens utilisent la passerelle uni1. Sans elle, leurs widgets indiquent l'absence "
              "de communication. Supprimer la passerelle ?");
    setenv("LANG", "C", 1);
}

}  // namespace
}  // namespace tsr::designer

namespace tsr::designer {
namespace {

// A link dropped under a plot whose script is still the default gives the plot the script of a
// linked plot; any other script, and any other drop, is left as it is.
TEST(DesignerPlotScript, ALinkDroppedUnderADefaultPlotKeepsOnlyRealValues) {
    const std::string kDefault =
        "var rendererplot1 = function() {return plotplot1data}; var i; for (i = 0; i &lt; 15; "
        "i++) { plotplot1data[0].push([i, Math.random()]);}";
    const std::string kLinked =
        "var rendererplot1 = function() {return plotplot1data[0].length ? plotplot1data : "
        "[[null]]};";
    struct Case {
        const char* name;
        std::string script;   // the plot's script, as XML text
        std::string dragged;  // a library type key, or "move" to move the knob's link
        std::string expected;
    } cases[] = {
        {"a Unity link from the library", kDefault, "unitylink", kLinked},
        {"a table link from the library", kDefault, "cvnslink", kLinked},
        {"a link moved from the knob", kDefault, "move", kLinked},
        {"an edited script", "mine();", "unitylink", "mine();"},
        {"the renderer statement alone", "var rendererplot1 = function() {return plotplot1data};",
         "unitylink", "var rendererplot1 = function() {return plotplot1data};"},
        {"a linked plot's script already", kLinked, "s7iplink", kLinked},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProjectDocument doc;
        // Serials: 0 project, 1 page, 2 plot, 3 knob, 4 the knob's link.
        const std::string xml = "<tsr><project><page name='P'><plot id='plot1' script='" +
                                c.script +
                                "'/><knob id='knob1'><unitylink gatewayid='uni1'/></knob></page>"
                                "</project></tsr>";
        test::LoadXml(doc, xml.c_str());
        const DragSource source = c.dragged == "move"
                                      ? DragSource::Project(doc, 4)
                                      : DragSource::Library(FindTypeByKey(c.dragged.c_str()));
        const StructuralChange change = Drop(doc, source, 2);
        ASSERT_TRUE(change.rebuild);
        pugi::xml_node plot = doc.FindObjectBySerial(2);
        std::string expected = c.expected;
        for (size_t at = expected.find("&lt;"); at != std::string::npos; at = expected.find("&lt;"))
            expected.replace(at, 4, "<");
        EXPECT_EQ(GetProperty(plot, "script"), expected);
        EXPECT_TRUE(IsLinkType(ObjectTypeOf(plot.last_child())));
    }
    // A plot without a link keeps its script; a header dropped under a page changes nothing.
    ProjectDocument doc;
    test::LoadXml(doc, ("<tsr><project><page name='P'><plot id='plot1' script='" + kDefault +
                        "'/></page></project></tsr>")
                           .c_str());
    Drop(doc, DragSource::Library(FindTypeByKey("header")), 1);
    EXPECT_NE(GetProperty(doc.FindObjectBySerial(2), "script").find("Math.random()"),
              std::string::npos);
    EXPECT_EQ(LinkedPlotScript("temp"),
              "var renderertemp = function() {return plottempdata[0].length ? plottempdata : "
              "[[null]]};");
}

}  // namespace
}  // namespace tsr::designer
