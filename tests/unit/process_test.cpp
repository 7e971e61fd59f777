#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <tuple>
#include <vector>

#include "platform/arduino_cli.h"
#include "test_support.h"

namespace tsr {
namespace {


// Puts `dir` first on PATH while the object lives.
class PathPrefix {
public:
    explicit PathPrefix(const std::string& dir)
        : env_("PATH", dir + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")) {}

private:
    test::ScopedEnvironment env_;
};

bool WriteScript(const std::string& path, const std::string& body) {
    return WriteFile(path, "#!/bin/sh\n" + body) && chmod(path.c_str(), 0755) == 0;
}

// The content of `path` once it exists; empty when it has not appeared within ten seconds.
std::string WaitForFile(const std::string& path) {
    std::string content;
    for (int i = 0; i < 1000 && !ReadFile(path, content); ++i) usleep(10000);
    return content;
}

// True when this process has no child left, running or zombie.
bool NoChildLeft() {
    int status;
    return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

// A descriptor open without close-on-exec, numbered high enough that no shell uses it.
class LeakyFd {
public:
    explicit LeakyFd(const std::string& path) {
        int fd = open(path.c_str(), O_RDONLY);
        fd_ = fd >= 0 ? fcntl(fd, F_DUPFD, 50) : -1;
        if (fd >= 0) close(fd);
    }
    ~LeakyFd() {
        if (fd_ >= 0) close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

// A shell command that writes "<stdin's target> <clean|leaked>" to "$1", checking whether
// descriptor `fd` reached the shell.
std::string DescriptorReport(int fd) {
    return "r=clean; [ -e /proc/$$/fd/" + std::to_string(fd) +
           " ] && r=leaked; printf '%s %s' \"$(readlink /proc/$$/fd/0)\" \"$r\" > \"$1.tmp\" && "
           "mv \"$1.tmp\" \"$1\"";
}

TEST(ProcessFind, TakesTheFirstExecutableFileOnPath) {
    test::ScratchDir a, b;
    ASSERT_TRUE(WriteScript(a / "tool", "exit 0\n"));
    ASSERT_TRUE(WriteScript(b / "tool", "exit 0\n"));
    ASSERT_TRUE(WriteFile(a / "plain", "not executable"));
    ASSERT_TRUE(WriteScript(b / "plain", "exit 0\n"));
    ASSERT_EQ(mkdir((a / "sub").c_str(), 0755), 0);
    ASSERT_TRUE(WriteScript(b / "sub", "exit 0\n"));
    test::ScopedEnvironment path("PATH", ":" + a.path() + "::" + b.path());
    struct Case {
        std::string name;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"tool", a / "tool"},
        {"plain", b / "plain"},  // a's copy is not executable
        {"sub", b / "sub"},      // a's is a directory
        {"tessora-no-such-program", std::nullopt},
        {"", std::nullopt},
        {a / "tool", a / "tool"},  // a name with '/' is taken as given
        {a / "plain", std::nullopt},
        {a / "sub", std::nullopt},
        {a / "missing", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(FindProgramOnPath(c.name), c.expected) << c.name;
}

TEST(ProcessLaunch, RunsTheProgramDetachedWithNothingInherited) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "secret", "x"));
    LeakyFd leaky(dir / "secret");
    ASSERT_GE(leaky.fd(), 50);
    const std::string marker = dir / "marker";
    Status status = LaunchDetached({"sh", "-c", DescriptorReport(leaky.fd()), "sh", marker});
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_TRUE(NoChildLeft());
    EXPECT_EQ(WaitForFile(marker), "/dev/null clean");
}

TEST(ProcessLaunch, ReportsProgramsThatCannotStart) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "plain", "not executable"));
    const std::vector<std::vector<std::string>> cases = {
        {},
        {""},
        {"tessora-no-such-program"},
        {dir / "missing", "arg"},
        {dir / "plain"},
        {dir.path()},
    };
    for (const std::vector<std::string>& argv : cases) {
        Status status = LaunchDetached(argv);
        EXPECT_FALSE(status.ok()) << (argv.empty() ? "(empty)" : argv[0]);
        EXPECT_FALSE(status.message.empty());
    }
    EXPECT_TRUE(NoChildLeft());
}

TEST(ProcessRun, CapturesOutputAndExitCode) {
    struct Case {
        std::vector<std::string> argv;
        int exitCode;
        std::string output;
    };
    const std::vector<Case> cases = {
        {{"true"}, 0, ""},
        {{"sh", "-c", "exit 3"}, 3, ""},
        {{"sh", "-c", "echo out; echo err >&2; echo \"$1\"", "sh", "a b;c"}, 0, "out\nerr\na b;c\n"},
        {{"sh", "-c", "printf partial; exit 1"}, 1, "partial"},
        {{"sh", "-c", "cat; echo done"}, 0, "done\n"},  // stdin is empty
        {{"sh", "-c", "kill -TERM $$"}, 128 + SIGTERM, ""},
        {{"sh", "-c", "kill -KILL $$"}, 128 + SIGKILL, ""},
    };
    for (const Case& c : cases) {
        std::optional<ProcessResult> result = RunAndCapture(c.argv);
        ASSERT_TRUE(result.has_value()) << c.argv.back();
        EXPECT_EQ(result->exitCode, c.exitCode) << c.argv.back();
        EXPECT_EQ(result->output, c.output) << c.argv.back();
    }
    EXPECT_TRUE(NoChildLeft());
}

TEST(ProcessRun, NothingWhenTheProgramCannotStart) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "plain", "not executable"));
    const std::vector<std::vector<std::string>> cases = {
        {}, {"tessora-no-such-program"}, {dir / "missing"}, {dir / "plain"}};
    for (const std::vector<std::string>& argv : cases)
        EXPECT_FALSE(RunAndCapture(argv).has_value()) << (argv.empty() ? "(empty)" : argv[0]);
    EXPECT_TRUE(NoChildLeft());
}

