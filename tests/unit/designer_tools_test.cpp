// The designer's hand-overs to other programs: preview and browser URLs, the HTML editor's
// command line, the manual's files, the build dialog's settings and Build to Arduino.
#include <sys/stat.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/strings.h"
#include "designer/arduino_build.h"
#include "designer/build_settings.h"
#include "designer/tools.h"
#include "platform/fs.h"
#include "platform/profile.h"
#include "test_support.h"

namespace tsr::designer {
namespace {

bool MakeDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0;
}

TEST(DesignerTools, PreviewUrlFollowsTheServerState) {
    struct Case {
        bool running;
        unsigned port;
        std::string output;
        std::string url;
    };
    const std::vector<Case> cases = {
        {true, 80, "/tmp/TSR10.TMP/WEB", "http://localhost"},
        {true, 8080, "/tmp/TSR10.TMP/WEB", "http://localhost:8080"},
        {false, 8080, "/tmp/TSR10.TMP/WEB", "file:///tmp/TSR10.TMP/WEB/index.html"},
        {false, 80, "/home/op/my tmp/TSR1N10.TMP/WEB",
         "file:///home/op/my%20tmp/TSR1N10.TMP/WEB/index.html"},
        {false, 80, "/tmp/\xC3\xA9t\xC3\xA9#1/WEB", "file:///tmp/%C3%A9t%C3%A9%231/WEB/index.html"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PreviewUrl(c.running, c.port, c.output), c.url) << c.output << " " << c.port;
    // "Open file with Web browser" opens the file even while the server runs.
    EXPECT_EQ(GeneratedFileUrl("/tmp/TSR10.TMP/WEB"), "file:///tmp/TSR10.TMP/WEB/index.html");
}

TEST(DesignerTools, HtmlEditorIsTheOneBesideTheProgramThenOnThePathThenTheDesktopDefault) {
    test::ScratchDir program;
    const std::string page = "/tmp/X.TMP/WEB/index.html";
    EXPECT_EQ(HtmlEditorCommand(program.path(), "/tmp/X.TMP/WEB", std::nullopt),
              (std::vector<std::string>{"xdg-open", page}));
    EXPECT_EQ(HtmlEditorCommand(program.path(), "/tmp/X.TMP/WEB", "/usr/bin/scite"),
              (std::vector<std::string>{"/usr/bin/scite", page}));
    ASSERT_TRUE(MakeDirectory(program / "scite"));
    ASSERT_TRUE(WriteFile(program / "scite/scite", "#!/bin/sh\n"));
    ASSERT_EQ(chmod((program / "scite/scite").c_str(), 0755), 0);
    EXPECT_EQ(HtmlEditorCommand(program.path(), "/tmp/X.TMP/WEB", "/usr/bin/scite"),
              (std::vector<std::string>{program / "scite/scite", page}));
}

TEST(DesignerTools, HelpOpensTheManualOfTheLanguageBesideTheProgram) {
    EXPECT_EQ(HelpFilePath("/opt/t", false, HelpDocument::Help), "/opt/t/tsr_e.html");
    EXPECT_EQ(HelpFilePath("/opt/t", false, HelpDocument::Manual), "/opt/t/tsr_e.pdf");
    EXPECT_EQ(HelpFilePath("/opt/t", true, HelpDocument::Help), "/opt/t/tsr_f.html");
    EXPECT_EQ(HelpFilePath("/opt/t", true, HelpDocument::Manual), "/opt/t/tsr_f.pdf");
}

TEST(DesignerBuildSettings, DefaultsThenWhatTheLastBuildKept) {
    test::ScratchDir dir;
    Profile profile(dir / "profile.ini");
    const BuildSettings first = LoadBuildSettings(profile);
    EXPECT_EQ(first.targetDirectory, std::string(getenv("HOME")) + "/mygeneratefiles");
    EXPECT_FALSE(first.use83);

    ASSERT_TRUE(WriteFile(dir / "profile.ini", "[Tessora]\nuse83=7\n"));
    EXPECT_TRUE(LoadBuildSettings(profile).use83) << "any non-zero value means on";

    ASSERT_TRUE(SaveBuildSettings(profile, {"/srv/panel", false}));
    EXPECT_EQ(profile.GetString("Tessora", "use83", ""), "0");
    const BuildSettings again = LoadBuildSettings(Profile(dir / "profile.ini"));
    EXPECT_EQ(again.targetDirectory, "/srv/panel");
    EXPECT_FALSE(again.use83);
}

TEST(DesignerBuildSettings, AFailedCopyStillKeepsTheSettings) {
    test::ScratchDir dir;
    ASSERT_TRUE(MakeDirectory(dir / "WEB"));
    ASSERT_TRUE(WriteFile(dir / "WEB/index.html", "<html></html>"));
    Profile profile(dir / "profile.ini");
    std::string failed;
    Status saved;
    const std::string target = dir / "missing/parent/copy";
    EXPECT_EQ(RunBuild(profile, {target, true}, dir / "WEB", &failed, &saved), -1);
    EXPECT_TRUE(saved);
    EXPECT_EQ(failed, target);
    EXPECT_EQ(LoadBuildSettings(profile).targetDirectory, target);
    EXPECT_TRUE(LoadBuildSettings(profile).use83);

    EXPECT_EQ(RunBuild(profile, {dir / "copy", true}, dir / "WEB", &failed, &saved), 0);
    std::string copied;
    EXPECT_TRUE(ReadFile(dir / "copy/index.htm", copied));
    EXPECT_EQ(copied, "<html></html>");
}

// Build to Arduino's questions answered from a script; every call is recorded.
class ScriptedHost : public ArduinoHost {
  public:
    bool answerContinue = true;
    std::vector<std::optional<std::string>> answers;  // for AskText, in order
    bool answerYesNo = false;
    std::optional<std::string> directory;  // for AskDirectory; nullopt: cancelled
    std::vector<std::string> calls;
    std::vector<std::string> logLines;

    bool AskContinue(const std::string& text) override {
        calls.push_back("ask: " + text.substr(0, 24));
        return answerContinue;
    }
    void ShowError(const std::string& text) override { calls.push_back("error: " + text); }
    void ShowInfo(const std::string& text) override { calls.push_back("info: " + text); }
    bool AskYesNo(const std::string& text) override {
        calls.push_back("yes/no: " + text);
        return answerYesNo;
    }
    std::optional<std::string> AskDirectory(const std::string& prompt,
                                            const std::string& initial) override {
        calls.push_back("directory: " + prompt + " [" + initial + "]");
        return directory;
    }
    std::optional<std::string> AskText(const std::string& prompt,
                                       const std::string& initial) override {
        calls.push_back("text: " + prompt.substr(0, 13) + " [" + initial + "]");
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    void RunWithProgress(const std::string&, const std::function<void()>& work) override {
        calls.push_back("progress");
        work();
    }
    void LogLine(std::string_view line) override { logLines.emplace_back(line); }
};

class DesignerArduino : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(MakeDirectory(dir_ / "WEB"));
        ASSERT_TRUE(WriteFile(dir_ / "WEB/index.html", std::string(17, 'a')));
    }
    // A stand-in arduino-cli: "board list" answers one detected Uno, compile and upload log
    // their arguments and exit with `uploadExit` for the upload.
    std::string FakeCli(int uploadExit) {
        const std::string path = dir_ / "arduino-cli";
        EXPECT_TRUE(WriteFile(
            path, "#!/bin/sh\n"
                  "echo \"$*\" >> '" + (dir_ / "calls.log") + "'\n"
                  "case \"$1\" in\n"
                  "  board) echo '[{\"port\":{\"address\":\"/dev/ttyACM0\"},"
                  "\"matching_boards\":[{\"name\":\"Arduino Uno\",\"fqbn\":\"arduino:avr:uno\"}]}]';;\n"
                  "  upload) echo uploading; exit " + std::to_string(uploadExit) + ";;\n"
                  "  *) echo \"$1 done\";;\n"
                  "esac\n"));
        EXPECT_EQ(chmod(path.c_str(), 0755), 0);
        return path;
    }
    ArduinoOutcome Run(ScriptedHost& host, const std::optional<std::string>& cli) {
        return BuildToArduino(host, profile_, dir_.path(), dir_ / "WEB", cli);
    }
    std::string Calls() {
        std::string text;
        ReadFile(dir_ / "calls.log", text);
        return text;
    }

    test::ScratchDir dir_;
    Profile profile_{dir_ / "profile.ini"};
};

TEST_F(DesignerArduino, AnsweringNoWritesNothing) {
    ScriptedHost host;
    host.answerContinue = false;
    EXPECT_EQ(Run(host, FakeCli(0)), ArduinoOutcome::Declined);
    EXPECT_FALSE(test::Exists(dir_ / "arduinosdwrite.c"));
    EXPECT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(Calls(), "");
}

TEST_F(DesignerArduino, WithoutArduinoCliTheUserIsToldWhereTheSketchIs) {
    ScriptedHost host;
    EXPECT_EQ(Run(host, std::nullopt), ArduinoOutcome::SketchOnly);
    std::string sketch;
    ASSERT_TRUE(ReadFile(dir_ / "arduinosdwrite.c", sketch));
    EXPECT_NE(sketch.find("0x61,0x61,0x61,0x61,0x61,0x61,0x61,0x61,0x61,0x61,0x61,0x61,0x61,0x61,"
                          "0x61,0x61,\r\n0x61,\r\n};"),
              std::string::npos);
    // Told where it is, and asked whether to keep a copy; No asks nothing more.
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[1].rfind("yes/no: ", 0), 0u);
    EXPECT_NE(host.calls[1].find(dir_ / "arduinosdwrite.c"), std::string::npos) << host.calls[1];
    EXPECT_NE(host.calls[1].find(LoadString(kTextArduinoSaveQuestion)), std::string::npos);
}

