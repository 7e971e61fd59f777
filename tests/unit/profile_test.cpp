#include "platform/profile.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <vector>

#include "test_support.h"

namespace tsr {
namespace {


const char kSample[] =
    "; settings written by hand\n"
    "[Designer]\n"
    "Browser=firefox --new-window\n"
    "  Width = 800\n"
    "Title= spaced  value \n"
    "# Browser=commented out\n"
    "Browser=second copy\n"
    "\n"
    "[ Arduino ]\n"
    "Port=/dev/ttyACM0\n"
    "empty=\n";

TEST(ProfilePath, FollowsXdgConfigHomeThenHome) {
    struct Case {
        std::optional<std::string> xdg;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"/xdg/config", "/xdg/config/tessora/profile.ini"},
        {"", "/home/someone/.config/tessora/profile.ini"},
        {std::nullopt, "/home/someone/.config/tessora/profile.ini"},
    };
    test::ScopedEnvironment home("HOME", "/home/someone");
    for (const Case& c : cases) {
        test::ScopedEnvironment xdg("XDG_CONFIG_HOME", c.xdg);
        EXPECT_EQ(ProfilePath(), c.expected) << c.xdg.value_or("(unset)");
    }
    test::ScopedEnvironment xdg("XDG_CONFIG_HOME", "/xdg/config");
    EXPECT_EQ(Profile().path(), "/xdg/config/tessora/profile.ini");
}

TEST(Profile, MissingOrUnreadableFileGivesFallbacks) {
    test::ScratchDir dir;
    ASSERT_EQ(mkdir((dir / "adir").c_str(), 0700), 0);
    for (const std::string& path : {dir / "none.ini", dir / "no/such/dir/p.ini", dir / "adir"}) {
        Profile profile(path);
        EXPECT_EQ(profile.GetString("Designer", "Browser", "xdg-open"), "xdg-open") << path;
        EXPECT_EQ(profile.GetInt("Designer", "Width", -12), -12) << path;
    }
}

TEST(Profile, LooksUpSectionsAndKeysWithoutRegardToCase) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "p.ini", kSample));
    Profile profile(dir / "p.ini");
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"Designer", "Browser", "firefox --new-window"},  // the first of two copies wins
        {"DESIGNER", "browser", "firefox --new-window"},
        {"designer", "WIDTH", " 800"},                     // blanks around the name are ignored
        {"Designer", "Title", " spaced  value "},          // the value is kept as stored
        {"arduino", "PORT", "/dev/ttyACM0"},               // "[ Arduino ]"
        {"Arduino", "empty", ""},                          // present and empty
        {"Arduino", "Browser", "fallback"},                // key of another section
        {"Designer", "Port", "fallback"},
        {"Designer", "# Browser", "fallback"},             // comments hold no keys
        {"Missing", "Browser", "fallback"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(profile.GetString(c.section, c.key, "fallback"), c.expected)
            << c.section << "/" << c.key;
}

TEST(Profile, StripsTheCarriageReturnOfCrlfFiles) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "p.ini", "[Designer]\r\nBrowser=chromium \r\nWidth=640\r\n"));
    Profile profile(dir / "p.ini");
    EXPECT_EQ(profile.GetString("designer", "browser", ""), "chromium ");
    EXPECT_EQ(profile.GetInt("designer", "width", 0), 640);
}

TEST(Profile, GetIntReadsSignAndLeadingDigits) {
    struct Case {
        const char* stored;
        int expected;
    };
    const std::vector<Case> cases = {
        {"42", 42},   {"-7", -7},       {"+5", 5},   {"  19", 19},
        {"12abc", 12}, {"abc", 0},      {"", 0},     {"-", 0},
        {"0x1F", 0},  {"99999999999", INT_MAX},
    };
    test::ScratchDir dir;
    Profile profile(dir / "p.ini");
    for (const Case& c : cases) {
        ASSERT_TRUE(profile.SetString("Numbers", "value", c.stored));
        EXPECT_EQ(profile.GetInt("Numbers", "value", 1234), c.expected) << '"' << c.stored << '"';
    }
    EXPECT_EQ(profile.GetInt("Numbers", "absent", 1234), 1234);
}

TEST(Profile, SetReplacesTheKeyAndKeepsEveryOtherLine) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "p.ini", kSample));
    Profile profile(dir / "p.ini");
    ASSERT_TRUE(profile.SetString("designer", "WIDTH", "1024"));
    ASSERT_TRUE(profile.SetString("Arduino", "port", "/dev/ttyUSB1"));
    std::string expected = kSample;
    expected.replace(expected.find("  Width = 800"), 13, "  Width =1024");
    expected.replace(expected.find("Port=/dev/ttyACM0"), 17, "Port=/dev/ttyUSB1");
    EXPECT_EQ(test::ReadAll(dir / "p.ini"), expected);
    EXPECT_EQ(profile.GetInt("Designer", "Width", 0), 1024);
    EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"p.ini"});
}

