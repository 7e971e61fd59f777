// The command-line tool, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include "model/document_text.h"
#include "model/project_document.h"
#include "test_support.h"

namespace tsr {
namespace {

std::string Cli(const std::string& args, int* status) {
    return test::RunCommand("LC_ALL=C " + std::string(TESSORA_CLI) + " " + args + " 2>&1", status);
}

TEST(Cli, NewWritesANewProjectAndNeverOverwritesSilently) {
    test::ScratchDir dir;
    const std::string path = dir / "x.tsr";
    int status = -1;
    Cli("new '" + path + "'", &status);
    ASSERT_EQ(status, 0);
    ProjectDocument expected;
    expected.NewProjectDocument();
    auto entries = test::ReadZip(path);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries["tsr.tsr"], WriteDocumentText(expected.xml()));

    const std::string first = test::ReadAll(path);
    std::string out = Cli("new '" + path + "'", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("already exists"), std::string::npos) << out;
    EXPECT_EQ(test::ReadAll(path), first);
    Cli("new --force '" + path + "'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test::ReadZip(path)["tsr.tsr"], WriteDocumentText(expected.xml()));
}

// Two `new` commands on one name at the same moment: one writes the project, the other finds
// the file there and leaves it alone (a check then a save would let both "succeed").
TEST(Cli, RacingNewCommandsCreateTheFileOnce) {
    test::ScratchDir dir;
    for (int round = 0; round < 20; ++round) {
        const std::string path = dir / ("race" + std::to_string(round) + ".tsr");
        int status = -1;
        const std::string cli = "LC_ALL=C " + std::string(TESSORA_CLI) + " new '" + path + "'";
        const std::string out = test::RunCommand(
            "{ " + cli + " & p1=$!; " + cli + " & p2=$!; wait $p1; a=$?; wait $p2; b=$?; "
            "echo \"rc $a $b\"; } 2>&1",
            &status);
        SCOPED_TRACE(out);
        ASSERT_EQ(status, 0);
        const bool oneWon = out.find("rc 0 1") != std::string::npos ||
                            out.find("rc 1 0") != std::string::npos;
        EXPECT_TRUE(oneWon);
        EXPECT_NE(out.find("already exists"), std::string::npos);
        EXPECT_EQ(test::ReadZip(path).size(), 1u);
    }
    // Nothing but the projects: no temporary file left beside them.
    EXPECT_EQ(ListDirectory(dir.path()).size(), 20u);
}

// A FIFO given as the project is refused at once instead of waiting for a writer.
TEST(Cli, ShowOnAFifoFailsAtOnce) {
    test::ScratchDir dir;
    const std::string fifo = dir / "pipe.tsr";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int status = 0;
    const std::string out = Cli("show '" + fifo + "'", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("Error while loading : " + fifo + " (not a regular file)"), std::string::npos)
        << out;
}

// A --page that no page has is said, and the application opens on its first page.
TEST(Cli, GenerateWarnsOfAPageNoPageHas) {
    test::ScratchDir dir;
    int status = -1;
    std::string out = Cli("generate '" TESSORA_SOURCE_DIR "/examples/demo.tsr' --out '" + dir / "web" +
                              "' --page NoSuchPage",
                          &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("tessora-cli: warning: no page is named NoSuchPage; the application opens "
                       "on its first page"),
              std::string::npos)
        << out;
    out = Cli("generate '" TESSORA_SOURCE_DIR "/examples/demo.tsr' --out '" + dir / "web" +
                  "' --page FirstPage",
              &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.find("warning"), std::string::npos) << out;
}

TEST(Cli, ShowPrintsTheObjectTree) {
    int status = -1;
    std::string out = Cli("show '" TESSORA_SOURCE_DIR "/examples/demo.tsr'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("   0  project\n   1    page  FirstPage\n"), std::string::npos) << out;
    EXPECT_NE(out.find("      knob  knob1\n"), std::string::npos) << out;
}

TEST(Cli, ErrorsGoToStandardErrorWithAFailingStatus) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "junk.tsr", "not a project"));
    ASSERT_TRUE(WriteFile(dir / "broken.tsr", "<tsr>\n<project>\n</page>\n"));
    ASSERT_TRUE(WriteFile(dir / "other.tsr", "<svg/>"));
    {
        // An archive without the project document.
        int error = 0;
        zip_t* za = zip_open((dir / "empty.tsr").c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        ASSERT_NE(za, nullptr);
        zip_source_t* src = zip_source_buffer(za, "x", 1, 0);
        ASSERT_GE(zip_file_add(za, "notes.txt", src, 0), 0);
        src = zip_source_buffer(za, "x", 1, 0);
        ASSERT_GE(zip_file_add(za, "../up.txt", src, 0), 0);
        ASSERT_EQ(zip_close(za), 0);
    }
    struct Case {
        std::string args;
        std::string message;
    } cases[] = {
        {"show '" + dir / "junk.tsr'",
         "Error while loading : " + dir / "junk.tsr (neither a zip archive nor an XML document)"},
        {"show '" + dir / "broken.tsr'",
         "Error while loading : " + dir / "broken.tsr (XML error at line 3: Start-end tags mismatch)"},
        {"show '" + dir / "other.tsr'",
         "Error while loading : " + dir / "other.tsr (the root element is not \"tsr\")"},
        {"show '" + dir / "empty.tsr'",
         "(an archive entry would leave the working directory: ../up.txt)"},
        {"show '" + dir / "missing.tsr'", "(No such file or directory)"},
        {"show", "tessora-cli: the project file is missing\nusage:"},
        {"show a.tsr b.tsr", "tessora-cli: one project file only (also given: b.tsr)\nusage:"},
        {"frobnicate", "tessora-cli: unknown command frobnicate\nusage:"},
        {"", "tessora-cli: the command is missing\nusage:"},
        {"generate x.tsr --frob 1", "tessora-cli: unknown option --frob\nusage:"},
        {"generate x.tsr --out", "tessora-cli: --out needs a value\nusage:"},
        {"build x.tsr", "tessora-cli: --to is missing\nusage:"},
        {"arduino x.tsr", "tessora-cli: --sketch is missing\nusage:"},
        {"serve", "tessora-cli: the project file is missing\nusage:"},
        {"new '" + dir / "no/such/dir/x.tsr'", "Error while saving (No such file or directory)"},
    };
    for (const Case& c : cases) {
        int status = 0;
        std::string out = Cli(c.args, &status);
        EXPECT_NE(status, 0) << c.args;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.args << ": " << out;
    }
}

}  // namespace
}  // namespace tsr