TEST(ProcessRun, PassesNoOtherDescriptor) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "secret", "x"));
    LeakyFd leaky(dir / "secret");
    ASSERT_GE(leaky.fd(), 50);
    std::optional<ProcessResult> result =
        RunAndCapture({"sh", "-c", DescriptorReport(leaky.fd()), "sh", dir / "report"});
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->exitCode, 0) << result->output;
    EXPECT_EQ(test::ReadAll(dir / "report"), "/dev/null clean");
}

TEST(ProcessRun, CallsBackForEachLine) {
    std::vector<std::string> lines;
    std::optional<ProcessResult> result =
        RunAndCapture({"sh", "-c", "printf 'a\\nb\\r\\n\\nlast'"},
                      [&](std::string_view line) { lines.emplace_back(line); });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->output, "a\nb\r\n\nlast");
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "", "last"}));
}

// The program waits for a file that the callback creates on the first line, so it can only
// finish if lines are delivered while it runs.
TEST(ProcessRun, DeliversLinesWhileTheProgramRuns) {
    test::ScratchDir dir;
    const std::string flag = dir / "flag";
    std::vector<std::string> lines;
    std::optional<ProcessResult> result = RunAndCapture(
        {"sh", "-c",
         "echo first; i=0; while [ ! -e \"$1\" ]; do i=$((i+1)); "
         "[ $i -gt 1000 ] && { echo timeout; exit 1; }; sleep 0.01; done; echo second",
         "sh", flag},
        [&](std::string_view line) {
            lines.emplace_back(line);
            if (line == "first") WriteFile(flag, "");
        });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->exitCode, 0);
    EXPECT_EQ(lines, (std::vector<std::string>{"first", "second"}));
}

// ---- arduino-cli ----

