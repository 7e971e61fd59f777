#include "generator/generator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "base/strings.h"
#include "generator/link_scripts.h"
#include "model/document_text.h"
#include "test_support.h"

namespace tsr {
namespace {

const std::string kGolden = TESSORA_SOURCE_DIR "/tests/golden/";

// A hook that records what the generation pass asked of the server.
class RecordingHooks : public GenerationHooks {
public:
    std::string ApplyServerSettings(ServerSettings& s) override {
        applied.push_back(s);
        return s.on ? address : "";
    }
    void SetTitle(const std::string& t) override { title = t; }
    std::vector<ServerSettings> applied;
    std::string address = "192.0.2.7";
    std::string title;
};

class GeneratorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(project.Start(tmp.path()), 0);
        ASSERT_EQ(mkdir(libs.c_str(), 0755), 0);
    }
    // Replaces the project by the document in tests/golden/NAME.xml.
    void LoadFixture(const std::string& name) {
        pugi::xml_document doc;
        std::string why;
        ASSERT_TRUE(ReadDocumentText(test::ReadAll(kGolden + name + ".xml"), doc, &why)) << why;
        project.document().Adopt(doc);
    }

    test::ScratchDir tmp;
    std::string libs = tmp / "libs";
    Project project;
    RecordingLogSink log;
    RecordingHooks hooks;
    Generator generator{project, log, hooks, libs};
};

TEST_F(GeneratorTest, DocumentsMatchTheirGoldenFiles) {
    for (const char* name : {"project_only", "spans", "counters", "links"}) {
        LoadFixture(name);
        const std::string actual = generator.BuildDocument();
        if (std::getenv("TESSORA_UPDATE_GOLDEN")) WriteFile(kGolden + name + ".html", actual);
        const std::string expected = test::ReadAll(kGolden + name + ".html");
        ASSERT_FALSE(expected.empty()) << name;
        EXPECT_EQ(actual, expected) << name;
        // Every pass starts again from the same state: item1 again, same scripts.
        EXPECT_EQ(generator.BuildDocument(), actual) << name;
    }
}

