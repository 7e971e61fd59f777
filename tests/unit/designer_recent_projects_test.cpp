#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "designer/file_commands.h"
#include "designer/recent_projects.h"
#include "platform/profile.h"
#include "test_support.h"

namespace tsr::designer {
namespace {

using List = std::vector<std::string>;

TEST(DesignerRecentProjects, TheListKeepsFiveMostRecentFirst) {
    struct Case {
        const char* name;
        List before;
        std::string added;
        List after;
    } cases[] = {
        {"into an empty list", {}, "/p/a.tsr", {"/p/a.tsr"}},
        {"goes first", {"/p/a.tsr"}, "/p/b.tsr", {"/p/b.tsr", "/p/a.tsr"}},
        {"an entry moves up instead of repeating",
         {"/p/a.tsr", "/p/b.tsr", "/p/c.tsr"},
         "/p/c.tsr",
         {"/p/c.tsr", "/p/a.tsr", "/p/b.tsr"}},
        {"the sixth falls off",
         {"/1", "/2", "/3", "/4", "/5"},
         "/6",
         {"/6", "/1", "/2", "/3", "/4"}},
        {"a known one among five keeps all others",
         {"/1", "/2", "/3", "/4", "/5"},
         "/4",
         {"/4", "/1", "/2", "/3", "/5"}},
        {"empty entries are dropped", {"", "/p/a.tsr", ""}, "/p/b.tsr", {"/p/b.tsr", "/p/a.tsr"}},
        {"an empty path adds nothing", {"/p/a.tsr"}, "", {"/p/a.tsr"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WithRecentProject(c.before, c.added), c.after);
    }
    EXPECT_EQ(WithoutRecentProject({"/1", "/2", "/3"}, "/2"), (List{"/1", "/3"}));
    EXPECT_EQ(WithoutRecentProject({"/1"}, "/9"), (List{"/1"}));
}

TEST(DesignerRecentProjects, KeptInTheProfileAcrossRuns) {
    test::ScratchDir dir;
    {
        Profile profile(dir / "profile.ini");
        EXPECT_TRUE(RecentProjects(profile).empty());
        for (const char* name : {"a", "b", "c", "d", "e", "f", "c"})
            AddRecentProject(profile, dir / (std::string(name) + ".tsr"));
    }
    // Another profile object, as in a later run.
    Profile later(dir / "profile.ini");
    EXPECT_EQ(RecentProjects(later), (List{dir / "c.tsr", dir / "f.tsr", dir / "e.tsr",
                                           dir / "d.tsr", dir / "b.tsr"}));
    EXPECT_EQ(later.GetString("Tessora", "recentproject1", ""), dir / "c.tsr");
    RemoveRecentProject(later, dir / "e.tsr");
    EXPECT_EQ(RecentProjects(later),
              (List{dir / "c.tsr", dir / "f.tsr", dir / "d.tsr", dir / "b.tsr"}));
    EXPECT_EQ(later.GetString("Tessora", "recentproject5", "unset"), "");
}

TEST(DesignerRecentProjects, ARelativePathIsKeptAbsolute) {
    test::ScratchDir dir;
    Profile profile(dir / "profile.ini");
    AddRecentProject(profile, "some/../project.tsr");
    const List list = RecentProjects(profile);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].front(), '/');
    EXPECT_EQ(list[0].find(".."), std::string::npos) << list[0];
    EXPECT_TRUE(list[0].ends_with("/project.tsr"));
}

// The file commands with every question answered; counts the notifications of the host.
class QuietHost : public FileCommandHost {
public:
    std::optional<std::string> path;  // what the file dialog answers
    std::vector<std::string> errors;
    int replaced = 0;
    int saved = 0;
    SaveAnswer AskSaveChanges() override { return SaveAnswer::No; }
    std::optional<std::string> AskProjectPath(const FileDialogOptions&) override { return path; }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void StopServing() override {}
    bool AskTrust(const std::string&) override { return false; }
    void SetProjectTrusted(bool) override {}
    void ProjectReplaced() override { ++replaced; }
    void ProjectSaved() override { ++saved; }
};

class DesignerRecentFileCommands : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(project.Start(tmp.path()), 0); }
    test::ScratchDir tmp;
    test::ScratchDir files;
    Project project;
    QuietHost host;
    FileCommands commands{project, host, files / "profile.ini"};
};

TEST_F(DesignerRecentFileCommands, SavingAndOpeningPutTheFileFirst) {
    host.path = files / "one.tsr";
    EXPECT_EQ(commands.SaveAs(), CommandResult::Rebuild);
    EXPECT_EQ(host.saved, 1);
    host.path = files / "two.tsr";
    EXPECT_EQ(commands.SaveAs(), CommandResult::Rebuild);
    EXPECT_EQ(commands.RecentProjects(), (List{files / "two.tsr", files / "one.tsr"}));

    host.path = files / "one.tsr";
    EXPECT_EQ(commands.Open(), CommandResult::Rebuild);
    EXPECT_EQ(host.replaced, 1);
    EXPECT_EQ(commands.RecentProjects(), (List{files / "one.tsr", files / "two.tsr"}));

    EXPECT_EQ(commands.OpenRecent(files / "two.tsr"), CommandResult::Rebuild);
    EXPECT_EQ(host.replaced, 2);
    EXPECT_EQ(project.currentPath(), files / "two.tsr");
    EXPECT_EQ(commands.RecentProjects(), (List{files / "two.tsr", files / "one.tsr"}));

    // New replaces the project too, without touching the list.
    EXPECT_EQ(commands.New(), CommandResult::Rebuild);
    EXPECT_EQ(host.replaced, 3);
    EXPECT_EQ(commands.RecentProjects().size(), 2u);
    EXPECT_TRUE(host.errors.empty());
}

TEST_F(DesignerRecentFileCommands, ARecentFileThatIsGoneIsReportedAndForgotten) {
    host.path = files / "gone.tsr";
    ASSERT_EQ(commands.SaveAs(), CommandResult::Rebuild);
    ASSERT_TRUE(RemoveTree(files / "gone.tsr"));
    const int replaced = host.replaced;
    EXPECT_EQ(commands.OpenRecent(files / "gone.tsr"), CommandResult::Rebuild);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_NE(host.errors[0].find(files / "gone.tsr"), std::string::npos) << host.errors[0];
    // The open project was not replaced: what could be undone stays.
    EXPECT_EQ(host.replaced, replaced);
    EXPECT_TRUE(commands.RecentProjects().empty());
}

}  // namespace
}  // namespace tsr::designer