TEST_F(DesignerArduino, WithoutArduinoCliTheSketchAndItsPageAreCopiedWhereTheUserAsks) {
    const std::string target = dir_ / "kept";
    ASSERT_TRUE(MakeDirectory(target));
    // An older copy is replaced.
    ASSERT_TRUE(WriteFile(target + "/index.htm", "old"));
    ScriptedHost host;
    host.answerYesNo = true;
    host.directory = target;
    EXPECT_EQ(Run(host, std::nullopt), ArduinoOutcome::SketchSaved);
    std::string sketch, copy, page;
    ASSERT_TRUE(ReadFile(dir_ / "arduinosdwrite.c", sketch));
    ASSERT_TRUE(ReadFile(target + "/arduinosdwrite.c", copy));
    EXPECT_EQ(copy, sketch);
    ASSERT_TRUE(ReadFile(target + "/index.htm", page));
    EXPECT_EQ(page, std::string(17, 'a'));
    // The directory is asked starting at the home directory, then kept for the next time.
    ASSERT_EQ(host.calls.size(), 4u);
    const char* home = std::getenv("HOME");
    EXPECT_EQ(host.calls[2], "directory: " + LoadString(kTextArduinoSaveDirectory) + " [" +
                                 std::string(home && *home ? home : "/") + "]");
    // The message says where both went.
    EXPECT_EQ(host.calls[3].rfind("info: ", 0), 0u);
    EXPECT_NE(host.calls[3].find(target + "/arduinosdwrite.c"), std::string::npos) << host.calls[3];
    EXPECT_NE(host.calls[3].find(target + "/index.htm"), std::string::npos) << host.calls[3];
    EXPECT_EQ(profile_.GetString("Tessora", "arduinosavedir", ""), target);

    ScriptedHost again;
    again.answerYesNo = true;
    EXPECT_EQ(Run(again, std::nullopt), ArduinoOutcome::SketchOnly);  // cancelled this time
    ASSERT_EQ(again.calls.size(), 3u);
    EXPECT_EQ(again.calls[2], "directory: " + LoadString(kTextArduinoSaveDirectory) + " [" +
                                  target + "]");
}