// A link whose gateway id names no gateway: the pass says so in red, once per link, and the page
// never calls the missing address function; the widget is marked instead, and the links that
// have their gateway read as before.
TEST_F(GeneratorTest, ALinkWithoutItsGatewayIsLoggedAndMarkedInsteadOfCalled) {
    setenv("LANG", "C", 1);
    struct Case {
        const char* name;
        const char* widgets;  // the page's contents; the project has the gateway uni1 only
        std::vector<std::string> lines;  // the red lines of the pass
        std::vector<std::string> marks;  // the marks the start scripts call, in order
    } cases[] = {
        {"every link has its gateway",
         "<knob id='knob1'><unitylink variable='%MW0' refreshperiod='500' "
         "gatewayid='uni1'/></knob>",
         {},
         {}},
        {"a knob names a missing gateway",
         "<knob id='knob1'><unitylink variable='%MW0' refreshperiod='500' "
         "gatewayid='uni2'/></knob>",
         {"The link of knob1 to %MW0 refers to gateway uni2, which the project does not have"},
         {"tsrorphan('#knob1');"}},
        {"an empty gateway id",
         "<slider id='slider1'><s7iplink variable='DB1.DBW0' refreshperiod='500' gatewayid=''/>"
         "</slider>",
         {"The link of slider1 to DB1.DBW0 refers to gateway , which the project does not have"},
         {"tsrorphan('#slider1');"}},
        {"one of two, radio buttons by group",
         "<switch id='toggle1'><unitylink variable='%M5' refreshperiod='500' gatewayid='uni1'/>"
         "</switch><radiob name='mode' id='rb1'><modbuslink variable='hr0' refreshperiod='500' "
         "gatewayid='mb9'/></radiob><button id='b1'><kxlink variable='x' gatewayid='kx1'/>"
         "</button>",
         {"The link of mode to hr0 refers to gateway mb9, which the project does not have",
          "The link of b1 to x refers to gateway kx1, which the project does not have"},
         {"tsrorphan('input[name=mode]');", "tsrorphan('#b1');"}},
        {"a table link under a plot",
         "<plot id='plot1' script=''><cvnslink variable='T' len='4' refreshperiod='500' "
         "gatewayid='cvn1'/></plot>",
         {"The link of plot1 to T refers to gateway cvn1, which the project does not have"},
         {"tsrorphan('#plot1');"}},
        {"a link under a widget it does not serve",
         "<label id='la1'><unitylink variable='%MW0' gatewayid='uni7'/></label>",
         {},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pugi::xml_document xml;
        ASSERT_TRUE(xml.load_string((std::string("<tsr><project webserveron='0'><page name='P'>") +
                                     c.widgets +
                                     "</page><unigateway ip='127.0.0.1' address='' id='uni1'/>"
                                     "</project></tsr>")
                                        .c_str()));
        project.document().Adopt(xml);
        const size_t before = log.Lines().size();
        ASSERT_TRUE(generator.generateApplication());
        std::vector<std::string> red;
        for (size_t i = before; i < log.Lines().size(); ++i) {
            if (log.Lines()[i].colour == kLogRed) red.push_back(log.Lines()[i].text);
        }
        EXPECT_EQ(red, c.lines);
        const std::string page =
            test::ReadAll(project.workingDirectory().outputDirectory() + "/index.html");
        std::vector<std::string> marks;
        for (size_t at = page.find("tsrorphan('"); at != std::string::npos;
             at = page.find("tsrorphan('", at + 1))
            marks.push_back(page.substr(at, page.find(';', at) + 1 - at));
        EXPECT_EQ(marks, c.marks);
        // Only the project's own gateway has an address function, and only it is called.
        for (size_t at = page.find("getaddress"); at != std::string::npos;
             at = page.find("getaddress", at + 1))
            EXPECT_EQ(page.compare(at, 14, "getaddressuni1"), 0) << page.substr(at, 20);
        // The mark's function and style come with the marks.
        EXPECT_EQ(page.find("function tsrorphan(") != std::string::npos, !c.marks.empty());
        if (!c.marks.empty()) {
            EXPECT_NE(page.find("tsrlink.css"), std::string::npos);
        }
    }
    // The French table says it too.
    EXPECT_EQ(
        FormatText(LoadString(kTextLinkWithoutGateway, Language::French),
                   {"knob1", "%MW0", "uni1"}),
        "Le lien de knob1 vers %MW0 fait référence à la passerelle uni1, que le projet n'a pas");
}

// A value that reproduces its own form, copied on many objects, once made a small project
// expand into a document of gigabytes: the pass is bounded as a whole, the texts that hit a
// bound are left out instead of pasted half expanded, and the log says so.
TEST_F(GeneratorTest, ASelfReproducingProjectGeneratesABoundedDocument) {
    ProjectDocument& doc = project.document();
    pugi::xml_node page = doc.FindObjectBySerial(1);
    const std::string seed = std::string(400, 'a') + "$$$text$$$$$$text$$$";
    for (int i = 0; i < 200; ++i) {
        pugi::xml_node header;
        doc.CreateObject(FindTypeByKey("header"), page, &header);
        doc.SetProperty(header, "text", seed);
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(generator.generateApplication());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("self-reproducing project of 200 objects: generated in %.2f s\n", seconds);
    const std::string page_ = test::ReadAll(project.workingDirectory().outputDirectory() + "/index.html");
    EXPECT_LT(page_.size(), kMaxPassExpandedBytes);
    EXPECT_EQ(page_.find(std::string(400, 'a')), std::string::npos);  // nothing half expanded
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back().text.rfind("The page is incomplete: ", 0), 0u) << log.Lines().back().text;
    EXPECT_NE(log.Lines().back().text.find("htmlh (header"), std::string::npos) << log.Lines().back().text;
    EXPECT_EQ(log.Lines().back().colour, kLogRed);
}

// Plain texts that together pass what one pass may put in the document: those that fit are
// written, the rest are left out whole; the next pass starts with a full budget again.
TEST_F(GeneratorTest, ExpandedTextPassingThePassBoundIsLeftOutWhole) {
    ProjectDocument& doc = project.document();
    pugi::xml_node page = doc.FindObjectBySerial(1);
    const size_t each = 1u << 20;
    const int count = static_cast<int>(kMaxPassExpandedBytes / each) + 6;
    for (int i = 0; i < count; ++i) {
        pugi::xml_node label;
        doc.CreateObject(FindTypeByKey("label"), page, &label);
        doc.SetProperty(label, "text", std::string(each, static_cast<char>('A' + i % 26)));
    }
    for (int pass = 0; pass < 2; ++pass) {
        const std::string document = generator.BuildDocument();
        EXPECT_LE(document.size(), kMaxPassExpandedBytes + (1u << 20));
        EXPECT_GT(document.size(), kMaxPassExpandedBytes - 2 * each);
        // Every label text is there whole or not at all.
        size_t whole = 0;
        for (size_t at = document.find("\">"); at != std::string::npos; at = document.find("\">", at + 1)) {
            const size_t end = document.find("</label>", at);
            if (end != std::string::npos && end - at - 2 == each) ++whole;
        }
        EXPECT_GT(whole, 0u);
        EXPECT_LT(whole, static_cast<size_t>(count));
    }
}

}  // namespace
}  // namespace tsr

