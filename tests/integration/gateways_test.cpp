// The gateway lifecycle and the SQL and DLL gateways, through the web server's routes.
#include "gateways/lifecycle.h"


#include <gtest/gtest.h>

#include "base/strings.h"
#include "generator/generator.h"
#include "served_program.h"
#include "socket_support.h"
#include "test_support.h"
#include "webserver/serving_hooks.h"

namespace tsr {
namespace {

// A running program without a window, as serve has it.
class GatewaysTest : public ::testing::Test, protected test::ServedProgram {
protected:
    void SetUp() override { ASSERT_EQ(started, 0); }
    void Generate() { ASSERT_TRUE(generator.generateApplication()); }

    // No local program's socket is found there.
    test::ScopedEnvironment runtimeDir{"XDG_RUNTIME_DIR", tmp.path()};
};

// A device gateway that cannot connect says which address it tried and why, in its line.
TEST_F(GatewaysTest, AFailedConnectionNamesTheAddressAndTheReason) {
    setenv("LANG", "C", 1);
    // Port 1 of the loopback address: nothing listens there, the system refuses at once.
    struct Case {
        const char* type;
        const char* ip;
        const char* line;
    } cases[] = {
        {"unigateway", "127.0.0.1:1",
         "Cannot connect to Unity simulator or M340, will retry in 5 seconds (127.0.0.1:1: "
         "connection refused)"},
        {"s7ipgateway", "127.0.0.1:1",
         "Cannot connect to S7 IP, will retry in 5 seconds (127.0.0.1:1: connection refused)"},
        {"modbusgateway", "127.0.0.1:1",
         "Cannot connect to Modbus TCP device 127.0.0.1:1, will retry in 5 seconds (127.0.0.1:1: "
         "connection refused)"},
        {"unigateway", "no-such-host.invalid",
         "Cannot connect to Unity simulator or M340, will retry in 5 seconds "
         "(no-such-host.invalid:502: unknown host)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        pugi::xml_node gateway = Add(c.type);
        project.document().SetProperty(gateway, "ip", c.ip);
        const size_t before = Messages().size();
        Generate();
        const std::vector<std::string> m = Messages();
        ASSERT_GT(m.size(), before);
        EXPECT_EQ(m.back(), c.line);
        project.document().DeleteObject(gateway);
        Generate();
    }
}

// Each line of a gateway's state has the colour of its kind: a connection made is green, a
// failure red, and a connection closed blue, the colour of a change of state that is no success.
TEST_F(GatewaysTest, EachStateLineHasTheColourOfItsKind) {
    struct Case {
        const char* type;
        const char* property;
        std::string value;
        const char* opened;  // the line of the start, green
        const char* closed;  // the line once the gateway is deleted, blue
    } cases[] = {
        {"sqllitegateway", "sqlfilename", "db.sql", "Connected to SQL database",
         "Disconnected from SQL database"},
        {"dllgateway", "dllfilename", TESSORA_TEST_LIBRARY, "Connected to dll",
         "Disconnected from dll"},
        {"printgateway", "printername", "file:" + tmp / "x.pdf", "Printer opened",
         "Printer closed"},
        {"dllgateway", "dllfilename", "missing.so",
         "Cannot connect to dll, verify the filename and the dll file", "Disconnected from dll"},
    };
    auto colourOf = [&](const std::string& text, size_t from) {
        const std::vector<RecordingLogSink::Line> lines = log.Lines();
        for (size_t i = from; i < lines.size(); ++i)
            if (lines[i].text == text) return lines[i].colour;
        return 0u;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type + std::string(" ") + c.value);
        pugi::xml_node gateway = Add(c.type);
        project.document().SetProperty(gateway, c.property, c.value);
        size_t from = log.Lines().size();
        Generate();
        const bool failed = std::string(c.opened).rfind("Cannot", 0) == 0;
        EXPECT_EQ(colourOf(c.opened, from), static_cast<unsigned>(failed ? kLogRed : kLogGreen));
        project.document().DeleteObject(gateway);
        from = log.Lines().size();
        Generate();
        EXPECT_EQ(colourOf(c.closed, from), static_cast<unsigned>(kLogBlue));
    }
}

TEST_F(GatewaysTest, SqlEndToEnd) {
    Add("sqllitegateway");  // db.sql in the working directory
    Generate();
    EXPECT_EQ(Messages(), std::vector<std::string>{"Connected to SQL database"});
    EXPECT_EQ(Post("/SQLcreate%20table%20t(a,b)"), "");
    EXPECT_EQ(Post("/SQLinsert%20into%20t%20values(1,'x')"), "");
    EXPECT_EQ(Post("/SQLinsert%20into%20t%20values(2,NULL)"), "");
    EXPECT_EQ(Post("/SQLselect%20a,b%20from%20t%20order%20by%20a"), "1;x;2;");
    EXPECT_EQ(Post("/SQLselect%20nothing%20from%20nowhere"), "[err=-1]");
    EXPECT_FALSE(test::ReadAll(project.workingDirectory().path() + "/db.sql").empty());
    // An answer that would pass 100000 bytes is refused whole.
    EXPECT_EQ(Post("/SQLselect%20hex(zeroblob(60000))"), "[err=-1]");
    EXPECT_EQ(Post("/SQLselect%20hex(zeroblob(40000))"), std::string(80000, '0'));
}

TEST_F(GatewaysTest, ASecondSqlGatewayReplacesTheFirstDatabase) {
    GetPropertyOr(Add("sqllitegateway"), "sqlfilename", "");
    pugi::xml_node second = Add("sqllitegateway");
    project.document().SetProperty(second, "sqlfilename", tmp / "other.sql");
    Generate();
    EXPECT_EQ(Messages(), (std::vector<std::string>{"Connected to SQL database",
                                                    "Connected to SQL database"}));
    Post("/SQLcreate%20table%20only_here(a)");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((tmp / "other.sql").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "select * from only_here", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

TEST_F(GatewaysTest, DllEndToEnd) {
    pugi::xml_node dll = Add("dllgateway");
    project.document().SetProperty(dll, "dllfilename", TESSORA_TEST_LIBRARY);
    Generate();
    // Stopping the gateways before starting them reports the DLL even when none was loaded.
    EXPECT_EQ(Messages(), (std::vector<std::string>{"Disconnected from dll", "Connected to dll"}));
    EXPECT_EQ(Post("/DLLecho", "hello body"), "echo:hello body");
    EXPECT_EQ(Post("/DLLecho"), "echo:");
    EXPECT_EQ(Post("/DLLunknown", "x"), "[error:can't find proc]");
    EXPECT_EQ(Post("/DLLnothing"), "");
    EXPECT_EQ(Post("/DLLhuge").size(), 100000u);
    EXPECT_EQ(Post("/DLLroot", "16"), "4");

    // Only the library's own procedures: not those of the libraries it depends on, not its data.
    test::ScratchDir scratch;
    const std::string trace = scratch / "ran";
    const struct {
        const char* name;
        std::string body;
    } refused[] = {
        {"system", "touch " + trace},
        {"getenv", "PATH"},
        {"abort", ""},
        {"printf", "%s%s%s%n"},
        {"sqrt", "4"},
        {"not_a_procedure", ""},
        {"_init", ""},
    };
    for (const auto& r : refused)
        EXPECT_EQ(Post(std::string("/DLL") + r.name, r.body), "[error:can't find proc]")
            << r.name;
    EXPECT_FALSE(test::Exists(trace));
    EXPECT_EQ(Post("/DLLecho", "still here"), "echo:still here");

    // A name without '/' is a file of the working directory; a missing file loads nothing.
    ASSERT_TRUE(WriteFile(project.workingDirectory().path() + "/mine.so",
                          test::ReadAll(TESSORA_TEST_LIBRARY)));
    project.document().SetProperty(dll, "dllfilename", "mine.so");
    Generate();
    EXPECT_EQ(Post("/DLLecho", "again"), "echo:again");
    project.document().SetProperty(dll, "dllfilename", "missing.so");
    Generate();
    EXPECT_EQ(Messages().back(),
              "Cannot connect to dll, verify the filename and the dll file");
    EXPECT_EQ(Post("/DLLecho", "x"), "[no dll loaded]");
    // "Disconnected from dll" at every regeneration, loaded or not.
    Generate();
    auto m = Messages();
    EXPECT_EQ(m[m.size() - 2], "Disconnected from dll");
}

// Collapses every run of white space to one space.
std::string Words(const std::string& text) {
    std::string out;
    for (char c : text) {
        bool space = c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f';
        if (space && (out.empty() || out.back() == ' ')) continue;
        out += space ? ' ' : c;
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

TEST_F(GatewaysTest, PrinterToAPdfFile) {
    // Before the first generation nothing serves.
    EXPECT_EQ(test::AnswerBody(test::HttpExchange(
                  port() ? port() : 1, "POST /PRN HTTP/1.0\r\nContent-Length: 1\r\n\r\nx")),
              "(no connection)");
    const std::string pdf = tmp / "x.pdf";
    pugi::xml_node printer = Add("printgateway");
    project.document().SetProperty(printer, "printername", "file:" + pdf);
    Generate();
    EXPECT_EQ(Messages(), std::vector<std::string>{"Printer opened"});
    std::string text;
    for (int i = 1; i <= 150; ++i)
        text += "Line " + std::to_string(i) + "\tof the report, with some words to wrap\n";
    EXPECT_EQ(Post("/PRN", text), "");
    int status = -1;
    std::string pages = test::RunCommand("pdfinfo '" + pdf + "' | grep Pages", &status);
    EXPECT_NE(pages.find(" 3\n"), std::string::npos) << pages;
    EXPECT_EQ(Words(test::RunCommand("pdftotext -raw '" + pdf + "' -")), Words(text));
    // No printer open: the request answers an error.
    project.document().SetProperty(printer, "printername", "file:" + tmp / "no/dir/x.pdf");
    Generate();
    EXPECT_EQ(Messages().back(), "Can't open printer");
    EXPECT_EQ(Post("/PRN", "x"), "[err=-1]");
}

TEST_F(GatewaysTest, ServerOffStartsNothingAndRetriesNothing) {
    Add("unigateway");
    Add("sqllitegateway");
    project.document().SetProperty(project.document().ProjectElement(), "webserveron", "0");
    Generate();
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(server.IsWebServerRunning());
}

TEST_F(GatewaysTest, RetriesReportEveryObjectOfTheRetriedFamilies) {
    Add("unigateway");
    Add("unigateway");
    Add("sqllitegateway");
    Add("s7ipgateway");
    Generate();
    // Each failure names the address tried (the families' default ports) and the reason.
    const std::string unity = LoadString(123) + " (127.0.0.1:502: connection refused)",
                      s7 = LoadString(126) + " (127.0.0.1:102: connection refused)";
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{unity, unity, "Connected to SQL database", s7}));
    size_t before = log.Lines().size();
    gateways.RetryGateways(project.document());
    std::vector<std::string> retry;
    for (size_t i = before; i < log.Lines().size(); ++i) retry.push_back(log.Lines()[i].text);
    EXPECT_EQ(retry, (std::vector<std::string>{unity, unity, s7}));  // SQL is never retried
    EXPECT_EQ(log.Lines().back().colour, static_cast<unsigned>(kLogRed));
    // Device routes answer as for a missing device: no Corvane runtime is -2.
    EXPECT_EQ(Post("/UNI%MW0;%MW1=2;%MW2"), "[err];[err]");
    EXPECT_EQ(Post("/CVNm200"), "[error orvo -2]");
    EXPECT_EQ(Post("/SMspeed;speed"), ";");
}

}  // namespace
}  // namespace tsr