TEST_F(DesignerArduino, ACopyThatCannotBeWrittenIsReportedWithItsPath) {
    ScriptedHost host;
    host.answerYesNo = true;
    host.directory = dir_ / "no/such/directory";
    EXPECT_EQ(Run(host, std::nullopt), ArduinoOutcome::SaveFailed);
    EXPECT_EQ(host.calls.back(), "error: " + LoadString(136) + "\n" +
                                     (dir_ / "no/such/directory/arduinosdwrite.c"));
}

TEST_F(DesignerArduino, AMissingPageIsReportedWithTheReadMessage) {
    ASSERT_TRUE(RemoveTree(dir_ / "WEB"));
    ScriptedHost host;
    EXPECT_EQ(Run(host, FakeCli(0)), ArduinoOutcome::SketchFailed);
    EXPECT_EQ(host.calls.back(), "error: " + LoadString(137));
}

TEST_F(DesignerArduino, TheBoardAndPortAreAskedOnceThenKept) {
    const std::string cli = FakeCli(0);
    ScriptedHost first;
    first.answers = {"arduino:avr:mega", "/dev/ttyUSB1"};
    EXPECT_EQ(Run(first, cli), ArduinoOutcome::Uploaded);
    // The detected board is offered.
    ASSERT_GE(first.calls.size(), 3u);
    EXPECT_NE(first.calls[1].find("[arduino:avr:uno]"), std::string::npos) << first.calls[1];
    EXPECT_NE(first.calls[2].find("[/dev/ttyACM0]"), std::string::npos) << first.calls[2];
    EXPECT_EQ(first.calls.back(), "info: " + LoadString(kMsgArduinoWait));
    const std::string dir = dir_ / "arduinosdwrite";
    EXPECT_EQ(Calls(), "board list --format json\n"
                       "compile --fqbn arduino:avr:mega " + dir + "\n"
                       "upload -p /dev/ttyUSB1 --fqbn arduino:avr:mega " + dir + "\n");
    std::string ino;
    EXPECT_TRUE(ReadFile(dir + "/arduinosdwrite.ino", ino));
    EXPECT_NE(ino.find("#include <SD.h>"), std::string::npos);

    ScriptedHost second;
    EXPECT_EQ(Run(second, cli), ArduinoOutcome::Uploaded);
    for (const std::string& call : second.calls)
        EXPECT_EQ(call.rfind("text:", 0), std::string::npos) << "asked again: " << call;
    EXPECT_NE(std::find(second.logLines.begin(), second.logLines.end(), "compile done"),
              second.logLines.end());
}