TEST(Profile, SetAddsKeysToTheirSectionAndNewSectionsAtTheEnd) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "p.ini",
                          "[Designer]\nBrowser=firefox\n\n; arduino\n[Arduino]\nPort=/dev/x"));
    Profile profile(dir / "p.ini");
    ASSERT_TRUE(profile.SetString("Designer", "Editor", "gedit"));
    ASSERT_TRUE(profile.SetString("Arduino", "Fqbn", "arduino:avr:uno"));
    ASSERT_TRUE(profile.SetString("Recent", "File1", "/home/u/panel.tsr"));
    EXPECT_EQ(test::ReadAll(dir / "p.ini"),
              "[Designer]\nBrowser=firefox\nEditor=gedit\n\n; arduino\n[Arduino]\nPort=/dev/x\n"
              "Fqbn=arduino:avr:uno\n\n[Recent]\nFile1=/home/u/panel.tsr\n");
    EXPECT_EQ(profile.GetString("recent", "file1", ""), "/home/u/panel.tsr");
}

TEST(Profile, SetKeepsCrlfLineEndings) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "p.ini", "[Designer]\r\nBrowser=firefox\r\n"));
    Profile profile(dir / "p.ini");
    ASSERT_TRUE(profile.SetString("Designer", "Browser", "chromium"));
    ASSERT_TRUE(profile.SetString("Designer", "Editor", "gedit"));
    ASSERT_TRUE(profile.SetString("Arduino", "Port", "/dev/x"));
    EXPECT_EQ(test::ReadAll(dir / "p.ini"),
              "[Designer]\r\nBrowser=chromium\r\nEditor=gedit\r\n\r\n[Arduino]\r\nPort=/dev/x\r\n");
}

TEST(Profile, SetCreatesMissingDirectoriesPrivately) {
    test::ScratchDir dir;
    const std::string path = dir / "config/tessora/profile.ini";
    Profile profile(path);
    ASSERT_TRUE(profile.SetString("Designer", "Browser", "firefox"));
    EXPECT_EQ(test::ReadAll(path), "[Designer]\nBrowser=firefox\n");
    for (const std::string& created : {dir / "config", dir / "config/tessora"}) {
        struct stat st;
        ASSERT_EQ(stat(created.c_str(), &st), 0) << created;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << created;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << created;
    }
}

TEST(Profile, SetRefusesEntriesThatWouldBreakTheFile) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "p.ini", kSample));
    Profile profile(dir / "p.ini");
    struct Case {
        std::string section, key, value;
    };
    const std::vector<Case> cases = {
        {"Designer", "Browser", "firefox\n[Evil]"},
        {"Designer", "Browser", "firefox\r"},
        {"Designer", "Browser", "\n"},
        {"Designer", "a=b", "x"},
        {"Designer", "", "x"},
        {"Design]er", "Browser", "x"},
        {"", "Browser", "x"},
        {"Designer", "Bro\nwser", "x"},
    };
    for (const Case& c : cases) {
        Status status = profile.SetString(c.section, c.key, c.value);
        EXPECT_FALSE(status.ok()) << c.section << "/" << c.key;
        EXPECT_EQ(status.code, kProfileBadEntry);
        EXPECT_FALSE(status.message.empty());
    }
    EXPECT_EQ(test::ReadAll(dir / "p.ini"), kSample);
}

TEST(Profile, SetReportsADirectoryThatCannotBeCreated) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "config", "a regular file"));
    Profile profile(dir / "config/tessora/profile.ini");
    Status status = profile.SetString("Designer", "Browser", "firefox");
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(status.code, kProfileWriteFailed);
    EXPECT_NE(status.message.find(dir / "config"), std::string::npos) << status.message;
    EXPECT_EQ(test::ReadAll(dir / "config"), "a regular file");
}

// A write that fails half-way (here: the file size limit, which holds for root too) leaves the
// previous file whole and no temporary file behind. Run in a child so the limit stays there.
TEST(Profile, FailedWriteKeepsTheOldFile) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "p.ini", kSample));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
        Status status = Profile(dir / "p.ini").SetString("Designer", "Browser",
                                                         std::string(10000, 'x'));
        _exit(!status.ok() && status.code == kProfileWriteFailed && !status.message.empty() ? 0
                                                                                          : 1);
    }
    int wstatus = 0;
    ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0);
    EXPECT_EQ(test::ReadAll(dir / "p.ini"), kSample);
    EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"p.ini"});
}

TEST(Profile, SetKeepsTheFilePermissions) {
    test::ScratchDir dir;
    ASSERT_TRUE(WriteFile(dir / "p.ini", kSample));
    ASSERT_EQ(chmod((dir / "p.ini").c_str(), 0640), 0);
    ASSERT_TRUE(Profile(dir / "p.ini").SetString("Designer", "Browser", "x"));
    struct stat st;
    ASSERT_EQ(stat((dir / "p.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace tsr
