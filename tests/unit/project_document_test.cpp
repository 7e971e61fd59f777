#include "model/project_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/document_text.h"

namespace tsr {
namespace {

int Type(const char* key) { return FindTypeByKey(key); }

pugi::xml_node Create(ProjectDocument& doc, const char* key, pugi::xml_node parent) {
    pugi::xml_node n;
    EXPECT_EQ(doc.CreateObject(Type(key), parent, &n), 0) << key;
    return n;
}

// The element names and ids of the tree in pre-order, one "depth:key:id" per object.
std::vector<std::string> Outline(const ProjectDocument& doc) {
    std::vector<std::string> out;
    doc.ForEachObject([&](pugi::xml_node n, int depth) {
        out.push_back(std::to_string(depth) + ":" + n.name() + ":" + GetProperty(n, "id"));
        return true;
    });
    return out;
}

class ProjectDocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        doc.NewProjectDocument();
        project = doc.ProjectElement();
        page = project.first_child();
    }
    ProjectDocument doc;
    pugi::xml_node project, page;
};

TEST_F(ProjectDocumentTest, NewProjectHoldsProjectAndFirstPage) {
    EXPECT_STREQ(doc.Root().name(), "tsr");
    EXPECT_STREQ(project.name(), "project");
    std::vector<std::string> keys;
    for (pugi::xml_attribute a : project.attributes()) keys.push_back(a.name());
    EXPECT_EQ(keys, (std::vector<std::string>{"webserveron", "webserverport", "offline",
                                              "webdebugmsg", "htmlh", "htmlf", "script0"}));
    EXPECT_EQ(GetProperty(project, "webserveron"), "0");
    EXPECT_EQ(GetProperty(project, "webserverport"), "80");
    EXPECT_EQ(GetProperty(project, "htmlf"), "</body></html>");
    EXPECT_STREQ(page.name(), "page");
    EXPECT_EQ(GetProperty(page, "name"), "FirstPage");
    EXPECT_EQ(GetProperty(page, "align"), "Left");
    EXPECT_EQ(std::distance(page.attributes_begin(), page.attributes_end()), 4);
    EXPECT_FALSE(page.next_sibling());
    EXPECT_FALSE(page.first_child());
    EXPECT_TRUE(doc.ProjectChanged());
}

TEST_F(ProjectDocumentTest, NewObjectsAreNumberedFromTheObjectsThatExist) {
    pugi::xml_node k1 = Create(doc, "knob", page);
    pugi::xml_node k2 = Create(doc, "knob", page);  // no recount in between
    EXPECT_EQ(GetProperty(k1, "id"), "knob1");
    EXPECT_EQ(GetProperty(k2, "id"), "knob2");
    doc.DeleteObject(k1);
    doc.RecountTypes();
    // One knob is left, but "knob2" is taken: the next free number.
    EXPECT_EQ(GetProperty(Create(doc, "knob", page), "id"), "knob3");

    // Every '#' of every property of one object gets the same number.
    pugi::xml_node plot = Create(doc, "plot", page);
    EXPECT_EQ(GetProperty(plot, "script"),
              "var rendererplot1 = function() {return plotplot1data}; var i; for (i = 0; i < 15; "
              "i++) { plotplot1data[0].push([i, Math.random()]);}");
    EXPECT_EQ(GetProperty(plot, "id"), "plot1");
    EXPECT_EQ(GetProperty(Create(doc, "radiob", page), "value"), "1");
    EXPECT_EQ(GetProperty(Create(doc, "page", project), "name"), "Newpage2");  // FirstPage counts
    EXPECT_EQ(GetProperty(Create(doc, "kxlink", Create(doc, "knob", page)), "variable"),
              "%MW0@XPI11");
    EXPECT_EQ(GetProperty(Create(doc, "corvanegateway", project), "id"), "cvn1");
    EXPECT_EQ(GetProperty(Create(doc, "cvnlink", k2), "gatewayid"), "cvn1");
    // The onclickgoto template writes its literal '#' as a form, so nothing is numbered there.
    EXPECT_EQ(GetProperty(Create(doc, "onclickgoto", Create(doc, "button", page)), "htmlh"),
              " href=\"$$$**$$$$$$pagename$$$\"");
}

TEST_F(ProjectDocumentTest, NewObjectHasEveryPropertyInCatalogueOrder) {
    pugi::xml_node link = Create(doc, "arduinowebserverlink", Create(doc, "knob", page));
    std::vector<std::string> keys;
    for (pugi::xml_attribute a : link.attributes()) keys.push_back(a.name());
    EXPECT_EQ(keys, (std::vector<std::string>{"variable", "refreshperiod", "gatewayid"}));
    EXPECT_EQ(GetProperty(Create(doc, "arduinowsgateway", project), "address"), "''");
}

