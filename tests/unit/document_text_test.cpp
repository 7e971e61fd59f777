#include "model/document_text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "model/project_document.h"

namespace tsr {
namespace {

TEST(DocumentText, EscapesAttributeValues) {
    struct Case {
        const char* name;
        std::string value;
        std::string expected;
    } cases[] = {
        {"plain", "abc", "abc"},
        {"markup", "<a href=\"x\">&</a>", "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;"},
        {"line ends", "a\nb\r\n", "a&#10;b&#13;&#10;"},
        {"tab and apostrophe stay", "a\tb'c", "a\tb'c"},
        {"low control bytes", std::string("\x01\x1f", 2), "&#01;&#31;"},
        {"8-bit bytes pass", "caf\xe9 \xc3\xa9", "caf\xe9 \xc3\xa9"},
        {"entity text", "&amp;", "&amp;amp;"},
    };
    for (const Case& c : cases) EXPECT_EQ(EscapeAttributeValue(c.value), c.expected) << c.name;
}

// The escaping rule restated independently, applied to the catalogue file's defaults.
std::string Escaped(const std::string& v) {
    std::string out;
    for (unsigned char c : v) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else if (c < 32 && c != '\t') out += "&#" + std::string(1, '0' + c / 10) + char('0' + c % 10) + ";";
        else out += static_cast<char>(c);
    }
    return out;
}

std::string Element(const nlohmann::json& type, const char* overrideKey = nullptr,
                    const char* overrideValue = nullptr) {
    std::string line = "<" + type["key"].get<std::string>();
    for (const auto& p : type["properties"]) {
        std::string key = p["key"], value = p["default"];
        if (overrideKey && key == overrideKey) value = overrideValue;
        line += " " + key + "=\"" + Escaped(value) + "\"";
    }
    return line;
}

TEST(DocumentText, NewProjectIsWrittenInTheFileForm) {
    std::ifstream in(TESSORA_SOURCE_DIR "/resources/catalogue.json");
    nlohmann::json catalogue = nlohmann::json::parse(in);
    const std::string expected = "<?xml version=\"1.0\"?>\n<tsr>\n\t" + Element(catalogue[0]) +
                                 ">\n\t\t" + Element(catalogue[1], "name", "FirstPage") +
                                 " />\n\t</project>\n</tsr>\n";
    ProjectDocument doc;
    doc.NewProjectDocument();
    EXPECT_EQ(WriteDocumentText(doc.xml()), expected);
}

TEST(DocumentText, ValuesComeBackExactlyAsWritten) {
    ProjectDocument doc;
    doc.NewProjectDocument();
    pugi::xml_node page = doc.ProjectElement().first_child();
    const std::string name = "A \"quoted\" & <tagged>\tname\r\nnext\x01 caf\xe9";
    doc.SetProperty(page, "name", name);
    const std::string text = WriteDocumentText(doc.xml());
    pugi::xml_document back;
    ASSERT_TRUE(ReadDocumentText(text, back));
    pugi::xml_node project = back.document_element().first_child();
    // Line breaks of the templates and the tabs of the project's script survive.
    EXPECT_EQ(GetProperty(project, "htmlh"), GetProperty(doc.ProjectElement(), "htmlh"));
    EXPECT_EQ(GetProperty(project, "script0"), GetProperty(doc.ProjectElement(), "script0"));
    EXPECT_EQ(GetProperty(project.first_child(), "name"), name);
    EXPECT_EQ(WriteDocumentText(back), text);
}

TEST(DocumentText, LineEndsInsideValuesOfForeignFilesAreNormalised) {
    pugi::xml_document doc;
    ASSERT_TRUE(ReadDocumentText("<tsr><project a=\"x\r\ny\" b=\"&#13;\"/></tsr>", doc));
    EXPECT_EQ(GetProperty(doc.document_element().first_child(), "a"), "x\ny");
    EXPECT_EQ(GetProperty(doc.document_element().first_child(), "b"), "\r");
}

TEST(DocumentText, NestedElementsAndNamelessAttributes) {
    pugi::xml_document doc;
    pugi::xml_node page = doc.append_child("tsr").append_child("project").append_child("page");
    page.append_attribute("").set_value("v");
    page.append_child("button").append_child("onclickgoto");
    page.append_child("label");
    EXPECT_EQ(WriteDocumentText(doc),
              "<?xml version=\"1.0\"?>\n<tsr>\n\t<project>\n\t\t<page :anonymous=\"v\">\n"
              "\t\t\t<button>\n\t\t\t\t<onclickgoto />\n\t\t\t</button>\n\t\t\t<label />\n"
              "\t\t</page>\n\t</project>\n</tsr>\n");
}

TEST(DocumentText, RejectsWhatIsNotAProjectDocument) {
    std::string deep = "<tsr>";
    for (int i = 0; i < kMaxObjectDepth + 1; ++i) deep += "<div>";
    for (int i = 0; i < kMaxObjectDepth + 1; ++i) deep += "</div>";
    deep += "</tsr>";
    struct Case {
        const char* name;
        std::string text;
        bool ok;
    } cases[] = {
        {"empty", "", false},
        {"not xml", "PK\x03\x04 garbage", false},
        {"unclosed", "<tsr><project>", false},
        {"other root", "<svg><project/></svg>", false},
        {"two roots", "<tsr/><tsr/>", false},
        {"too deep", deep, false},
        {"minimal", "<tsr/>", true},
        {"with declaration and BOM", "\xEF\xBB\xBF<?xml version=\"1.0\"?><tsr><project/></tsr>",
         true},
    };
    for (const Case& c : cases) {
        pugi::xml_document doc;
        std::string why;
        EXPECT_EQ(ReadDocumentText(c.text, doc, &why), c.ok) << c.name;
        if (!c.ok) {
            EXPECT_FALSE(why.empty()) << c.name;
            EXPECT_FALSE(doc.first_child()) << c.name;
        }
    }
}

}  // namespace
}  // namespace tsr
