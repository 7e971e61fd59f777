#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "designer/file_commands.h"
#include "model/catalogue.h"
#include "platform/fs.h"
#include "test_support.h"

namespace tsr::designer {
namespace {

bool FileExists(const std::string& path) {
    return std::filesystem::exists(path);
}
bool RemoveFile(const std::string& path) {
    return std::filesystem::remove(path);
}

// Answers the prompts from scripted queues and records what was asked.
class ScriptedHost : public FileCommandHost {
public:
    std::deque<SaveAnswer> answers;
    std::deque<std::optional<std::string>> paths;  // nullopt: the dialog is cancelled
    int prompts = 0;
    std::vector<FileDialogMode> dialogs;
    std::vector<std::string> errors;
    int stops = 0;

    SaveAnswer AskSaveChanges() override {
        ++prompts;
        if (answers.empty()) return SaveAnswer::Cancel;
        SaveAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> AskProjectPath(const FileDialogOptions& dialog) override {
        dialogs.push_back(dialog.mode);
        if (paths.empty()) return std::nullopt;
        std::optional<std::string> p = paths.front();
        paths.pop_front();
        return p;
    }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void StopServing() override { ++stops; }
    std::deque<bool> trustAnswers;  // empty: No
    std::vector<std::string> trustQuestions;
    std::vector<bool> trustStates;
    bool AskTrust(const std::string& question) override {
        trustQuestions.push_back(question);
        if (trustAnswers.empty()) return false;
        bool a = trustAnswers.front();
        trustAnswers.pop_front();
        return a;
    }
    void SetProjectTrusted(bool trusted) override { trustStates.push_back(trusted); }
};

class DesignerFileCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(project.Start(tmp.path()), 0);
        // A knob marks the project being edited.
        AddKnob();
    }
    void AddKnob() {
        ProjectDocument& doc = project.document();
        doc.CreateObject(kTypeKnob, doc.FindObjectBySerial(1));
    }
    unsigned Knobs() const { return project.document().CountObjects(kTypeKnob); }
    // Saves the project to `name` in the scratch directory so that it has a current path.
    void SaveAsFile(const std::string& name) {
        ASSERT_TRUE(project.Save(files / name));
        AddKnob();  // changed again after the save
    }