namespace tsr {
namespace {

TEST(Cli, GenerateBuildAndArduinoWorkOnTheExampleProject) {
    test::ScratchDir dir;
    const std::string demo = "'" TESSORA_SOURCE_DIR "/examples/demo.tsr'";
    int status = -1;
    std::string out = Cli("generate " + demo + " --out '" + dir / "web" + "' --page Trend", &status);
    ASSERT_EQ(status, 0) << out;
    const std::string index = test::ReadAll(dir / "web/index.html");
    EXPECT_NE(index.find("<div data-role = \"page\" id = \"Trend\""), std::string::npos);
    EXPECT_NE(index.find("window.location.href = '#Trend';"), std::string::npos);
    EXPECT_NE(out.find("Generate: Tessora V1.08"), std::string::npos) << out;

    out = Cli("build " + demo + " --to '" + dir / "copy" + "' --83", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_FALSE(test::ReadAll(dir / "copy/index.htm").empty());
    out = Cli("build " + demo + " --to '" + dir / "missing/copy" + "'", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("Error while generating files (-1)"), std::string::npos) << out;

    out = Cli("arduino " + demo + " --sketch '" + dir / "sketch.c" + "'", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(test::ReadAll(dir / "sketch.c").rfind("\r\n#include <SPI.h>", 0), 0u);
    Cli("arduino " + demo, &status);
    EXPECT_EQ(status, 2);  // the sketch path is required
}

}  // namespace
}  // namespace tsr