TEST(ArduinoCliSketch, CopiesTheSketchIntoItsOwnDirectory) {
    test::ScratchDir dir;
    const std::string sketch = dir / "arduinosdwrite.c";
    const std::string first("#include <SD.h>\r\n\0\xff bytes\r\n", 26);
    ASSERT_TRUE(WriteFile(sketch, first));
    std::string sketchDir;
    ASSERT_TRUE(PrepareSketchDirectory(sketch, &sketchDir));
    EXPECT_EQ(sketchDir, dir / "arduinosdwrite");
    EXPECT_EQ(test::ReadAll(dir / "arduinosdwrite/arduinosdwrite.ino"), first);

    // A second run replaces the older, longer copy.
    ASSERT_TRUE(WriteFile(sketch, "void setup(){}"));
    ASSERT_TRUE(PrepareSketchDirectory(sketch, &sketchDir));
    EXPECT_EQ(test::ReadAll(dir / "arduinosdwrite/arduinosdwrite.ino"), "void setup(){}");
    EXPECT_EQ(ListDirectory(sketchDir), std::vector<std::string>{"arduinosdwrite.ino"});
    EXPECT_EQ(test::ReadAll(sketch), "void setup(){}");
}

TEST(ArduinoCliSketch, ReportsWhatCannotBePrepared) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "blocked.c", "x"));
    ASSERT_TRUE(WriteFile(dir / "blocked", "a file where the directory should go"));
    for (const std::string& sketch : {dir / "missing.c", dir / "blocked.c"}) {
        std::string sketchDir = "unchanged";
        Status status = PrepareSketchDirectory(sketch, &sketchDir);
        EXPECT_FALSE(status.ok()) << sketch;
        EXPECT_FALSE(status.message.empty());
        EXPECT_EQ(sketchDir, "unchanged");
    }
}

TEST(ArduinoCliArgs, CompileAndUploadCommandLines) {
    EXPECT_EQ(ArduinoCompileArgs("arduino-cli", "arduino:avr:uno", "/w/s"),
              (std::vector<std::string>{"arduino-cli", "compile", "--fqbn", "arduino:avr:uno",
                                        "/w/s"}));
    EXPECT_EQ(ArduinoUploadArgs("/opt/cli", "arduino:avr:mega", "/dev/ttyACM0", "/w/s"),
              (std::vector<std::string>{"/opt/cli", "upload", "-p", "/dev/ttyACM0", "--fqbn",
                                        "arduino:avr:mega", "/w/s"}));
}

using BoardRow = std::tuple<std::string, std::string, std::string>;

std::vector<BoardRow> Rows(const std::vector<ArduinoBoard>& boards) {
    std::vector<BoardRow> rows;
    for (const ArduinoBoard& b : boards) rows.emplace_back(b.port, b.fqbn, b.name);
    return rows;
}

TEST(ArduinoCliBoards, ReadsBothListForms) {
    struct Case {
        const char* json;
        std::vector<BoardRow> expected;
    };
    const std::vector<Case> cases = {
        {R"([{"port":{"address":"/dev/ttyACM0","protocol":"serial"},
              "matching_boards":[{"name":"Arduino Uno","fqbn":"arduino:avr:uno"}]},
             {"port":{"address":"/dev/ttyS0","protocol":"serial"}}])",
         {{"/dev/ttyACM0", "arduino:avr:uno", "Arduino Uno"}, {"/dev/ttyS0", "", ""}}},
        {R"({"detected_ports":[
              {"port":{"address":"/dev/ttyUSB0"},"matching_boards":[
                 {"name":"Arduino Nano","fqbn":"arduino:avr:nano"},
                 {"name":"Arduino Mini","fqbn":"arduino:avr:mini"}]},
              {"port":{"address":"/dev/ttyS1"},"matching_boards":[]}]})",
         {{"/dev/ttyUSB0", "arduino:avr:nano", "Arduino Nano"},
          {"/dev/ttyUSB0", "arduino:avr:mini", "Arduino Mini"},
          {"/dev/ttyS1", "", ""}}},
        {R"([{"address":"/dev/ttyACM1","boards":[{"name":"Mega","FQBN":"arduino:avr:mega"}]}])",
         {{"/dev/ttyACM1", "arduino:avr:mega", "Mega"}}},
        {R"({"detected_ports":[]})", {}},
        {"[]", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(Rows(ParseBoardList(c.json)), c.expected) << c.json;
}