    test::ScratchDir tmp;
    test::ScratchDir files;
    Project project;
    ScriptedHost host;
    FileCommands commands{project, host, files / "config/profile.ini"};
};

TEST_F(DesignerFileCommands, ConfirmDiscardChanges) {
    struct Case {
        const char* name;
        bool changed;
        const char* currentPath;  // nullptr: none; saved beforehand when given
        std::vector<SaveAnswer> answers;
        std::vector<std::optional<std::string>> paths;  // relative to the scratch directory
        bool goOn;
        bool changedAfter;
        size_t dialogs;
        const char* savedAs;  // the file that must exist afterwards, or nullptr
        size_t errors;
    } cases[] = {
        {"unchanged", false, nullptr, {}, {}, true, false, 0, nullptr, 0},
        {"cancel", true, nullptr, {SaveAnswer::Cancel}, {}, false, true, 0, nullptr, 0},
        {"no discards", true, nullptr, {SaveAnswer::No}, {}, true, true, 0, nullptr, 0},
        {"yes, no path, dialog cancelled",
         true,
         nullptr,
         {SaveAnswer::Yes},
         {std::nullopt},
         false,
         true,
         1,
         nullptr,
         0},
        {"yes, no path, saved",
         true,
         nullptr,
         {SaveAnswer::Yes},
         {"new.tsr"},
         true,
         false,
         1,
         "new.tsr",
         0},
        {"yes, no path, extension added",
         true,
         nullptr,
         {SaveAnswer::Yes},
         {"plain"},
         true,
         false,
         1,
         "plain.tsr",
         0},
        {"yes, current path, no dialog",
         true,
         "open.tsr",
         {SaveAnswer::Yes},
         {},
         true,
         false,
         0,
         "open.tsr",
         0},
        {"yes, save fails",
         true,
         nullptr,
         {SaveAnswer::Yes},
         {"missing/dir/x.tsr"},
         false,
         true,
         1,
         nullptr,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScratchDir dir;
        Project p;
        ASSERT_EQ(p.Start(tmp.path()), 0);
        if (c.currentPath) {
            ASSERT_TRUE(p.Save(dir / c.currentPath));
            // Gone again, so that only the save under test can bring it back.
            ASSERT_TRUE(RemoveFile(dir / c.currentPath));
        }
        p.document().SetProjectChanged(c.changed);
        ScriptedHost h;
        h.answers.assign(c.answers.begin(), c.answers.end());
        for (const auto& path : c.paths)
            h.paths.push_back(path ? std::optional(dir / *path) : path);
        FileCommands fc(p, h);

        EXPECT_EQ(fc.ConfirmDiscardChanges(), c.goOn);
        EXPECT_EQ(p.document().ProjectChanged(), c.changedAfter);
        EXPECT_EQ(h.prompts, c.changed ? 1 : 0);
        EXPECT_EQ(h.dialogs.size(), c.dialogs);
        EXPECT_EQ(h.errors.size(), c.errors);
        if (c.savedAs) {
            EXPECT_TRUE(FileExists(dir / c.savedAs));
            EXPECT_EQ(p.currentPath(), dir / c.savedAs);
        }
        EXPECT_EQ(h.stops, 0);
    }
}

TEST_F(DesignerFileCommands, NewWithChangesAndAnswerNoDiscardsThem) {
    SaveAsFile("before.tsr");
    host.answers = {SaveAnswer::No};
    EXPECT_EQ(commands.New(), CommandResult::Rebuild);
    EXPECT_EQ(Knobs(), 0u);
    EXPECT_EQ(project.currentPath(), "");
    EXPECT_TRUE(project.document().ProjectChanged());
    EXPECT_EQ(host.stops, 1);
    EXPECT_TRUE(host.dialogs.empty());
}

TEST_F(DesignerFileCommands, NewWithYesAndCancelledSaveAsChangesNothing) {
    host.answers = {SaveAnswer::Yes};
    host.paths = {std::nullopt};
    EXPECT_EQ(commands.New(), CommandResult::Nothing);
    EXPECT_EQ(Knobs(), 1u);
    EXPECT_TRUE(project.document().ProjectChanged());
    EXPECT_EQ(host.stops, 0);
    EXPECT_EQ(host.dialogs, std::vector<FileDialogMode>{FileDialogMode::Save});
}

TEST_F(DesignerFileCommands, OpenLoadsTheChosenFile) {
    SaveAsFile("two.tsr");  // holds one knob; the project now has two
    ASSERT_EQ(Knobs(), 2u);
    host.answers = {SaveAnswer::No};
    host.paths = {files / "two.tsr"};
    EXPECT_EQ(commands.Open(), CommandResult::Rebuild);
    EXPECT_EQ(Knobs(), 1u);
    EXPECT_FALSE(project.document().ProjectChanged());
    EXPECT_EQ(project.currentPath(), files / "two.tsr");
    EXPECT_EQ(host.dialogs, std::vector<FileDialogMode>{FileDialogMode::Open});
    EXPECT_EQ(host.stops, 1);
}

TEST_F(DesignerFileCommands, OpenCancelledOrFailedKeepsTheProject) {
    struct Case {
        const char* name;
        std::optional<std::string> path;
        CommandResult result;
        int stops;
        size_t errors;
    } cases[] = {
        {"cancelled dialog", std::nullopt, CommandResult::Nothing, 0, 0},
        {"missing file", files / "missing.tsr", CommandResult::Rebuild, 1, 1},
    };
    for (const Case& c : cases) {
        ScriptedHost h;
        h.answers = {SaveAnswer::No};
        h.paths = {c.path};
        FileCommands fc(project, h);
        EXPECT_EQ(fc.Open(), c.result) << c.name;
        EXPECT_EQ(Knobs(), 1u) << c.name;
        EXPECT_EQ(project.currentPath(), "") << c.name;
        EXPECT_EQ(h.stops, c.stops) << c.name;
        EXPECT_EQ(h.errors.size(), c.errors) << c.name;
    }
}

TEST_F(DesignerFileCommands, SaveWritesToTheCurrentPathWithoutAsking) {
    SaveAsFile("current.tsr");
    ASSERT_TRUE(RemoveFile(files / "current.tsr"));
    EXPECT_EQ(commands.Save(), CommandResult::Rebuild);
    EXPECT_TRUE(host.dialogs.empty());
    EXPECT_TRUE(FileExists(files / "current.tsr"));
    EXPECT_FALSE(project.document().ProjectChanged());
}

TEST_F(DesignerFileCommands, SaveAndSaveAsAskForAPath) {
    struct Case {
        const char* name;
        bool saveAs;
        std::optional<std::string> path;
        CommandResult result;
        const char* expectedPath;  // the current path afterwards, relative; "" for none
    } cases[] = {
        {"save without a path", false, "a.tsr", CommandResult::Rebuild, "a.tsr"},
        {"save as, no extension typed", true, "b", CommandResult::Rebuild, "b.tsr"},
        {"save as, cancelled", true, std::nullopt, CommandResult::Nothing, ""},
        {"save, failed", false, "no/such/dir/c.tsr", CommandResult::Nothing, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        project.ClearCurrentPath();
        project.document().SetProjectChanged(true);
        ScriptedHost h;
        h.paths = {c.path ? std::optional(files / *c.path) : c.path};
        FileCommands fc(project, h);
        EXPECT_EQ(c.saveAs ? fc.SaveAs() : fc.Save(), c.result);
        EXPECT_EQ(h.dialogs, std::vector<FileDialogMode>{FileDialogMode::Save});
        const std::string expected = *c.expectedPath ? files / c.expectedPath : "";
        EXPECT_EQ(project.currentPath(), expected);
        EXPECT_EQ(project.document().ProjectChanged(), !*c.expectedPath);
        EXPECT_EQ(h.prompts, 0);
    }
}

TEST(DesignerFileDialog, TitlesFiltersAndExtension) {
    struct Case {
        const char* name;
        FileDialogMode mode;
        Language language;
        const char* title;
        const char* allFiles;
        bool mustExist;
    } cases[] = {
        {"open", FileDialogMode::Open, Language::English, "Load", "All files (*.*)", true},
        {"save", FileDialogMode::Save, Language::English, "Save", "All files (*.*)", false},
        {"open, French", FileDialogMode::Open, Language::French, "Charger",
         "Tous les fichiers (*.*)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileDialogOptions options = ProjectFileDialog(c.mode, c.language);
        EXPECT_EQ(options.mode, c.mode);
        EXPECT_EQ(options.title, c.title);
        ASSERT_EQ(options.filters.size(), 2u);
        EXPECT_EQ(options.filters[0].label,
                  c.language == Language::English ? "Tessora files" : "Fichiers Tessora");
        EXPECT_EQ(options.filters[0].pattern, "*.tsr");
        EXPECT_EQ(options.filters[1].label, c.allFiles);
        EXPECT_EQ(options.filters[1].pattern, "*.*");
        EXPECT_EQ(options.defaultExtension, "tsr");
        EXPECT_EQ(options.fileMustExist, c.mustExist);
        EXPECT_TRUE(options.overwritePrompt);
    }
}

TEST(DesignerFileDialog, DefaultExtension) {
    struct Case {
        const char* path;
        const char* expected;
    } cases[] = {
        {"/home/u/panel", "/home/u/panel.tsr"},
        {"/home/u/panel.tsr", "/home/u/panel.tsr"},
        {"/home/u/panel.zip", "/home/u/panel.zip"},
        {"/home/u.d/panel", "/home/u.d/panel.tsr"},
        {"/home/u/.hidden", "/home/u/.hidden.tsr"},
        {"/home/u/panel.", "/home/u/panel.tsr"},
        {"panel", "panel.tsr"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(WithDefaultExtension(c.path), c.expected) << c.path;
}

// Opening a project that loads a library asks once per file and content; the answer decides
// whether its outside gateways start, Yes is remembered, a changed library asks again, and a new
// project is trusted.
TEST_F(DesignerFileCommands, OpeningAProjectThatReachesOutsideAsksAndRemembers) {
    ProjectDocument& doc = project.document();
    pugi::xml_node dll;
    doc.CreateObject(FindTypeByKey("dllgateway"), doc.ProjectElement(), &dll);
    doc.SetProperty(dll, "dllfilename", "carried.so");
    const std::string library = project.workingDirectory().path() + "/carried.so";
    ASSERT_TRUE(WriteFile(library, "build 1"));
    const std::string path = files / "sent.tsr";
    ASSERT_TRUE(project.Save(path));

    auto open = [&](std::optional<bool> answer) {
        host.trustQuestions.clear();
        host.trustStates.clear();
        if (answer) host.trustAnswers.push_back(*answer);
        host.paths.push_back(path);
        EXPECT_EQ(commands.Open(), CommandResult::Rebuild);
    };
    open(false);
    ASSERT_EQ(host.trustQuestions.size(), 1u);
    EXPECT_NE(host.trustQuestions[0].find("load the shared library " + library), std::string::npos)
        << host.trustQuestions[0];
    EXPECT_EQ(host.trustStates, std::vector<bool>{false});
    EXPECT_FALSE(commands.trusted());

    open(true);  // not remembered after No: asked again
    EXPECT_EQ(host.trustQuestions.size(), 1u);
    EXPECT_EQ(host.trustStates, std::vector<bool>{true});
    open(std::nullopt);  // remembered
    EXPECT_TRUE(host.trustQuestions.empty());
    EXPECT_EQ(host.trustStates, std::vector<bool>{true});

    // The same file with another library inside: asked again.
    ASSERT_TRUE(WriteFile(library, "build 2"));
    ASSERT_TRUE(project.Save(path));
    open(false);
    EXPECT_EQ(host.trustQuestions.size(), 1u);
    EXPECT_FALSE(commands.trusted());

    project.document().SetProjectChanged(false);
    host.trustStates.clear();
    EXPECT_EQ(commands.New(), CommandResult::Rebuild);
    EXPECT_EQ(host.trustStates, std::vector<bool>{true});
}

}  // namespace
}  // namespace tsr::designer
