#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "designer/drop_rule.h"
#include "designer/property_grid.h"
#include "designer/undo_history.h"
#include "designer_test_support.h"
#include "model/catalogue.h"

namespace tsr::designer {
namespace {

using test::LoadXml;
using test::XmlText;

// Serials: 0 project, 1 page P1, 2 knob, 3 header, 4 page P2, 5 corvanegateway.
constexpr const char* kDocument =
    "<tsr><project webserverport='80'>"
    "<page name='P1'><knob id='knob1' step='1'/><header text='Line&#13;&#10;7&#9;x'/></page>"
    "<page name='P2'/><corvanegateway id='cvn1'/>"
    "</project></tsr>";

// One change as the designer makes it: the state before is taken, the change runs, and the
// step is recorded when the document changed.
bool Change(UndoHistory& history, ProjectDocument& doc,
            const std::function<void(ProjectDocument&)>& change) {
    DocumentSnapshot before = TakeSnapshot(doc);
    change(doc);
    return history.Record(std::move(before), doc);
}

struct NamedChange {
    const char* name;
    std::function<void(ProjectDocument&)> run;
};

// The serial of the first element named `element` (with `name` as its name when given); the
// changes find their objects this way, so that they apply after one another too.
int SerialOfFirst(const ProjectDocument& d, const char* element, const char* name = nullptr) {
    return d.SerialOf(d.xml().find_node([&](pugi::xml_node n) {
        return std::string(n.name()) == element &&
               (!name || std::string(n.attribute("name").value()) == name);
    }));
}

std::vector<NamedChange> Changes() {
    return {
        {"a library drop", [](ProjectDocument& d) {
             Drop(d, DragSource::Library(FindTypeByKey("slider")), SerialOfFirst(d, "page", "P1"));
         }},
        {"a project drop", [](ProjectDocument& d) {
             Drop(d, DragSource::Project(d, SerialOfFirst(d, "knob")),
                  SerialOfFirst(d, "page", "P2"));
         }},
        {"a move up", [](ProjectDocument& d) {
             MoveAmongSiblings(d, SerialOfFirst(d, "page", "P2"), MoveDirection::Up);
         }},
        {"a delete", [](ProjectDocument& d) { DeleteSelected(d, SerialOfFirst(d, "header")); }},
        {"a duplicate", [](ProjectDocument& d) {
             RunContextCommand(d, ContextCommand::Duplicate, SerialOfFirst(d, "corvanegateway"));
         }},
        {"a property edit", [](ProjectDocument& d) {
             RowValue value;
             value.number = 8080;
             ApplyPropertyEdit(d, {0, 0, FindPropertyByKey(0, "webserverport")}, value);
         }},
        {"a text with line ends and tabs", [](ProjectDocument& d) {
             d.SetProperty(d.FindObjectBySerial(SerialOfFirst(d, "page", "P1")), "name",
                           "a\r\n\tb\n");
         }},
    };
}

TEST(DesignerUndoHistory, UndoRestoresTheDocumentByteForByteAndRedoReplays) {
    for (const NamedChange& c : Changes()) {
        SCOPED_TRACE(c.name);
        ProjectDocument doc;
        LoadXml(doc, kDocument, false);
        UndoHistory history;
        const std::string before = XmlText(doc);
        ASSERT_TRUE(Change(history, doc, c.run));
        const std::string after = XmlText(doc);
        ASSERT_NE(after, before);
        EXPECT_TRUE(doc.ProjectChanged());
        EXPECT_TRUE(history.CanUndo());
        EXPECT_FALSE(history.CanRedo());

        ASSERT_TRUE(history.Undo(doc));
        EXPECT_EQ(XmlText(doc), before);
        EXPECT_FALSE(doc.ProjectChanged()) << "back at the unchanged state";
        EXPECT_FALSE(history.CanUndo());
        EXPECT_TRUE(history.CanRedo());

        ASSERT_TRUE(history.Redo(doc));
        EXPECT_EQ(XmlText(doc), after);
        EXPECT_TRUE(doc.ProjectChanged());

        // And again: a snapshot survives being restored.
        ASSERT_TRUE(history.Undo(doc));
        EXPECT_EQ(XmlText(doc), before);
        ASSERT_TRUE(history.Redo(doc));
        EXPECT_EQ(XmlText(doc), after);
    }
}

TEST(DesignerUndoHistory, SeveralStepsGoBackInOrder) {
    ProjectDocument doc;
    LoadXml(doc, kDocument, false);
    UndoHistory history;
    std::vector<std::string> states{XmlText(doc)};
    for (const NamedChange& c : Changes()) {
        ASSERT_TRUE(Change(history, doc, c.run)) << c.name;
        states.push_back(XmlText(doc));
    }
    EXPECT_EQ(history.undoCount(), Changes().size());
    for (size_t i = states.size() - 1; i > 0; --i) {
        ASSERT_TRUE(history.Undo(doc));
        EXPECT_EQ(XmlText(doc), states[i - 1]) << "step " << i;
    }
    EXPECT_FALSE(history.Undo(doc));
    EXPECT_EQ(XmlText(doc), states[0]);
    for (size_t i = 1; i < states.size(); ++i) {
        ASSERT_TRUE(history.Redo(doc));
        EXPECT_EQ(XmlText(doc), states[i]) << "step " << i;
    }
    EXPECT_FALSE(history.Redo(doc));
}

TEST(DesignerUndoHistory, AChangeThatChangedNothingIsNoStep) {
    ProjectDocument doc;
    LoadXml(doc, kDocument, false);
    UndoHistory history;
    // A refused drop, a move at the end, the same value written again.
    EXPECT_FALSE(Change(history, doc, [](ProjectDocument& d) {
        Drop(d, DragSource::Library(FindTypeByKey("knob")), 0);
    }));
    EXPECT_FALSE(Change(history, doc,
                        [](ProjectDocument& d) { MoveAmongSiblings(d, 5, MoveDirection::Down); }));
    EXPECT_FALSE(Change(history, doc, [](ProjectDocument& d) {
        d.SetProperty(d.ProjectElement(), "webserverport", "80");
    }));
    EXPECT_FALSE(history.CanUndo());
}

TEST(DesignerUndoHistory, ANewStepForgetsWhatCouldBeRedone) {
    ProjectDocument doc;
    LoadXml(doc, kDocument, false);
    UndoHistory history;
    ASSERT_TRUE(Change(history, doc, Changes()[0].run));
    ASSERT_TRUE(history.Undo(doc));
    ASSERT_TRUE(history.CanRedo());
    ASSERT_TRUE(Change(history, doc, Changes()[3].run));
    EXPECT_FALSE(history.CanRedo());
    EXPECT_EQ(history.undoCount(), 1u);
}

TEST(DesignerUndoHistory, TheOldestStepsGoBeyondTheLimit) {
    ProjectDocument doc;
    LoadXml(doc, kDocument, false);
    UndoHistory history(3);
    std::vector<std::string> states{XmlText(doc)};
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(Change(history, doc, [i](ProjectDocument& d) {
            d.SetProperty(d.ProjectElement(), "webserverport", std::to_string(8000 + i));
        }));
        states.push_back(XmlText(doc));
    }
    EXPECT_EQ(history.undoCount(), 3u);
    while (history.Undo(doc)) {
    }
    EXPECT_EQ(XmlText(doc), states[2]);
}

TEST(DesignerUndoHistory, TheUnsavedChangesFlagFollowsTheSavedState) {
    ProjectDocument doc;
    LoadXml(doc, kDocument, true);  // a new project: changed from the start
    UndoHistory history;
    ASSERT_TRUE(Change(history, doc, Changes()[0].run));  // A
    // Saved after A.
    doc.SetProjectChanged(false);
    history.MarkSaved(doc);
    ASSERT_TRUE(Change(history, doc, Changes()[5].run));  // B
    EXPECT_TRUE(doc.ProjectChanged());

    struct Step {
        bool undo;
        bool changedAfter;
    } steps[] = {
        {true, false},  // back to the saved state (after A)
        {true, true},   // before A: not what was saved, although it was a new project
        {false, false},  // redo A: saved again
        {false, true},   // redo B
    };
    for (const Step& s : steps) {
        ASSERT_TRUE(s.undo ? history.Undo(doc) : history.Redo(doc));
        EXPECT_EQ(doc.ProjectChanged(), s.changedAfter);
    }
}

TEST(DesignerUndoHistory, ClearForgetsEverything) {
    ProjectDocument doc;
    LoadXml(doc, kDocument, false);
    UndoHistory history;
    ASSERT_TRUE(Change(history, doc, Changes()[0].run));
    ASSERT_TRUE(Change(history, doc, Changes()[3].run));
    ASSERT_TRUE(history.Undo(doc));
    history.Clear();
    EXPECT_FALSE(history.CanUndo());
    EXPECT_FALSE(history.CanRedo());
    const std::string now = XmlText(doc);
    EXPECT_FALSE(history.Undo(doc));
    EXPECT_FALSE(history.Redo(doc));
    EXPECT_EQ(XmlText(doc), now);
}

TEST(DesignerUndoHistory, NewObjectsAreNumberedFromTheRestoredDocument) {
    ProjectDocument doc;
    LoadXml(doc, kDocument, false);
    UndoHistory history;
    ASSERT_TRUE(Change(history, doc, [](ProjectDocument& d) {
        Drop(d, DragSource::Library(FindTypeByKey("knob")), 1);
    }));
    EXPECT_EQ(doc.CountObjects(FindTypeByKey("knob")), 2u);
    ASSERT_TRUE(history.Undo(doc));
    pugi::xml_node created;
    ASSERT_EQ(doc.CreateObject(FindTypeByKey("knob"), doc.FindObjectBySerial(4), &created), 0);
    EXPECT_STREQ(created.attribute("id").value(), "knob2");
}

}  // namespace
}  // namespace tsr::designer