TEST(ArduinoCliBoards, MalformedTextGivesNoBoards) {
    for (const char* text : {"", "not json", "[{", "42", "{\"detected_ports\": 3}",
                             "{\"ports\": []}", "[1, \"x\", null, {\"port\": 5},"
                                                " {\"port\": {\"address\": 7}}]"})
        EXPECT_TRUE(ParseBoardList(text).empty()) << text;
}

// A stand-in arduino-cli that logs its arguments, prints a line on stdout and one on stderr,
// and exits with the status chosen for each step.
class FakeArduinoCli {
public:
    FakeArduinoCli(int compileExit, int uploadExit) : path_(bin_.path()) {
        WriteScript(bin_ / "arduino-cli",
                    "printf '%s\\n' \"$*\" >> '" + log() + "'\n"
                    "echo \"$1 out\"\n"
                    "echo \"$1 err\" >&2\n"
                    "case \"$1\" in\n"
                    "  compile) exit " + std::to_string(compileExit) + " ;;\n"
                    "  upload) exit " + std::to_string(uploadExit) + " ;;\n"
                    "esac\n"
                    "exit 99\n");
    }
    std::string log() const { return bin_ / "calls.log"; }

private:
    test::ScratchDir bin_;
    PathPrefix path_;
};

TEST(ArduinoCliRun, CompilesThenUploadsOnlyAfterASuccessfulCompile) {
    struct Case {
        int compileExit, uploadExit;
        bool ok;
        bool uploadRuns;
    };
    const std::vector<Case> cases = {
        {0, 0, true, true},
        {0, 2, false, true},
        {1, 0, false, false},
    };
    const std::string compileCall = "compile --fqbn arduino:avr:uno /w/arduinosdwrite\n";
    const std::string uploadCall = "upload -p /dev/ttyACM0 --fqbn arduino:avr:uno /w/arduinosdwrite\n";
    for (const Case& c : cases) {
        FakeArduinoCli cli(c.compileExit, c.uploadExit);
        std::vector<std::string> lines;
        ArduinoStep step =
            CompileAndUpload("arduino-cli", "arduino:avr:uno", "/dev/ttyACM0", "/w/arduinosdwrite",
                             [&](std::string_view line) { lines.emplace_back(line); });
        EXPECT_EQ(step.ok, c.ok) << c.compileExit << "/" << c.uploadExit;
        EXPECT_EQ(test::ReadAll(cli.log()), compileCall + (c.uploadRuns ? uploadCall : ""));
        std::vector<std::string> expectedLines = {"compile out", "compile err"};
        if (c.uploadRuns) expectedLines.insert(expectedLines.end(), {"upload out", "upload err"});
        EXPECT_EQ(lines, expectedLines);
        std::string expectedOutput;
        for (const std::string& line : expectedLines) expectedOutput += line + "\n";
        EXPECT_EQ(step.output, expectedOutput);
    }
}

TEST(ArduinoCliRun, FailsWhenTheToolIsMissing) {
    test::ScratchDir empty;
    test::ScopedEnvironment path("PATH", empty.path());
    std::vector<std::string> lines;
    ArduinoStep step = CompileAndUpload("arduino-cli", "arduino:avr:uno", "/dev/ttyACM0", "/w/s",
                                        [&](std::string_view line) { lines.emplace_back(line); });
    EXPECT_FALSE(step.ok);
    EXPECT_NE(step.output.find("arduino-cli"), std::string::npos) << step.output;
    EXPECT_EQ(lines.size(), 1u);
}

}  // namespace
}  // namespace tsr