TEST_F(DesignerArduino, AFailedUploadForgetsTheBoardSoThatItIsAskedAgain) {
    ScriptedHost host;
    host.answers = {"arduino:avr:uno", "/dev/ttyACM0"};
    EXPECT_EQ(Run(host, FakeCli(1)), ArduinoOutcome::UploadFailed);
    EXPECT_EQ(host.calls.back(), "error: " + LoadString(kTextArduinoFailed));
    EXPECT_NE(std::find(host.logLines.begin(), host.logLines.end(), "uploading"),
              host.logLines.end());
    EXPECT_EQ(profile_.GetString("Tessora", "arduinofqbn", "unset"), "");

    ScriptedHost cancelled;  // asked again, and cancelled: nothing is compiled
    EXPECT_EQ(Run(cancelled, FakeCli(0)), ArduinoOutcome::Declined);
    EXPECT_EQ(cancelled.calls.back().rfind("text:", 0), 0u);
}

}  // namespace
}  // namespace tsr::designer

namespace tsr::designer {
namespace {

TEST(DesignerTools, ThePreviewReloadsOnlyWhatChangedOrFailed) {
    const std::string file = "file:///tmp/w/WEB/index.html", server = "http://localhost:8080";
    struct Case {
        const char* name;
        std::string shown, url;
        bool documentChanged, failed, expected;
    } cases[] = {
        {"the same document at the same place", file, file, false, false, false},
        {"another document", file, file, true, false, true},
        {"the server started", file, server, false, false, true},
        {"the last load failed", server, server, false, true, true},
        {"nothing shown yet", "", file, false, false, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PreviewNeedsReload(c.shown, c.url, c.documentChanged, c.failed), c.expected)
            << c.name;
}

}  // namespace
}  // namespace tsr::designer