namespace tsr {
namespace {

TEST_F(GeneratorTest, APassWritesTheDocumentAndCopiesTheLibrariesOnce) {
    ASSERT_TRUE(WriteFile(libs + "/lib.js", "library v1"));
    ASSERT_EQ(mkdir((libs + "/images").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(libs + "/images/a.gif", "GIF"));
    ASSERT_EQ(mkdir((libs + "/.hidden").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(libs + "/.hidden/x", "x"));
    const std::string out = project.workingDirectory().outputDirectory();

    ASSERT_TRUE(generator.generateApplication());
    EXPECT_EQ(test::ReadAll(out + "/index.html"), generator.BuildDocument());
    EXPECT_EQ(test::ReadAll(out + "/lib.js"), "library v1");
    EXPECT_EQ(test::ReadAll(out + "/images/a.gif"), "GIF");
    EXPECT_EQ(ListDirectory(out), (std::vector<std::string>{"images", "index.html", "lib.js"}));

    // A library edited in the output directory survives later passes.
    ASSERT_TRUE(WriteFile(out + "/lib.js", "edited"));
    ASSERT_TRUE(generator.generateApplication());
    EXPECT_EQ(test::ReadAll(out + "/lib.js"), "edited");
}

TEST_F(GeneratorTest, TitleServerSettingsAndLogLine) {
    pugi::xml_node p = project.document().ProjectElement();
    struct Case {
        const char* name;
        const char* on;
        const char* port;
        bool saved;
        std::string title;
        uint16_t expectedPort;
    } cases[] = {
        {"new project", "0", "80", false, "Tessora V1.08*", 80},
        {"server on port 80", "1", "80", false,
         "Tessora V1.08* Server activated: 192.0.2.7", 80},
        {"server on port 8080", "1", "8080", false,
         "Tessora V1.08* Server activated: 192.0.2.7:8080", 8080},
        {"port truncated to 16 bits", "1", "70000", false,
         "Tessora V1.08* Server activated: 192.0.2.7:4464", 4464},
        {"saved project", "0", "80", true, "Tessora V1.08 (" + tmp / "p.tsr" + ")", 80},
    };
    for (const Case& c : cases) {
        project.document().SetProperty(p, "webserveron", c.on);
        project.document().SetProperty(p, "webserverport", c.port);
        project.document().SetProperty(p, "webdebugmsg", "1");
        if (c.saved) {
            ASSERT_TRUE(project.Save(tmp / "p.tsr"));
        }
        ASSERT_TRUE(generator.generateApplication()) << c.name;
        EXPECT_EQ(generator.title(), c.title) << c.name;
        EXPECT_EQ(hooks.title, c.title) << c.name;
        ASSERT_FALSE(hooks.applied.empty());
        const ServerSettings& s = hooks.applied.back();
        EXPECT_EQ(s.on, std::string(c.on) == "1") << c.name;
        EXPECT_EQ(s.port, c.expectedPort) << c.name;
        EXPECT_TRUE(s.debugMessages) << c.name;
        EXPECT_EQ(s.webRoot, project.workingDirectory().outputDirectory() + "/") << c.name;
        ASSERT_FALSE(log.Lines().empty());
        EXPECT_EQ(log.Lines().back().text, "Generate: " + c.title) << c.name;
        EXPECT_EQ(log.Lines().back().colour, static_cast<unsigned>(kLogBlue));
    }
}

TEST_F(GeneratorTest, SettingsComeOnlyFromAProjectElement) {
    LoadFixture("project_only");
    pugi::xml_node p = project.document().ProjectElement();
    p.append_attribute("webserveron") = "1";
    p.append_attribute("webserverport") = "8080";
    p.set_name("Project");  // compared without regard to case
    ASSERT_TRUE(generator.generateApplication());
    EXPECT_TRUE(hooks.applied.back().on);
    EXPECT_EQ(hooks.applied.back().port, 8080);
    p.set_name("notproject");
    ASSERT_TRUE(generator.generateApplication());
    EXPECT_FALSE(hooks.applied.back().on);
    EXPECT_EQ(hooks.applied.back().port, 80);
}

TEST_F(GeneratorTest, TheShownPageIsKeptUntilAnotherIsAsked) {
    const std::string line = "<script>window.location.href = '#Trend';</script>\n";
    EXPECT_EQ(generator.BuildDocument().find("window.location.href"), std::string::npos);
    ASSERT_TRUE(generator.generateApplication("Trend"));
    ASSERT_TRUE(generator.generateApplication());
    const std::string index =
        test::ReadAll(project.workingDirectory().outputDirectory() + "/index.html");
    EXPECT_NE(index.find(line), std::string::npos);
}

TEST_F(GeneratorTest, NothingHappensWhenTheDocumentCannotBeWritten) {
    generator.SetOutputDirectory(tmp / "missing/dir");
    EXPECT_FALSE(generator.generateApplication());
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_TRUE(hooks.applied.empty());
    EXPECT_EQ(hooks.title, "");
}

TEST_F(GeneratorTest, EachS71200GatewayBringsTheScriptLibrary) {
    ASSERT_TRUE(WriteFile(libs + "/s7wsgateway.js", "/*S7LIB*/"));
    ProjectDocument& doc = project.document();
    for (int i = 0; i < 2; ++i) doc.CreateObject(FindTypeByKey("s71200wsgateway"), doc.ProjectElement());
    const std::string out = generator.BuildDocument();
    size_t first = out.find("/*S7LIB*/");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(out.find("/*S7LIB*/", first + 1), std::string::npos);
    EXPECT_NE(out.find("function getaddresss7ws1(){return ;}"), std::string::npos);
}

// A page with one widget of kind `widget` holding one link of kind `link`.
// Adds a page holding a `widget` with a `link`, and the gateway the link names (a link without
// its gateway only marks its widget); `widgetId` replaces the widget's numbered id.
void AddLinkedWidget(ProjectDocument& doc, const char* widget, const char* link,
                     const char* widgetId = nullptr) {
    static const std::map<std::string, const char*> kGatewayOf = {
        {"cvnlink", "corvanegateway"},
        {"cvnslink", "corvanegateway"},
        {"unitylink", "unigateway"},
        {"smlink", "smgateway"},
        {"s7iplink", "s7ipgateway"},
        {"kxlink", "kxgateway"},
        {"modbuslink", "modbusgateway"},
        {"mqttlink", "mqttgateway"},
        {"arduinowebserverlink", "arduinowsgateway"},
        {"s71200webserverlink", "s71200wsgateway"},
        {"s71200webserverslink", "s71200wsgateway"}};
    pugi::xml_node page, w, l, g;
    ASSERT_EQ(doc.CreateObject(FindTypeByKey("page"), doc.ProjectElement(), &page), 0);
    ASSERT_EQ(doc.CreateObject(FindTypeByKey(widget), page, &w), 0) << widget;
    ASSERT_EQ(doc.CreateObject(FindTypeByKey(link), w, &l), 0) << widget << " " << link;
    if (widgetId) doc.SetProperty(w, "id", widgetId);
    ASSERT_EQ(kGatewayOf.count(link), 1u) << link;
    ASSERT_EQ(doc.CreateObject(FindTypeByKey(kGatewayOf.at(link)), doc.ProjectElement(), &g), 0);
    ASSERT_EQ(GetProperty(g, "id"), GetProperty(l, "gatewayid")) << link;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

const char kLinkStateSheet[] = "<link rel=\"stylesheet\" href=\"tsrlink.css\" />\n";

// Every read function of every link kind asks the link state before it shows an answer, and
// tells it when the request fails; the state's style sheet and function are in the document
// once, whatever the number of links.
TEST_F(GeneratorTest, EveryReadFunctionGuardsItsWidgetWithTheLinkState) {
    const char* widgets[] = {"switch", "checkb", "radiob", "textinput", "slider", "knob", "plot"};
    const char* links[] = {"cvnlink", "unitylink", "smlink", "s7iplink", "kxlink",
                           "arduinowebserverlink", "s71200webserverlink"};
    struct Case {
        std::string widget, link;
    };
    std::vector<Case> cases;
    for (const char* w : widgets)
        for (const char* l : links)
            if (!(std::string(w) == "plot" && std::string(l) == "arduinowebserverlink"))
                cases.push_back({w, l});
    cases.push_back({"plot", "cvnslink"});
    cases.push_back({"plot", "s71200webserverslink"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.widget + " / " + c.link);
        LoadFixture("project_only");
        AddLinkedWidget(project.document(), c.widget.c_str(), c.link.c_str());
        const std::string doc = generator.BuildDocument();
        EXPECT_EQ(Count(doc, kLinkStateSheet), 1u);
        EXPECT_EQ(Count(doc, "function tsrlinkstate("), 1u);
        // The state is defined before the script element that holds the read functions.
        size_t at = doc.find("function read");
        ASSERT_NE(at, std::string::npos);
        const size_t main = doc.rfind("<script>", at);
        ASSERT_NE(main, std::string::npos);
        EXPECT_LT(doc.find("function tsrlinkstate("), main);
        for (; at != std::string::npos;) {
            const size_t next = doc.find("function read", at + 1);
            const std::string read = doc.substr(at, next == std::string::npos ? std::string::npos : next - at);
            at = next;
            // The answer is asked about before anything shows it.
            size_t shown = std::string::npos;
            for (const char* update : {".val(data", ".val(val", ".push([i", ".prop('checked'"})
                shown = std::min(shown, read.find(update));
            ASSERT_NE(shown, std::string::npos) << read;
            const size_t guard = read.find("tsrlinkstate(");
            EXPECT_LT(guard, shown) << read;
            EXPECT_NE(read.find(".fail(function(){tsrlinkstate('"), std::string::npos) << read;
            EXPECT_LT(read.find(".fail("), read.find(".always(")) << read;
            // A slider whose read failed reads again: its in-flight mark is taken away.
            if (c.widget == "slider") {
                EXPECT_NE(read.find("tsrlinkstate('#slider1'); slider1changing=0;}"), std::string::npos)
                    << read;
            }
        }
    }
}

// The gateways whose family serves several devices name the gateway in every item: "MBmb1/hr0",
// "MQmq1/tessora/demo" (the topic keeps its own '/'), after the gateway's address when it has one.
TEST_F(GeneratorTest, ModbusAndMqttItemsNameTheirGateway) {
    struct Case {
        const char* link;
        const char* address;
        const char* function;
        const char* read;
    } cases[] = {
        {"modbuslink", "", "function getaddressmb1(){return 'MBmb1/';}", "getaddressmb1()+'hr0'"},
        {"mqttlink", "", "function getaddressmq1(){return 'MQmq1/';}",
         "getaddressmq1()+'tessora/demo'"},
        {"mqttlink", "'http://10.0.0.2/'", "function getaddressmq1(){return 'http://10.0.0.2/'+'MQmq1/';}",
         "getaddressmq1()+'tessora/demo'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.link) + " " + c.address);
        LoadFixture("project_only");
        AddLinkedWidget(project.document(), "knob", c.link);
        pugi::xml_node gateway = project.document().ProjectElement().last_child();
        project.document().SetProperty(gateway, "address", c.address);
        const std::string doc = generator.BuildDocument();
        EXPECT_NE(doc.find(c.function), std::string::npos);
        EXPECT_NE(doc.find(c.read), std::string::npos);
    }
}

// A plot whose id holds a link placeholder: the call that starts its read loop names the
// function its definition names, for every link kind that reads into a plot.
TEST_F(GeneratorTest, APlotsStartCallNamesItsReadFunctionWhateverItsId) {
    for (const char* link : {"cvnslink", "s71200webserverslink", "unitylink", "s71200webserverlink",
                             "modbuslink", "mqttlink"}) {
        SCOPED_TRACE(link);
        LoadFixture("project_only");
        AddLinkedWidget(project.document(), "plot", link, "pl(((length)))x");
        const std::string doc = generator.BuildDocument();
        EXPECT_EQ(doc.find("readpl((("), std::string::npos);
        const std::regex call(R"(\bread(pl[^;{}()]*x(_[0-9]+)?)\(\);)");
        size_t calls = 0;
        for (auto it = std::sregex_iterator(doc.begin(), doc.end(), call); it != std::sregex_iterator(); ++it) {
            ++calls;
            EXPECT_NE(doc.find("function read" + (*it)[1].str() + "("), std::string::npos) << (*it)[0];
        }
        EXPECT_GE(calls, 1u);
    }
}

// Without a link that reads, the document holds neither the style sheet nor the function.
TEST_F(GeneratorTest, OnlyDocumentsWithReadingLinksCarryTheLinkState) {
    struct Case {
        const char* name;
        const char* widget;
        const char* link;
        bool state;
    } cases[] = {
        {"no link", nullptr, nullptr, false},
        {"a button only writes", "button", "cvnlink", false},
        {"an S7-1200 button only writes", "button", "s71200webserverlink", false},
        {"a link under a label emits nothing", "label", "cvnlink", false},
        {"an Arduino link under a plot emits nothing", "plot", "arduinowebserverlink", false},
        {"a text input reads", "textinput", "kxlink", true},
    };
    for (const Case& c : cases) {
        LoadFixture("project_only");
        if (c.widget) AddLinkedWidget(project.document(), c.widget, c.link);
        const std::string doc = generator.BuildDocument();
        EXPECT_EQ(Count(doc, "tsrlink.css"), c.state ? 1u : 0u) << c.name;
        EXPECT_EQ(Count(doc, "tsrlinkstate"), c.state ? 3u : 0u) << c.name;  // function, guard, failure
    }
}

}  // namespace
}  // namespace tsr