TEST_F(ProjectDocumentTest, CreateRefusesUnknownTypesAndMissingParents) {
    doc.SetProjectChanged(false);
    const std::string before = WriteDocumentText(doc.xml());
    pugi::xml_node out;
    EXPECT_EQ(doc.CreateObject(54, page, &out), -1);
    EXPECT_EQ(doc.CreateObject(-1, page, &out), -1);
    EXPECT_EQ(doc.CreateObject(Type("knob"), pugi::xml_node(), &out), -1);
    EXPECT_FALSE(out);
    EXPECT_EQ(WriteDocumentText(doc.xml()), before);
    EXPECT_FALSE(doc.ProjectChanged());
}

TEST_F(ProjectDocumentTest, DuplicateAppendsLastWithTheContentsCopied) {
    pugi::xml_node sw = Create(doc, "switch", page);
    Create(doc, "onchangescript", sw);
    Create(doc, "label", page);
    doc.SetProjectChanged(false);
    pugi::xml_node copy = doc.DuplicateObject(sw);
    EXPECT_EQ(copy, page.last_child());
    EXPECT_STREQ(copy.first_child().name(), "onchangescript");
    EXPECT_TRUE(doc.ProjectChanged());
    EXPECT_FALSE(doc.DuplicateObject(doc.Root()));
    EXPECT_FALSE(doc.DuplicateObject(pugi::xml_node()));
}

