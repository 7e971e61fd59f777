#include "generator/template.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace tsr {
namespace {

// An object of type `key` under a parent of type `parentKey`, with the given attributes.
struct Fixture {
    pugi::xml_document doc;
    pugi::xml_node object;
    TypeCounters counters{};
    GenerationContext context;

    Fixture(const char* parentKey, const char* key,
            const std::map<std::string, std::string>& attributes) {
        pugi::xml_node root = doc.append_child("tsr");
        pugi::xml_node parent = std::string(parentKey) == "project"
                                    ? root.append_child("project")
                                    : root.append_child("project").append_child(parentKey);
        object = parent.append_child(key);
        for (const auto& [k, v] : attributes) object.append_attribute(k.c_str()) = v.c_str();
    }
    std::string Expand(std::string text, ExpandOutcome* outcome = nullptr) {
        ExpandOutcome o = expandTemplate(text, object, counters, context);
        if (outcome) *outcome = o;
        return text;
    }
};

TEST(ExpandTemplate, Forms) {
    struct Case {
        const char* name;
        const char* parent;
        std::map<std::string, std::string> attributes;
        std::string text;
        std::string expected;
    } cases[] = {
        {"page template", "project", {{"name", "Newpage1"}, {"align", "Left"}},
         "<div data-role = \"page\" id = \"$$$name$$$\" style=\"text-align:$$$align$$$;\">\n",
         "<div data-role = \"page\" id = \"Newpage1\" style=\"text-align:Left;\">\n"},
        {"no marker", "page", {}, "plain text", "plain text"},
        {"single marker", "page", {}, "a $$$ b", "a $$$ b"},
        {"missing property", "page", {}, "[$$$nothere$$$]", "[]"},
        {"? 1", "page", {{"r", "1"}}, "$$$?r$$$yes$$$no$$$", "yes"},
        {"? 2", "page", {{"r", "2"}}, "$$$?r$$$yes$$$no$$$", "yes"},
        {"? 12abc", "page", {{"r", "12abc"}}, "$$$?r$$$yes$$$no$$$", "yes"},
        {"? 0", "page", {{"r", "0"}}, "$$$?r$$$yes$$$no$$$", "no"},
        {"? empty", "page", {{"r", ""}}, "$$$?r$$$yes$$$no$$$", "no"},
        {"? abc", "page", {{"r", "abc"}}, "$$$?r$$$yes$$$no$$$", "no"},
        {"? absent", "page", {}, "$$$?r$$$yes$$$no$$$", "no"},
        {"? text input", "page", {{"readonly", "1"}},
         "<input $$$?readonly$$$readonly=\"readonly\"$$$$$$>", "<input readonly=\"readonly\">"},
        {"? knob", "page", {{"readonly", "0"}}, "data-readOnly=$$$?readonly$$$true$$$false$$$ x",
         "data-readOnly=false x"},
        {"! under knob", "knob", {{"script", "go()"}},
         "$$$!knob$$$'change' : function() { $$$script$$$ }$!$$!$$$",
         "'change' : function() { go() }"},
        {"! under slider", "slider", {{"script", "go()"}},
         "$$$!knob$$$'change' : function() { $$$script$$$ }$!$$!$$$", ""},
        {"! onchange html under slider", "slider", {{"script", "f(\"a\")"}},
         "$$$!knob$$$$!$$ onchange=\"$$$*Sscript$$$\"!$$$", " onchange=\"f('a')\""},
        {"! under project", "project", {}, "$$$!knob$$$K$!$$E!$$$", "E"},
        {": match", "div", {}, "<$$$:div$$$in div:$$$>", "<in div>"},
        {": no match", "page", {}, "<$$$:div$$$in div:$$$>", "<>"},
        {"% set", "knob", {{"textafter", "%"}}, "$$$%textafter$$$[$$$textafter$$$]%$$$",
         "[%]"},
        {"% empty", "knob", {{"textafter", ""}}, "$$$%textafter$$$[$$$textafter$$$]%$$$", ""},
        {"** hash", "button", {{"pagename", "p2"}}, " href=\"$$$**$$$$$$pagename$$$\"",
         " href=\"#p2\""},
        {"** any suffix", "page", {}, "$$$**xyz$$$", "#"},
        {"*C red", "page", {{"c", "255"}}, "$$$*Cc$$$", "#FF0000"},
        {"*C blue", "page", {{"c", "16711680"}}, "$$$*Cc$$$", "#0000FF"},
        {"*C yellow", "page", {{"c", "65535"}}, "$$$*Cc$$$", "#FFFF00"},
        {"*C zero", "page", {{"c", "0"}}, "$$$*Cc$$$", "#000000"},
        {"*C empty", "page", {}, "$$$*Cc$$$", "#000000"},
        {"*S quotes", "page", {{"s", "alert(\"hi\")"}}, "onclick=\"$$$*Ss$$$\"",
         "onclick=\"alert('hi')\""},
        {"value with a form", "page", {{"a", "<$$$b$$$>"}, {"b", "B"}}, "$$$a$$$", "<B>"},
        {"percent kept", "div", {{"style", "width:50%"}}, "$$$style$$$;", "width:50%;"},
        {"first char without form", "page", {{"#x", "v"}}, "$$$#x$$$", "v"},
        {"name takes the fourth dollar", "page", {{"a", "A"}}, "$$$$a$$$", ""},
        {"% malformed", "page", {{"t", "x"}}, "a $$$name$$$ $$$%t$$$ rest", "a  $$$%t$$$ rest"},
        {"? malformed", "page", {{"r", "1"}}, "$$$?r$$$then only", "$$$?r$$$then only"},
        {"! malformed", "page", {}, "$$$!knob$$$then", "$$$!knob$$$then"},
        {"! missing else end", "page", {}, "$$$!knob$$$a$!$$b", "$$$!knob$$$a$!$$b"},
        {"* alone", "page", {}, "x$$$*$$$y", "x$$$*$$$y"},
        {"* unknown", "page", {}, "$$$*Q$$$", "$$$*Q$$$"},
    };
    for (const Case& c : cases) {
        Fixture f(c.parent, "item", c.attributes);
        EXPECT_EQ(f.Expand(c.text), c.expected) << c.name;
        EXPECT_EQ(f.context.itemCounter, 1u) << c.name;
    }
}

TEST(ExpandTemplate, TypePresence) {
    Fixture f("project", "project", {});
    const std::string text =
        "$$$=knob$$$<script src = \"jquery.knob.js\"></script>=$$$|$$$=nokey$$$X=$$$";
    EXPECT_EQ(f.Expand(text), "|");
    f.counters[kTypeKnob] = 1;
    EXPECT_EQ(f.Expand(text), "<script src = \"jquery.knob.js\"></script>|");
}

TEST(ExpandTemplate, ItemCounterAndCurrentPage) {
    Fixture f("page", "textinput", {{"text", "T"}, {"id", "ti1"}});
    const std::string text =
        "<label for=\"item$$$[ICOUNT]$$$\">$$$text$$$</label><input name=\"item$$$[ICOUNT]$$$\">";
    EXPECT_EQ(f.Expand(text), "<label for=\"item1\">T</label><input name=\"item1\">");
    EXPECT_EQ(f.context.itemCounter, 2u);
    EXPECT_EQ(f.Expand("item$$$[ICOUNT]$$$"), "item2");
    EXPECT_EQ(f.Expand("no counter"), "no counter");
    EXPECT_EQ(f.context.itemCounter, 3u);
    // A malformed expansion that used the counter does not raise it.
    EXPECT_EQ(f.Expand("$$$[ICOUNT]$$$ $$$%text$$$"), "3 $$$%text$$$");
    EXPECT_EQ(f.context.itemCounter, 3u);
    f.context.currentPageName = "Main";
    EXPECT_EQ(f.Expand("if (id=='$$$[CURPAGE]$$$')"), "if (id=='Main')");
}

TEST(ExpandTemplate, SelfReproducingValuesEnd) {
    struct Case {
        const char* name;
        std::string value;
        ExpandOutcome outcome;
    } cases[] = {
        {"same form", "$$$text$$$", ExpandOutcome::Limited},
        {"growing", "ab$$$text$$$$$$text$$$", ExpandOutcome::Limited},
        {"large and growing", std::string(100000, 'x') + "$$$text$$$$$$text$$$",
         ExpandOutcome::Limited},
        {"through a kept branch", "$$$%text$$$$$$text$$$%$$$", ExpandOutcome::Limited},
    };
    for (const Case& c : cases) {
        Fixture f("page", "label", {{"text", c.value}});
        ExpandOutcome outcome;
        std::string out = f.Expand("[$$$text$$$][$$$[ICOUNT]$$$]", &outcome);
        EXPECT_EQ(outcome, c.outcome) << c.name;
        EXPECT_LE(out.size(), kMaxExpandedBytes) << c.name;
        EXPECT_NE(out.find("$$$"), std::string::npos) << c.name;
        EXPECT_EQ(f.context.itemCounter, 1u) << c.name;
    }
}

TEST(ExpandLinkPlaceholders, ReadsLinkAndWidgetProperties) {
    pugi::xml_document doc;
    pugi::xml_node plot = doc.append_child("tsr").append_child("project").append_child("page")
                              .append_child("plot");
    plot.append_attribute("id") = "plot1";
    pugi::xml_node link = plot.append_child("s71200webserverlink");
    link.append_attribute("gatewayid") = "gw";
    const int linkType = FindTypeByKey("s71200webserverlink");
    const int plotType = FindTypeByKey("plot");

    std::string text = "read{{{variable}}}({{{gatewayid}}},(((id))),(((length))),{{{nope}}})";
    EXPECT_EQ(expandLinkPlaceholders(text, linkType, plotType, link, plot), 0);
    EXPECT_EQ(text, "readMW0(gw,plot1,20,)");
    // Missing attributes were added with their defaults (or empty).
    EXPECT_STREQ(link.attribute("variable").value(), "MW0");
    EXPECT_TRUE(link.attribute("nope"));
    EXPECT_STREQ(plot.attribute("length").value(), "20");

    std::string open = "a {{{variable}}} {{{gatewayid";
    EXPECT_EQ(expandLinkPlaceholders(open, linkType, plotType, link, plot), -1);
    EXPECT_EQ(open, "a MW0 {{{gatewayid");
    std::string widgetOpen = "{{{gatewayid}}} (((id";
    EXPECT_EQ(expandLinkPlaceholders(widgetOpen, linkType, plotType, link, plot), -1);
    EXPECT_EQ(widgetOpen, "gw (((id");

    link.attribute("variable") = "{{{variable}}}";
    std::string loop = "{{{variable}}}";
    EXPECT_EQ(expandLinkPlaceholders(loop, linkType, plotType, link, plot), -1);
}

}  // namespace
}  // namespace tsr
