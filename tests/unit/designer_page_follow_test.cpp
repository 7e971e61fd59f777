#include <gtest/gtest.h>

#include "designer/page_follow.h"
#include "designer_test_support.h"

namespace tsr::designer {
namespace {

using test::LoadXml;

// Serials: 0 project, 1 page FirstPage, 2 knob, 3 page P2, 4 div, 5 button, 6 onclickscript,
// 7 page without a name, 8 label, 9 script, 10 corvanegateway.
constexpr const char* kDocument =
    "<tsr><project>"
    "<page name='FirstPage'><knob/></page>"
    "<page name='P2'><div><button><onclickscript/></button></div></page>"
    "<page><label/></page>"
    "<script/><corvanegateway/>"
    "</project></tsr>";

TEST(DesignerPageFollow, PageOfASelection) {
    ProjectDocument doc;
    LoadXml(doc, kDocument);
    struct Case {
        const char* name;
        int serial;
        int expected;
    } cases[] = {
        {"project", 0, -1},      {"page itself", 1, 1},     {"knob", 2, 1},
        {"nested button", 5, 3}, {"event of button", 6, 3}, {"unnamed page's label", 8, 7},
        {"script", 9, -1},       {"gateway", 10, -1},       {"no object", 11, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(PageSerialOf(doc, c.serial), c.expected) << c.name;
}

TEST(DesignerPageFollow, RegenerateOnlyForAnotherPage) {
    ProjectDocument doc;
    LoadXml(doc, kDocument);
    struct Case {
        const char* name;
        int serial;
        const char* shown;
        std::optional<std::string> expected;
    } cases[] = {
        {"button in P2 while FirstPage is shown", 5, "FirstPage", "P2"},
        {"another object of P2 once P2 is shown", 4, "P2", std::nullopt},
        {"page P2 itself", 3, "FirstPage", "P2"},
        {"names compare case-sensitively", 5, "p2", "P2"},
        {"knob on the shown page", 2, "FirstPage", std::nullopt},
        {"page without a name reads as empty", 8, "FirstPage", ""},
        {"empty name already shown", 8, "", std::nullopt},
        {"project", 0, "P2", std::nullopt},
        {"script", 9, "P2", std::nullopt},
        {"gateway", 10, "P2", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PageToShowAfterSelect(doc, c.serial, c.shown), c.expected) << c.name;
    }
    // Reading the name never adds the attribute or marks a change.
    EXPECT_FALSE(doc.FindObjectBySerial(7).attribute("name"));
    EXPECT_FALSE(doc.ProjectChanged());
}

}  // namespace
}  // namespace tsr::designer