// The copy takes the id a new object of its type would take; what is not an id is copied.
TEST_F(ProjectDocumentTest, DuplicateGivesTheCopyTheNextFreeId) {
    struct Case {
        const char* name;
        const char* document;               // the page's contents; the first object is duplicated
        std::vector<std::string> expected;  // Outline of the page's objects afterwards
        const char* copyText;               // "key=value" of the copy expected, or ""
    } cases[] = {
        {"a lone knob", "<knob id='knob1'/>", {"knob:knob1", "knob:knob2"}, ""},
        {"the next number is taken",
         "<knob id='knob1'/><knob id='knob2'/>",
         {"knob:knob1", "knob:knob2", "knob:knob3"},
         ""},
        {"an id the user typed",
         "<knob id='setpoint'/><knob id='knob1'/>",
         {"knob:setpoint", "knob:knob1", "knob:knob3"},
         ""},
        {"the link keeps its gateway",
         "<knob id='knob1'><unitylink variable='%MW0' gatewayid='uni1'/></knob>",
         {"knob:knob1", "unitylink:", "knob:knob2", "unitylink:"},
         ""},
        {"children get ids of their own",
         "<div><slider id='slider1'/></div>",
         {"div:", "slider:slider1", "div:", "slider:slider2"},
         ""},
        {"a default plot script follows the plot",
         "<plot id='plot1' script='var rendererplot1 = function() {return plotplot1data}; var "
         "i; for (i = 0; i &lt; 15; i++) { plotplot1data[0].push([i, Math.random()]);}'/>",
         {"plot:plot1", "plot:plot2"},
         "script=var rendererplot2 = function() {return plotplot2data}; var i; for (i = 0; i < "
         "15; i++) { plotplot2data[0].push([i, Math.random()]);}"},
        {"an edited plot script stays",
         "<plot id='plot1' script='mine(plot1);'/>",
         {"plot:plot1", "plot:plot2"},
         "script=mine(plot1);"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pugi::xml_document xml;
        ASSERT_TRUE(xml.load_string((std::string("<tsr><project><page name='FirstPage'>") +
                                     c.document + "</page></project></tsr>")
                                        .c_str()));
        doc.Adopt(xml);
        pugi::xml_node p = doc.ProjectElement().first_child();
        pugi::xml_node copy = doc.DuplicateObject(p.first_child());
        ASSERT_TRUE(copy);
        std::vector<std::string> outline;
        for (const std::string& line : Outline(doc)) {
            if (line.starts_with("2:") || line.starts_with("3:") || line.starts_with("4:"))
                outline.push_back(line.substr(2));
        }
        EXPECT_EQ(outline, c.expected);
        const std::string text = c.copyText;
        if (text.empty()) continue;
        const size_t eq = text.find('=');
        EXPECT_EQ(GetProperty(copy, text.substr(0, eq)), text.substr(eq + 1));
    }
}

TEST_F(ProjectDocumentTest, MoveAppendsAsLastChild) {
    pugi::xml_node p2 = Create(doc, "page", project);
    Create(doc, "script", project);
    pugi::xml_node b = Create(doc, "button", page);
    Create(doc, "label", page);
    // A page moved onto the project becomes the last child; a widget moved onto its own parent
    // becomes that parent's last child.
    pugi::xml_node moved = doc.MoveObject(p2, project);
    EXPECT_EQ(moved, project.last_child());
    EXPECT_EQ(GetProperty(moved, "name"), "Newpage2");
    moved = doc.MoveObject(b, page);
    EXPECT_EQ(moved, page.last_child());
    EXPECT_EQ(GetProperty(moved, "id"), "b1");
    moved = doc.MoveObject(moved, p2);
    EXPECT_EQ(moved, p2.first_child());
    EXPECT_EQ(page.last_child().name(), std::string("label"));
}

TEST_F(ProjectDocumentTest, MoveOntoItselfOrADescendantChangesNothing) {
    pugi::xml_node outer = Create(doc, "div", page);
    pugi::xml_node inner = Create(doc, "div", outer);
    Create(doc, "knob", inner);
    doc.SetProjectChanged(false);
    const std::string before = WriteDocumentText(doc.xml());
    EXPECT_EQ(doc.MoveObject(outer, inner), outer);
    EXPECT_EQ(doc.MoveObject(outer, outer), outer);
    EXPECT_EQ(doc.MoveObject(outer, inner.first_child()), outer);
    EXPECT_EQ(doc.MoveObject(project, page), project);
    EXPECT_EQ(doc.MoveObject(pugi::xml_node(), page), pugi::xml_node());
    EXPECT_EQ(WriteDocumentText(doc.xml()), before);
    EXPECT_FALSE(doc.ProjectChanged());
}

TEST_F(ProjectDocumentTest, DeleteRemovesTheWholeSubtree) {
    pugi::xml_node div = Create(doc, "div", page);
    pugi::xml_node knob = Create(doc, "knob", div);
    Create(doc, "cvnlink", knob);
    Create(doc, "onchangescript", knob);
    Create(doc, "button", page);
    doc.DeleteObject(div);
    doc.RecountTypes();
    EXPECT_EQ(doc.typeCounters()[Type("knob")], 0u);
    EXPECT_EQ(doc.typeCounters()[Type("cvnlink")], 0u);
    EXPECT_EQ(doc.typeCounters()[Type("button")], 1u);
    EXPECT_EQ(Outline(doc), (std::vector<std::string>{"0:project:", "1:page:", "2:button:b1"}));
    doc.DeleteObject(doc.Root());  // the root is not an object
    EXPECT_TRUE(doc.Root());
}

TEST_F(ProjectDocumentTest, SerialsFollowThePreOrderWalkOfObjects) {
    pugi::xml_node knob = Create(doc, "knob", page);
    // An element that is not an object is skipped with everything in it, by every walk.
    pugi::xml_node stranger = page.append_child("notatype");
    stranger.append_child("button").append_attribute("id") = "hidden";
    pugi::xml_node label = Create(doc, "label", page);
    pugi::xml_node script = Create(doc, "script", project);

    struct Case {
        int serial;
        pugi::xml_node expected;
    } cases[] = {{0, project}, {1, page}, {2, knob}, {3, label}, {4, script},
                 {5, pugi::xml_node()}, {-1, pugi::xml_node()}};
    for (const Case& c : cases) {
        EXPECT_EQ(doc.FindObjectBySerial(c.serial), c.expected) << c.serial;
        if (c.expected) { EXPECT_EQ(doc.SerialOf(c.expected), c.serial); }
    }
    EXPECT_EQ(doc.SerialOf(stranger), -1);
    doc.RecountTypes();
    EXPECT_EQ(doc.typeCounters()[Type("button")], 0u);
    EXPECT_EQ(GetProperty(Create(doc, "button", page), "id"), "b1");
}

TEST_F(ProjectDocumentTest, PropertyReadsSupplyDefaultsLazily) {
    pugi::xml_node knob = Create(doc, "knob", page);
    knob.remove_attribute("thickness");
    knob.remove_attribute("id");
    doc.SetProjectChanged(false);

    EXPECT_EQ(GetProperty(knob, "thickness"), "");
    EXPECT_FALSE(knob.attribute("thickness"));
    EXPECT_EQ(GetPropertyWithDefault(knob, "thickness", kTypeKnob), "0.2");
    EXPECT_STREQ(knob.last_attribute().name(), "thickness");
    EXPECT_EQ(GetPropertyWithDefault(knob, "id", kTypeKnob), "knob#");  // not numbered
    EXPECT_EQ(GetPropertyWithDefault(knob, "nosuchkey", kTypeKnob), "");
    EXPECT_TRUE(knob.attribute("nosuchkey"));
    EXPECT_EQ(GetPropertyOr(project, "locallibs", "0"), "0");
    EXPECT_EQ(GetPropertyOr(project, "webserverport", "1234"), "80");
    EXPECT_FALSE(doc.ProjectChanged());  // supplying defaults is not a change

    doc.SetProperty(knob, "value", "75");
    EXPECT_EQ(GetProperty(knob, "value"), "75");
    EXPECT_TRUE(doc.ProjectChanged());
    doc.SetProperty(knob, "extra", "x");
    EXPECT_STREQ(knob.last_attribute().name(), "extra");
    EXPECT_EQ(GetPropertyOr(pugi::xml_node(), "a", "fb"), "fb");
}

}  // namespace
}  // namespace tsr
