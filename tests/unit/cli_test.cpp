// The command-line tool, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
    struct Case {
        std::string args;
        std::string message;
    } cases[] = {
        {"show '" + dir / "junk.tsr'", "Error while loading : " + dir / "junk.tsr"},
        {"show", "usage:"},
        {"frobnicate", "usage:"},
        {"new '" + dir / "no/such/dir/x.tsr'", "Error while saving"},
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
