// The designer's main window and its dialogs on a real (virtual) display: grid edits, the
// script editor, the web preview, saving and reopening, and the build dialog. Modal dialogs run
// their own event loop; the tests answer them from inside it, through a modal-dialog hook.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dirdlg.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/propgrid/advprops.h>
#include <wx/propgrid/manager.h>
#include <wx/stc/stc.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/textdlg.h>
#include <wx/uiaction.h>
#include <wx/webview.h>

#include <algorithm>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "model/catalogue.h"
#include "platform/fs.h"
#include "platform/profile.h"
#include "shell/build_dialog.h"
#include "shell/log_pane.h"
#include "shell/main_window.h"
#include "shell/script_editor.h"
#include "unity_sim.h"

namespace fs = std::filesystem;

namespace tsr::shell {

// Reaches into the window the way a user's clicks would, through its controls.
class MainWindowTestAccess {
  public:
    explicit MainWindowTestAccess(MainWindow& w) : w_(w) {}
    wxTreeCtrl* projectTree() { return w_.projectTree_; }
    wxTreeCtrl* libraryTree() { return w_.libraryTree_; }
    wxPropertyGrid* grid() { return w_.grid_->GetGrid(); }
    LogPane* log() { return w_.logPane_; }
    Project& project() { return w_.project_; }
    PreviewHost& preview() { return w_.previewHost_; }
    wxWindow* previewFrame() { return w_.preview_; }
    designer::FileCommands& files() { return w_.files_; }
    void rebuild(pugi::xml_node select) { w_.RunRebuildCycle(select); }
    int serialOf(const wxTreeItemId& item) { return w_.SerialOfItem(item); }
    std::unique_ptr<wxMenu> contextMenu(int serial) { return w_.BuildContextMenu(serial); }
    const designer::UndoHistory& history() { return w_.history_; }

  private:
    MainWindow& w_;
};

}  // namespace tsr::shell

namespace {

// A TCP port no program listens on now: the kernel's choice for a socket bound to port 0. The
// designer's server binds it moments later; nothing else on this machine is told about it.
unsigned FreeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    unsigned port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) ::close(fd);
    return port;
}

using tsr::shell::MainWindow;
using tsr::shell::MainWindowTestAccess;

std::string ArtifactDirectory() {
    const char* dir = std::getenv("TESSORA_ARTIFACTS");
    return dir && *dir ? dir : "/tmp";
}

// Runs the event loop until `done` holds or `seconds` passed; returns `done()`.
bool WaitFor(const std::function<bool()>& done, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void Pump(int milliseconds) {
    WaitFor([] { return false; }, milliseconds / 1000.0);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Answers every modal dialog with `answer`, called from inside the dialog's own event loop once
// it is shown. Dialogs opened while the answer runs (a message box over the dialog) are handed
// to `nested`, when set, else answered with OK.
class DialogAnswers : public wxModalDialogHook {
  public:
    using Answer = std::function<void(wxDialog*)>;
    explicit DialogAnswers(Answer answer, std::function<int(wxDialog*)> nested = {})
        : answer_(std::move(answer)), nested_(std::move(nested)) {
        Register();
    }
    ~DialogAnswers() override { Unregister(); }
    int opened = 0;
    std::vector<wxString> nestedMessages;

  protected:
    int Enter(wxDialog* dialog) override {
        ++opened;
        if (depth_ > 0) {
            if (auto* box = dynamic_cast<wxMessageDialog*>(dialog))
                nestedMessages.push_back(box->GetMessage());
            return nested_ ? nested_(dialog) : wxID_OK;
        }
        ++depth_;
        dialog->CallAfter([this, dialog] { answer_(dialog); });
        return wxID_NONE;
    }
    void Exit(wxDialog*) override {
        if (depth_ > 0) --depth_;
    }

  private:
    Answer answer_;
    std::function<int(wxDialog*)> nested_;
    int depth_ = 0;
};

// Answers message boxes in turn with the given ids, without showing them, and keeps their texts.
class MessageAnswers : public wxModalDialogHook {
  public:
    explicit MessageAnswers(std::vector<int> answers) : answers_(std::move(answers)) { Register(); }
    ~MessageAnswers() override { Unregister(); }
    std::vector<std::string> messages;

  protected:
    int Enter(wxDialog* dialog) override {
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog))
            messages.push_back(box->GetMessage().utf8_string());
        else if (auto* entry = dynamic_cast<wxTextEntryDialog*>(dialog))
            messages.push_back("entry: " + entry->GetValue().utf8_string());
        else
            messages.push_back("(another dialog)");
        if (answers_.empty()) return wxID_CANCEL;
        const int answer = answers_.front();
        answers_.erase(answers_.begin());
        return answer;
    }
    void Exit(wxDialog*) override {}

  private:
    std::vector<int> answers_;
};

void Click(wxWindow* button) {
    wxCommandEvent event(wxEVT_BUTTON, button->GetId());
    event.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(event);
}

class DesignerWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The base is taken once: each test points TMPDIR into its own directory.
        static const fs::path base = fs::temp_directory_path();
        root_ = base /
                ("tessora-window-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "tmp");
        fs::create_directories(root_ / "config");
        setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    }
    void TearDown() override {
        CloseWindow();
        fs::remove_all(root_);
    }

    MainWindow& OpenWindow(const std::string& project = {}) {
        tsr::shell::StartOptions options;
        options.projectPath = project;
        window_ = new MainWindow(options);
        window_->Show();
        access_ = std::make_unique<MainWindowTestAccess>(*window_);
        if (!project.empty()) {
            // The project named at start is loaded at the first tick of the command-line timer.
            EXPECT_TRUE(WaitFor([&] {
                // followed by the server's address when the project serves
                return window_->GetTitle().utf8_string().starts_with("Tessora V1.08 (" + project + ")");
            })) << window_->GetTitle();
        }
        WaitFor([&] { return window_->IsShownOnScreen(); });
        return *window_;
    }

    // Closes as the window manager would; an unchanged project closes without a question.
    void CloseWindow() {
        if (!window_) return;
        access_.reset();
        window_->Close(true);
        window_ = nullptr;
        Pump(100);
    }

    MainWindowTestAccess& w() { return *access_; }

    std::string Title() const { return window_->GetTitle().utf8_string(); }

    // The project-tree item of the object at `serial`.
    wxTreeItemId FindItem(int serial) {
        wxTreeCtrl* tree = w().projectTree();
        std::vector<wxTreeItemId> stack{tree->GetRootItem()};
        while (!stack.empty()) {
            const wxTreeItemId item = stack.back();
            stack.pop_back();
            if (item != tree->GetRootItem() && w().serialOf(item) == serial) return item;
            wxTreeItemIdValue cookie;
            for (wxTreeItemId c = tree->GetFirstChild(item, cookie); c.IsOk();
                 c = tree->GetNextChild(item, cookie))
                stack.push_back(c);
        }
        return {};
    }

    // The tree as indented text, one item per line.
    std::string TreeText() {
        wxTreeCtrl* tree = w().projectTree();
        std::string text;
        std::function<void(wxTreeItemId, int)> walk = [&](wxTreeItemId item, int depth) {
            wxTreeItemIdValue cookie;
            for (wxTreeItemId c = tree->GetFirstChild(item, cookie); c.IsOk();
                 c = tree->GetNextChild(item, cookie)) {
                text += std::string(depth * 2, ' ') + tree->GetItemText(c).utf8_string() + "\n";
                walk(c, depth + 1);
            }
        };
        walk(tree->GetRootItem(), 0);
        return text;
    }

    void Select(pugi::xml_node object) {
        const wxTreeItemId item = FindItem(w().project().document().SerialOf(object));
        ASSERT_TRUE(item.IsOk()) << object.name();
        w().projectTree()->SelectItem(item);
        Pump(50);
    }

    wxPGProperty* Row(const wxString& label) {
        for (wxPropertyGridIterator it = w().grid()->GetIterator(); !it.AtEnd(); ++it) {
            if ((*it)->GetLabel() == label) return *it;
        }
        return nullptr;
    }

    // Types `text` into the row's editor and commits it as Enter does.
    void TypeIntoRow(wxPGProperty* row, const wxString& text) {
        wxPropertyGrid* grid = w().grid();
        ASSERT_TRUE(grid->SelectProperty(row, true));
        auto* editor = dynamic_cast<wxTextCtrl*>(grid->GetEditorControl());
        ASSERT_NE(editor, nullptr) << "no text editor on " << row->GetLabel();
        editor->SetValue(text);
        grid->CommitChangesFromEditor();
        Pump(50);
    }

    int GenerateLines() {
        int count = 0;
        for (int i = 0; i < w().log()->LineCount(); ++i) {
            if (w().log()->GetLineText(i).Contains(": Generate: ")) ++count;
        }
        return count;
    }

    pugi::xml_node AddObject(const char* typeKey, pugi::xml_node parent) {
        pugi::xml_node created;
        EXPECT_EQ(w().project().document().CreateObject(tsr::FindTypeByKey(typeKey), parent, &created), 0);
        w().rebuild(created);
        Pump(50);
        return created;
    }

    pugi::xml_node FirstPage() {
        return w().project().document().FindObjectBySerial(1);
    }

    // The text the preview shows, once it finished loading.
    std::string PreviewText() {
        wxWebView* view = w().preview().view();
        if (!view) return {};
        WaitFor([&] { return !view->IsBusy(); });
        wxString text;
        if (!view->RunScript("document.body ? document.body.innerText : ''", &text)) return {};
        return text.utf8_string();
    }

    // The screen as the X server has it (ImageMagick's import), kept as a test artifact.
    void Screenshot(const std::string& name) {
        window_->Update();
        Pump(100);
        fs::create_directories(ArtifactDirectory());
        const std::string command =
            "import -window root '" + ArtifactDirectory() + "/" + name + ".png'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }

    fs::path root_;
    wxRect firstOk_;
    MainWindow* window_ = nullptr;
    std::unique_ptr<MainWindowTestAccess> access_;
};

// Drags with the real pointer (XTest): button down on `from`, small steps to `to`, release.
void DragPointer(const wxPoint& from, const wxPoint& to) {
    wxUIActionSimulator sim;
    sim.MouseMove(from);
    Pump(100);
    sim.MouseDown();
    Pump(100);
    for (int step = 1; step <= 12; ++step) {
        sim.MouseMove(from + (to - from) * step / 12);
        Pump(40);
    }
    Pump(200);
    sim.MouseUp();
    Pump(300);
}

TEST_F(DesignerWindowTest, DraggingKnobOntoThePageCreatesItThereAndOntoTheProjectCreatesNothing) {
    OpenWindow();
    window_->Raise();
    Pump(300);
    wxTreeCtrl* library = w().libraryTree();
    wxTreeCtrl* project = w().projectTree();
    // The library's "Knob" item and the project's page and project items, on the screen.
    wxTreeItemId knobItem;
    std::vector<wxTreeItemId> stack{library->GetRootItem()};
    while (!stack.empty() && !knobItem.IsOk()) {
        const wxTreeItemId item = stack.back();
        stack.pop_back();
        if (item != library->GetRootItem() && library->GetItemText(item) == "Knob") knobItem = item;
        wxTreeItemIdValue cookie;
        for (wxTreeItemId c = library->GetFirstChild(item, cookie); c.IsOk();
             c = library->GetNextChild(item, cookie))
            stack.push_back(c);
    }
    ASSERT_TRUE(knobItem.IsOk());
    auto centre = [](wxTreeCtrl* tree, const wxTreeItemId& item) {
        wxRect r;
        EXPECT_TRUE(tree->GetBoundingRect(item, r, true));
        return tree->ClientToScreen(wxPoint(r.x + r.width / 2, r.y + r.height / 2));
    };
    const wxPoint knob = centre(library, knobItem);
    const wxPoint page = centre(project, FindItem(1));
    const wxPoint root = centre(project, FindItem(0));
    const std::string index = w().project().workingDirectory().outputDirectory() + "/index.html";

    // Onto the project: refused, nothing created.
    DragPointer(knob, root);
    EXPECT_FALSE(FirstPage().first_child()) << "a knob was created somewhere";
    EXPECT_EQ(ReadFile(index).find("jquery.knob.js"), std::string::npos);

    DragPointer(knob, page);
    const pugi::xml_node created = FirstPage().first_child();
    ASSERT_TRUE(created) << "no knob under the page";
    EXPECT_STREQ(created.name(), "knob");
    EXPECT_STREQ(created.attribute("id").value(), "knob1");
    // Selected, with its rows in the grid, and in the generated page.
    EXPECT_EQ(w().serialOf(project->GetSelection()), 2);
    EXPECT_NE(Row("Value"), nullptr);
    EXPECT_NE(Row("Background color"), nullptr);
    EXPECT_NE(ReadFile(index).find("jquery.knob.js"), std::string::npos);
    EXPECT_EQ(Title().back(), '*');
    Screenshot("designer_window_drop");
}

TEST_F(DesignerWindowTest, TypingThePortStoresItsTextMarksTheProjectAndRegenerates) {
    OpenWindow();
    Select(w().project().document().FindObjectBySerial(0));
    wxPGProperty* port = Row("Web server port number");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->GetValueAsString(), "80");
    w().project().document().SetProjectChanged(false);
    const int before = GenerateLines();

    TypeIntoRow(port, "8080");

    const pugi::xml_node project = w().project().document().FindObjectBySerial(0);
    EXPECT_STREQ(project.attribute("webserverport").value(), "8080");
    EXPECT_EQ(Title().back(), '*') << Title();
    EXPECT_EQ(GenerateLines(), before + 1);

    // A value outside 1 to 65535 is refused with the range, and the old value is kept, in the
    // document and in the grid.
    for (const char* typed : {"70000", "-1", "0", "80x"}) {
        SCOPED_TRACE(typed);
        MessageAnswers answers({wxID_OK});
        const int generated = GenerateLines();
        TypeIntoRow(Row("Web server port number"), typed);
        Pump(100);
        EXPECT_EQ(answers.messages,
                  std::vector<std::string>{
                      "Web server port number: enter a whole number from 1 to 65535"});
        EXPECT_STREQ(project.attribute("webserverport").value(), "8080");
        EXPECT_EQ(Row("Web server port number")->GetValueAsString(), "8080");
        EXPECT_EQ(GenerateLines(), generated);
    }
}

TEST_F(DesignerWindowTest, SavingClosingAndReopeningGivesTheSameProjectAndTree) {
    const std::string path = (root_ / "reopen.tsr").string();
    OpenWindow();
    const pugi::xml_node page = FirstPage();
    AddObject("knob", page);
    const pugi::xml_node header = AddObject("header", page);
    Select(header);
    TypeIntoRow(Row("Text"), "Line 7");
    const std::string tree = TreeText();
    ASSERT_EQ(tree, "Project\n  Page \u2014 FirstPage\n    Knob \u2014 knob1\n    Header\n");

    ASSERT_TRUE(w().project().Save(path)) << "save failed";
    EXPECT_FALSE(w().project().document().ProjectChanged());
    CloseWindow();
    EXPECT_TRUE(fs::is_empty(root_ / "tmp")) << "working directory left behind";

    OpenWindow(path);
    EXPECT_EQ(TreeText(), tree);
    EXPECT_STREQ(w().project().document().FindObjectBySerial(3).attribute("text").value(),
                 "Line 7");
    EXPECT_EQ(Title(), "Tessora V1.08 (" + path + ")");
}

// A project someone sent that loads a library: opening it asks, naming the library; No keeps
// that gateway stopped, Yes starts it and is remembered for this file.
TEST_F(DesignerWindowTest, OpeningAProjectThatLoadsALibraryAsksAndRemembers) {
    const std::string path = (root_ / "sent.tsr").string();
    {
        tsr::Project sent;
        fs::create_directories(root_ / "make");
        ASSERT_EQ(sent.Start((root_ / "make").string()), 0);
        tsr::ProjectDocument& doc = sent.document();
        doc.SetProperty(doc.ProjectElement(), "webserveron", "1");
        // A port of its own: a file's port is 1 to 65535.
        doc.SetProperty(doc.ProjectElement(), "webserverport",
                        std::to_string(20000 + (static_cast<unsigned>(::getpid()) + 11) % 20000));
        pugi::xml_node dll;
        doc.CreateObject(tsr::FindTypeByKey("dllgateway"), doc.ProjectElement(), &dll);
        doc.SetProperty(dll, "dllfilename", "carried.so");
        ASSERT_TRUE(tsr::WriteFile(sent.workingDirectory().path() + "/carried.so", "not a library"));
        ASSERT_TRUE(sent.Save(path));
    }
    auto logHas = [&](const char* text) {
        for (int i = 0; i < w().log()->LineCount(); ++i)
            if (w().log()->GetLineText(i).utf8_string().find(text) != std::string::npos) return true;
        return false;
    };
    {
        MessageAnswers answers({wxID_NO});
        OpenWindow(path);
        ASSERT_EQ(answers.messages.size(), 1u);
        EXPECT_NE(answers.messages[0].find("load the shared library "), std::string::npos)
            << answers.messages[0];
        EXPECT_NE(answers.messages[0].find("carried.so"), std::string::npos);
        EXPECT_TRUE(WaitFor([&] { return logHas("Not started, the project is not trusted"); }));
        EXPECT_FALSE(logHas("Cannot connect to dll"));
        Screenshot("trust-question-answered-no");
        CloseWindow();
    }
    {
        MessageAnswers answers({wxID_YES});
        OpenWindow(path);
        EXPECT_EQ(answers.messages.size(), 1u);  // a No is not remembered
        EXPECT_TRUE(WaitFor([&] { return logHas("Cannot connect to dll"); }));  // it was tried
        CloseWindow();
    }
    MessageAnswers none({});
    OpenWindow(path);
    EXPECT_TRUE(WaitFor([&] { return logHas("Cannot connect to dll"); }));
    EXPECT_TRUE(none.messages.empty());
}

TEST_F(DesignerWindowTest, TheScriptEditorShowsTheScriptAndWritesBackOnlyOnOk) {
    OpenWindow();
    const pugi::xml_node script =
        AddObject("script", w().project().document().FindObjectBySerial(0));
    Select(script);
    wxPGProperty* row = Row("Script");
    ASSERT_NE(row, nullptr);
    wxPropertyGrid* grid = w().grid();
    auto pressButton = [&] {
        EXPECT_TRUE(grid->SelectProperty(row, true));
        wxWindow* button = grid->GetEditorControlSecondary();
        ASSERT_NE(button, nullptr);
        Click(button);
        Pump(50);
    };
    w().project().document().SetProjectChanged(false);
    int generated = GenerateLines();

    // OK without a change: the default script on three lines, nothing written, no generation.
    std::vector<std::string> lines;
    {
        DialogAnswers answers([&](wxDialog* dialog) {
            auto* editor = dynamic_cast<tsr::shell::editcode*>(dialog);
            ASSERT_NE(editor, nullptr);
            ASSERT_NE(editor->codeWindow(), nullptr);
            for (int i = 0; i < editor->codeWindow()->GetLineCount(); ++i)
                lines.push_back(editor->codeWindow()->GetLine(i).utf8_string());
            Click(editor->okButton());
        });
        pressButton();
        EXPECT_EQ(answers.opened, 1);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"$(document).ready()\r\n", "{\r\n", "}\r\n", ""}));
    EXPECT_FALSE(w().project().document().ProjectChanged());
    EXPECT_EQ(GenerateLines(), generated);

    // Cancel after typing: the stored script stays.
    {
        DialogAnswers answers([&](wxDialog* dialog) {
            auto* editor = static_cast<tsr::shell::editcode*>(dialog);
            editor->codeWindow()->AppendText("lost();");
            Click(editor->cancelButton());
        });
        pressButton();
    }
    EXPECT_STREQ(script.attribute("script").value(), "$(document).ready()\r\n{\r\n}\r\n");
    EXPECT_FALSE(w().project().document().ProjectChanged());

    // OK after typing a line: a new line is a line feed alone, the loaded line ends stay, the
    // document gets the text and the application is generated with it.
    {
        DialogAnswers answers([&](wxDialog* dialog) {
            auto* editor = static_cast<tsr::shell::editcode*>(dialog);
            wxStyledTextCtrl* code = editor->codeWindow();
            code->GotoPos(code->PositionFromLine(2));
            code->AddText("alert(1);");
            code->NewLine();
            Click(editor->okButton());
        });
        pressButton();
    }
    const std::string expected = "$(document).ready()\r\n{\r\nalert(1);\n}\r\n";
    EXPECT_EQ(std::string(script.attribute("script").value()), expected);
    EXPECT_TRUE(w().project().document().ProjectChanged());
    EXPECT_EQ(GenerateLines(), generated + 1);
    const std::string page =
        ReadFile(w().project().workingDirectory().outputDirectory() + "/index.html");
    EXPECT_NE(page.find("alert(1);"), std::string::npos);
}

TEST_F(DesignerWindowTest, ThePlainTextSurfaceEditsTheSameText) {
    OpenWindow();
    const pugi::xml_node script =
        AddObject("script", w().project().document().FindObjectBySerial(0));
    std::string shown;
    DialogAnswers answers([&](wxDialog* dialog) {
        auto* editor = static_cast<tsr::shell::editcode*>(dialog);
        auto* plain = dynamic_cast<wxTextCtrl*>(editor->editingSurface());
        ASSERT_NE(plain, nullptr);
        EXPECT_TRUE(plain->IsShown());
        shown = plain->GetValue().utf8_string();
        plain->AppendText("x();");
        Click(editor->okButton());
    });
    tsr::shell::editcode editor(window_, script, "script", tsr::shell::editcode::Surface::Plain);
    EXPECT_EQ(editor.codeWindow(), nullptr);
    ASSERT_EQ(editor.ShowModal(), wxID_OK);
    // The text control shows the lines; what comes back holds the typed text at the end.
    EXPECT_NE(shown.find("$(document).ready()"), std::string::npos) << shown;
    EXPECT_EQ(editor.text().substr(editor.text().size() - 4), "x();");
}

TEST_F(DesignerWindowTest, TheScriptEditorKeepsItsButtonsAtTheCornerWhenResized) {
    OpenWindow();
    const pugi::xml_node script =
        AddObject("script", w().project().document().FindObjectBySerial(0));
    for (int round = 0; round < 4; ++round) {
        // Twice with the code editor, twice with the plain text surface.
        const auto kind = round < 2 ? tsr::shell::editcode::Surface::Code
                                    : tsr::shell::editcode::Surface::Plain;
        auto* editor = new tsr::shell::editcode(window_, script, "script", kind);
        editor->Show();
        Pump(100);
        const wxRect ok = editor->okButton()->GetRect();
        const wxRect cancel = editor->cancelButton()->GetRect();
        const wxSize surface = editor->editingSurface()->GetSize();
        const wxSize client = editor->GetClientSize();
        if (round > 0) {
            EXPECT_EQ(ok, firstOk_) << "a reopened dialog lays out differently";
        }
        firstOk_ = ok;

        editor->SetClientSize(client + wxSize(100, 50));
        ASSERT_TRUE(WaitFor([&] { return editor->GetClientSize() == client + wxSize(100, 50); }))
            << "the window did not grow";
        Pump(50);
        EXPECT_EQ(editor->okButton()->GetRect(), wxRect(ok.GetPosition() + wxPoint(100, 50),
                                                        ok.GetSize()));
        EXPECT_EQ(editor->cancelButton()->GetRect(),
                  wxRect(cancel.GetPosition() + wxPoint(100, 50), cancel.GetSize()));
        EXPECT_EQ(editor->editingSurface()->GetSize(), surface + wxSize(100, 50));
        editor->Destroy();
        Pump(50);
    }
}

TEST_F(DesignerWindowTest, ThePreviewShowsTheGeneratedPageAndFollowsEdits) {
    OpenWindow();
    ASSERT_TRUE(w().preview().running()) << "no browser engine";
    const pugi::xml_node header = AddObject("header", FirstPage());
    ASSERT_TRUE(WaitFor([&] { return PreviewText().find("My Header") != std::string::npos; }))
        << PreviewText();
    EXPECT_EQ(w().preview().shownUrl(),
              "file://" + w().project().workingDirectory().outputDirectory() + "/index.html");
    // The preview fills its frame.
    EXPECT_EQ(w().preview().view()->GetSize(), w().previewFrame()->GetClientSize());
    Pump(300);
    Screenshot("designer_preview");

    // Repaints send the page again without reloading what did not change.
    const int loads = w().preview().loads();
    window_->Refresh();
    Pump(200);
    EXPECT_EQ(w().preview().loads(), loads);

    Select(header);
    TypeIntoRow(Row("Text"), "Line 7 pressure");
    EXPECT_EQ(w().preview().loads(), loads + 1);
    EXPECT_TRUE(WaitFor([&] { return PreviewText().find("Line 7 pressure") != std::string::npos; }))
        << PreviewText();
    Pump(300);
    Screenshot("designer_preview_edited");
}

TEST_F(DesignerWindowTest, RealRowsShowTheShortFormAndWriteIt) {
    OpenWindow();
    const pugi::xml_node knob = AddObject("knob", FirstPage());
    Select(knob);
    ASSERT_NE(Row("Step"), nullptr);
    EXPECT_EQ(Row("Step")->GetValueAsString(), "1");
    EXPECT_EQ(Row("Width")->GetValueAsString(), "150");
    TypeIntoRow(Row("Step"), "0.2");
    EXPECT_STREQ(knob.attribute("step").value(), "0.2");
    EXPECT_EQ(Row("Step")->GetValueAsString(), "0.2");
    // The colour rows offer the full colour dialog as "Other".
    wxPGProperty* colour = Row("Background color");
    ASSERT_NE(colour, nullptr);
    const wxPGChoices& choices = colour->GetChoices();
    ASSERT_GT(choices.GetCount(), 0u);
    EXPECT_EQ(choices.GetLabel(choices.GetCount() - 1), "Other");
    // ...and still show the stored colour (0x00BBGGRR).
    wxColour shown;
    shown << colour->GetValue();
    EXPECT_EQ(shown, wxColour(255, 255, 0)) << knob.attribute("bgcolor").value();
    // Picking another colour writes it back as 0x00BBGGRR.
    w().grid()->ChangePropertyValue(colour, WXVARIANT(wxColour(0x12, 0x34, 0x56)));
    Pump(50);
    EXPECT_STREQ(knob.attribute("bgcolor").value(), std::to_string(0x563412).c_str());
}

// Runs the menu command `item` of menu `menu`, found by their texts, as a click would.
void RunMenu(wxFrame* window, const wxString& menu, const wxString& item) {
    const int id = window->GetMenuBar()->FindMenuItem(menu, item);
    ASSERT_NE(id, wxNOT_FOUND) << menu << " > " << item;
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetEventObject(window);
    window->GetEventHandler()->ProcessEvent(event);
}

TEST_F(DesignerWindowTest, ToolAndHelpCommandsHandTheirFilesToTheDesktop) {
    // A stand-in xdg-open on the PATH records what it is asked to open.
    const fs::path bin = root_ / "bin";
    fs::create_directories(bin);
    const fs::path opened = root_ / "opened.txt";
    {
        std::ofstream script(bin / "xdg-open");
        script << "#!/bin/sh\necho \"$1\" >> '" << opened.string() << "'\n";
    }
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH");
    setenv("PATH", (bin.string() + ":" + oldPath).c_str(), 1);
    setenv("LANG", "C", 1);
    auto openedLines = [&] {
        std::vector<std::string> lines;
        std::ifstream in(opened);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    };

    OpenWindow();
    const std::string program = fs::canonical("/proc/self/exe").parent_path().string();
    RunMenu(window_, "Help", "Help");
    RunMenu(window_, "Help", "Manual");
    RunMenu(window_, "Tool", "Open file with Web browser");
    w().project().document().SetProjectChanged(false);
    RunMenu(window_, "Tool", "Open resources directory");
    const bool waited = WaitFor([&] { return openedLines().size() == 4; });
    setenv("PATH", oldPath.c_str(), 1);
    ASSERT_TRUE(waited) << openedLines().size();

    std::vector<std::string> lines = openedLines();
    std::sort(lines.begin(), lines.end());  // the launches run side by side
    const std::string work = w().project().workingDirectory().path();
    std::vector<std::string> expected = {program + "/tsr_e.html", program + "/tsr_e.pdf",
                                         "file://" + work + "/WEB/index.html", work};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    // The manual is there to be opened, in both formats.
    EXPECT_TRUE(fs::exists(program + "/tsr_e.html"));
    EXPECT_TRUE(fs::exists(program + "/tsr_e.pdf"));
    // Opening the resources directory counts as a change, even with nothing added.
    EXPECT_TRUE(w().project().document().ProjectChanged());
    EXPECT_EQ(Title().back(), '*');
}

TEST_F(DesignerWindowTest, BuildToArduinoWithoutArduinoCliWritesTheSketchAndSaysWhereItIs) {
    const std::string oldPath = std::getenv("PATH");
    setenv("PATH", (root_ / "empty").c_str(), 1);  // no arduino-cli to be found
    OpenWindow();
    const std::string sketch = w().project().workingDirectory().path() + "/arduinosdwrite.c";
    {
        MessageAnswers answers({wxID_NO});
        RunMenu(window_, "Build", "Build to Arduino");
        ASSERT_EQ(answers.messages.size(), 1u);
        EXPECT_EQ(answers.messages[0].rfind("Connect Arduino to the PC", 0), 0u);
    }
    EXPECT_FALSE(fs::exists(sketch)) << "answering no wrote the sketch";
    MessageAnswers answers({wxID_YES, wxID_OK});
    RunMenu(window_, "Build", "Build to Arduino");
    setenv("PATH", oldPath.c_str(), 1);
    ASSERT_EQ(answers.messages.size(), 2u);
    EXPECT_NE(answers.messages[1].find(sketch), std::string::npos) << answers.messages[1];
    const std::string text = ReadFile(sketch);
    EXPECT_EQ(text.rfind("\r\n#include <SPI.h>\r\n", 0), 0u);
    EXPECT_NE(text.find("SD write success"), std::string::npos);
}

TEST_F(DesignerWindowTest, WithTheServerOnThePreviewShowsWhatTheServerServes) {
    OpenWindow();
    AddObject("header", FirstPage());
    Select(w().project().document().FindObjectBySerial(0));
    const unsigned port = FreeTcpPort();
    ASSERT_NE(port, 0u);
    TypeIntoRow(Row("Web server port number"), wxString::Format("%u", port));
    wxPGProperty* on = Row("Activate web server");
    ASSERT_NE(on, nullptr);
    wxPropertyGridEvent doubleClick(wxEVT_PG_DOUBLE_CLICK, w().grid()->GetId());
    doubleClick.SetProperty(on);
    doubleClick.SetEventObject(w().grid());
    w().grid()->GetEventHandler()->ProcessEvent(doubleClick);
    Pump(50);
    EXPECT_EQ(on->GetValueAsString(), "True");
    EXPECT_NE(Title().find(" Server activated: "), std::string::npos) << Title();
    ASSERT_TRUE(WaitFor([&] { return PreviewText().find("My Header") != std::string::npos; }))
        << PreviewText();
    EXPECT_EQ(w().preview().shownUrl(), "http://localhost:" + std::to_string(port));
}

TEST_F(DesignerWindowTest, BuildToArduinoUploadsWithArduinoCliAndLogsItsOutput) {
    // A stand-in arduino-cli: it detects one board and logs what it is asked to do.
    const fs::path bin = root_ / "bin";
    fs::create_directories(bin);
    const fs::path calls = root_ / "calls.txt";
    {
        std::ofstream script(bin / "arduino-cli");
        script << "#!/bin/sh\necho \"$*\" >> '" << calls.string() << "'\n"
               << "case \"$1\" in\n"
               << "  board) echo '[{\"port\":{\"address\":\"/dev/ttyACM3\"},"
                  "\"matching_boards\":[{\"fqbn\":\"arduino:avr:uno\"}]}]';;\n"
               << "  *) sleep 0.3; echo \"$1 finished\";;\n"
               << "esac\n";
    }
    fs::permissions(bin / "arduino-cli", fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH");
    setenv("PATH", (bin.string() + ":" + oldPath).c_str(), 1);
    OpenWindow();
    MessageAnswers answers({wxID_YES, wxID_OK, wxID_OK, wxID_OK});
    RunMenu(window_, "Build", "Build to Arduino");
    setenv("PATH", oldPath.c_str(), 1);

    // The detected board and port were offered and taken, then kept.
    ASSERT_EQ(answers.messages.size(), 4u);
    EXPECT_EQ(answers.messages[1], "entry: arduino:avr:uno");
    EXPECT_EQ(answers.messages[2], "entry: /dev/ttyACM3");
    EXPECT_EQ(answers.messages[3].rfind("Wait the end of compiling", 0), 0u) << answers.messages[3];
    tsr::Profile profile;
    EXPECT_EQ(profile.GetString("Tessora", "arduinoport", ""), "/dev/ttyACM3");
    const std::string dir = w().project().workingDirectory().path() + "/arduinosdwrite";
    EXPECT_EQ(ReadFile(calls), "board list --format json\n"
                               "compile --fqbn arduino:avr:uno " + dir + "\n"
                               "upload -p /dev/ttyACM3 --fqbn arduino:avr:uno " + dir + "\n");
    // arduino-cli's output reaches the log (lines from the worker thread arrive through the
    // event loop).
    wxString log;
    EXPECT_TRUE(WaitFor([&] {
        log.clear();
        for (int i = 0; i < w().log()->LineCount(); ++i) log += w().log()->GetLineText(i) + "\n";
        return log.Contains("upload finished");
    }, 5)) << log;
}

TEST_F(DesignerWindowTest, TheBuildDialogCopiesWithShortNamesAndRemembersItsSettings) {
    OpenWindow();
    const std::string output = w().project().workingDirectory().outputDirectory();
    tsr::Profile profile;
    const fs::path target = root_ / "copy";

    // The first run offers the defaults.
    {
        tsr::shell::generate dialog(window_, profile, output);
        EXPECT_EQ(dialog.targetField()->GetValue().utf8_string(),
                  std::string(std::getenv("HOME")) + "/mygeneratefiles");
        EXPECT_FALSE(dialog.use83Box()->GetValue());
    }
    // A target that cannot be created: message 134, the dialog stays open, the settings are
    // kept all the same; then a good target copies with 8.3 names.
    {
        int attempts = 0;
        DialogAnswers answers([&](wxDialog* d) {
            auto* dialog = static_cast<tsr::shell::generate*>(d);
            dialog->targetField()->SetValue(wxString::FromUTF8((root_ / "no/such/dir").string()));
            dialog->use83Box()->SetValue(true);
            Click(dialog->okButton());
            ++attempts;
            EXPECT_TRUE(dialog->IsShown()) << "the dialog closed after a failed copy";
            EXPECT_EQ(profile.GetString("Tessora", "generatefilepath", ""),
                      (root_ / "no/such/dir").string());
            dialog->targetField()->SetValue(wxString::FromUTF8(target.string()));
            Click(dialog->okButton());
            ++attempts;
        });
        tsr::shell::generate dialog(window_, profile, output);
        EXPECT_EQ(dialog.ShowModal(), wxID_OK);
        EXPECT_EQ(attempts, 2);
        ASSERT_EQ(answers.nestedMessages.size(), 1u);
        EXPECT_EQ(answers.nestedMessages[0], "Error while generating files");
    }
    EXPECT_TRUE(fs::exists(target / "index.htm"));
    EXPECT_FALSE(fs::exists(target / "index.html"));
    EXPECT_TRUE(fs::exists(target / "JQUERY~1.JS")) << "no short name for the jQuery file";
    const std::string copied = ReadFile(target / "index.htm");
    EXPECT_EQ(copied.find("jquery-1.10.2.min.js"), std::string::npos);

    // A later run (another profile object, as after a restart) shows the kept settings.
    tsr::Profile again;
    tsr::shell::generate dialog(window_, again, output);
    EXPECT_EQ(dialog.targetField()->GetValue().utf8_string(), target.string());
    EXPECT_TRUE(dialog.use83Box()->GetValue());
}

// The document as raw XML text.
std::string DocumentText(MainWindowTestAccess& w) {
    std::ostringstream out;
    w.project().document().xml().save(out, "", pugi::format_raw);
    return out.str();
}

// The centre of `item` of `tree`, on the screen.
wxPoint ItemCentre(wxTreeCtrl* tree, const wxTreeItemId& item) {
    wxRect r;
    EXPECT_TRUE(tree->GetBoundingRect(item, r, true));
    return tree->ClientToScreen(wxPoint(r.x + r.width / 2, r.y + r.height / 2));
}

// The library item whose text is `text`.
wxTreeItemId LibraryItem(wxTreeCtrl* library, const wxString& text) {
    std::vector<wxTreeItemId> stack{library->GetRootItem()};
    while (!stack.empty()) {
        const wxTreeItemId item = stack.back();
        stack.pop_back();
        if (item != library->GetRootItem() && library->GetItemText(item) == text) return item;
        wxTreeItemIdValue cookie;
        for (wxTreeItemId c = library->GetFirstChild(item, cookie); c.IsOk();
             c = library->GetNextChild(item, cookie))
            stack.push_back(c);
    }
    return {};
}

// Presses `key` with `modifiers` on the real keyboard (XTest), with the focus in `target`.
void PressKey(wxWindow* target, int key, int modifiers = wxMOD_NONE) {
    wxGetTopLevelParent(target)->Raise();
    target->SetFocus();
    Pump(100);
    wxUIActionSimulator sim;
    sim.Char(key, modifiers);
    Pump(200);
}

TEST_F(DesignerWindowTest, UndoAndRedoGiveBackEveryStepByteForByteAndRegenerate) {
    setenv("LANG", "C", 1);
    const std::string path = (root_ / "steps.tsr").string();
    OpenWindow();
    window_->Raise();
    const pugi::xml_node page = FirstPage();
    AddObject("knob", page);
    AddObject("header", page);
    AddObject("script", w().project().document().FindObjectBySerial(0));
    ASSERT_TRUE(w().project().Save(path));
    w().rebuild({});
    Pump(100);
    EXPECT_NE(Title().back(), '*') << Title();
    const std::string index = w().project().workingDirectory().outputDirectory() + "/index.html";
    wxTreeCtrl* tree = w().projectTree();
    tsr::ProjectDocument& doc = w().project().document();
    auto serialOf = [&](const char* element) {
        return doc.SerialOf(doc.xml().find_node(
            [&](pugi::xml_node n) { return std::string(n.name()) == element; }));
    };

    struct Step {
        const char* name;
        std::function<void()> run;
    };
    const std::vector<Step> steps = {
        {"drop a slider from the library onto the page",
         [&] {
             DragPointer(ItemCentre(w().libraryTree(), LibraryItem(w().libraryTree(), "Slider")),
                         ItemCentre(tree, FindItem(1)));
         }},
        {"move the header up with Alt+Up",
         [&] {
             tree->SelectItem(FindItem(serialOf("header")));
             PressKey(tree, WXK_UP, wxMOD_ALT);
         }},
        {"delete the knob with the Delete key",
         [&] {
             tree->SelectItem(FindItem(serialOf("knob")));
             PressKey(tree, WXK_DELETE);
         }},
        {"type a port into the grid",
         [&] {
             Select(doc.FindObjectBySerial(0));
             TypeIntoRow(Row("Web server port number"), "8080");
         }},
        {"edit the script in the script editor",
         [&] {
             Select(doc.FindObjectBySerial(serialOf("script")));
             wxPGProperty* row = Row("Script");
             ASSERT_NE(row, nullptr);
             DialogAnswers answers([&](wxDialog* dialog) {
                 auto* editor = static_cast<tsr::shell::editcode*>(dialog);
                 editor->codeWindow()->AppendText("undoable();");
                 Click(editor->okButton());
             });
             ASSERT_TRUE(w().grid()->SelectProperty(row, true));
             Click(w().grid()->GetEditorControlSecondary());
             Pump(50);
         }},
    };
    std::vector<std::string> texts{DocumentText(w())};
    std::vector<std::string> pages{ReadFile(index)};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const int generated = GenerateLines();
        step.run();
        EXPECT_GT(GenerateLines(), generated) << "the step did not regenerate";
        texts.push_back(DocumentText(w()));
        pages.push_back(ReadFile(index));
        ASSERT_NE(texts.back(), texts[texts.size() - 2]) << "the step changed nothing";
    }
    EXPECT_EQ(w().history().undoCount(), steps.size());
    EXPECT_EQ(Title().back(), '*');

    // Ctrl+Z takes the steps back one by one; each one regenerates.
    for (size_t i = steps.size(); i > 0; --i) {
        SCOPED_TRACE(std::string("undo: ") + steps[i - 1].name);
        const int generated = GenerateLines();
        PressKey(tree, 'z', wxMOD_CONTROL);
        EXPECT_EQ(DocumentText(w()), texts[i - 1]);
        EXPECT_EQ(ReadFile(index), pages[i - 1]);
        EXPECT_EQ(GenerateLines(), generated + 1);
    }
    // Back where the project was saved: nothing unsaved.
    EXPECT_FALSE(doc.ProjectChanged());
    EXPECT_NE(Title().back(), '*') << Title();
    EXPECT_EQ(TreeText(),
              "Project\n  Page \u2014 FirstPage\n    Knob \u2014 knob1\n    Header\n  Script\n");

    // Ctrl+Y and Ctrl+Shift+Z replay them.
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(std::string("redo: ") + steps[i].name);
        PressKey(tree, i % 2 ? 'z' : 'y', i % 2 ? wxMOD_CONTROL | wxMOD_SHIFT : wxMOD_CONTROL);
        EXPECT_EQ(DocumentText(w()), texts[i + 1]);
        EXPECT_EQ(ReadFile(index), pages[i + 1]);
    }
    EXPECT_TRUE(doc.ProjectChanged());
    EXPECT_FALSE(w().history().CanRedo());

    // The Edit menu names both, and New forgets the history.
    EXPECT_NE(window_->GetMenuBar()->FindMenuItem("Edit", "Undo"), wxNOT_FOUND);
    EXPECT_NE(window_->GetMenuBar()->FindMenuItem("Edit", "Redo"), wxNOT_FOUND);
    {
        MessageAnswers answers({wxID_NO});  // discard the changes
        PressKey(tree, 'n', wxMOD_CONTROL);
        EXPECT_EQ(answers.messages.size(), 1u);
    }
    EXPECT_FALSE(w().history().CanUndo());
    EXPECT_EQ(TreeText(), "Project\n  Page \u2014 FirstPage\n");
    const std::string fresh = DocumentText(w());
    PressKey(tree, 'z', wxMOD_CONTROL);
    EXPECT_EQ(DocumentText(w()), fresh);
}

TEST_F(DesignerWindowTest, MoveUpAndMoveDownFromTheContextMenuReorderThePage) {
    setenv("LANG", "C", 1);
    OpenWindow();
    const pugi::xml_node page = FirstPage();
    AddObject("slider", page);
    AddObject("button", page);
    AddObject("knob", page);
    ASSERT_EQ(TreeText(), "Project\n  Page \u2014 FirstPage\n    Slider \u2014 slider1\n"
                          "    Button \u2014 b1\n    Knob \u2014 knob1\n");
    // Runs the context menu entry `label` on the object at `serial`, as a click on it would.
    auto runContext = [&](int serial, const wxString& label, bool enabled) {
        std::unique_ptr<wxMenu> menu = w().contextMenu(serial);
        ASSERT_TRUE(menu);
        const int id = menu->FindItem(label);
        ASSERT_NE(id, wxNOT_FOUND) << label;
        EXPECT_EQ(menu->IsEnabled(id), enabled) << label;
        if (!enabled) return;
        wxCommandEvent event(wxEVT_MENU, id);
        window_->GetEventHandler()->ProcessEvent(event);
        Pump(50);
    };
    runContext(2, "Move up", false);  // the first child
    runContext(4, "Move down", false);  // the last child
    runContext(2, "Move down", true);
    EXPECT_EQ(TreeText(), "Project\n  Page \u2014 FirstPage\n    Button \u2014 b1\n"
                          "    Slider \u2014 slider1\n    Knob \u2014 knob1\n");
    // The moved object stays selected.
    EXPECT_EQ(w().serialOf(w().projectTree()->GetSelection()), 3);
    runContext(4, "Move up", true);
    EXPECT_EQ(TreeText(), "Project\n  Page \u2014 FirstPage\n    Button \u2014 b1\n"
                          "    Knob \u2014 knob1\n    Slider \u2014 slider1\n");
    const std::string page_ =
        ReadFile(w().project().workingDirectory().outputDirectory() + "/index.html");
    EXPECT_LT(page_.find("knob1"), page_.find("slider1")) << "not regenerated in the new order";
    // The project item has no context menu.
    EXPECT_FALSE(w().contextMenu(0));

    // Alt+Down moves the selected object down, as long as there is a place below it.
    wxTreeCtrl* tree = w().projectTree();
    tree->SelectItem(FindItem(2));  // the button
    PressKey(tree, WXK_DOWN, wxMOD_ALT);
    PressKey(tree, WXK_DOWN, wxMOD_ALT);
    PressKey(tree, WXK_DOWN, wxMOD_ALT);
    EXPECT_EQ(TreeText(), "Project\n  Page \u2014 FirstPage\n    Knob \u2014 knob1\n"
                          "    Slider \u2014 slider1\n    Button \u2014 b1\n");
    EXPECT_EQ(w().serialOf(tree->GetSelection()), 4);

    // A drop still appends last: a second page goes after the first.
    AddObject("page", w().project().document().FindObjectBySerial(0));
    EXPECT_NE(TreeText().find("  Page \u2014 Newpage2\n"), std::string::npos) << TreeText();

    // The Delete key on the project item deletes nothing and changes nothing.
    w().project().document().SetProjectChanged(false);
    const std::string before = DocumentText(w());
    tree->SelectItem(FindItem(0));
    PressKey(tree, WXK_DELETE);
    EXPECT_EQ(DocumentText(w()), before);
    EXPECT_FALSE(w().project().document().ProjectChanged());
    // ...and on a page deletes it with its content.
    tree->SelectItem(FindItem(1));
    PressKey(tree, WXK_DELETE);
    EXPECT_EQ(TreeText(), "Project\n  Page \u2014 Newpage2\n");
    EXPECT_TRUE(w().project().document().ProjectChanged());
}

TEST_F(DesignerWindowTest, AfterOpeningAProjectThePreviewShowsItsPageAtOnce) {
    // Two projects served on the same address, each with a header of its own.
    const unsigned port = FreeTcpPort();
    ASSERT_NE(port, 0u);
    auto make = [&](const std::string& name, const char* text) {
        const std::string path = (root_ / (name + ".tsr")).string();
        tsr::Project made;
        fs::create_directories(root_ / ("make-" + name));
        EXPECT_EQ(made.Start((root_ / ("make-" + name)).string()), 0);
        tsr::ProjectDocument& doc = made.document();
        doc.SetProperty(doc.ProjectElement(), "webserveron", "1");
        doc.SetProperty(doc.ProjectElement(), "webserverport", std::to_string(port));
        pugi::xml_node header;
        doc.CreateObject(tsr::FindTypeByKey("header"), doc.FindObjectBySerial(1), &header);
        doc.SetProperty(header, "text", text);
        EXPECT_TRUE(made.Save(path));
        return path;
    };
    const std::string alpha = make("alpha", "Alpha panel");
    const std::string beta = make("beta", "Beta panel");
    auto shows = [&](const char* text) {
        return WaitFor([&] { return PreviewText().find(text) != std::string::npos; }, 5);
    };

    // An earlier run showed the second project on that address.
    OpenWindow(beta);
    ASSERT_TRUE(w().preview().running()) << "no browser engine";
    ASSERT_TRUE(shows("Beta panel")) << PreviewText();
    CloseWindow();

    // This run opens the first one: its page, not the one the address served before.
    OpenWindow(alpha);
    EXPECT_TRUE(shows("Alpha panel")) << PreviewText();
    EXPECT_EQ(w().preview().shownUrl(), "http://localhost:" + std::to_string(port));
    EXPECT_EQ(PreviewText().find("Beta panel"), std::string::npos);
    // Opening the other one on the same address shows it at once too, and back again.
    for (const auto& [path, text] : {std::pair{beta, "Beta panel"}, {alpha, "Alpha panel"}}) {
        ASSERT_TRUE(w().files().LoadProjectFile(path));
        w().rebuild({});
        EXPECT_TRUE(shows(text)) << text << ": " << PreviewText();
    }
}

TEST_F(DesignerWindowTest, TheFileMenuQuitsWithThePromptAndListsRecentProjects) {
    setenv("LANG", "C", 1);
    const std::string first = (root_ / "first.tsr").string();
    const std::string second = (root_ / "second.tsr").string();
    OpenWindow();
    ASSERT_TRUE(w().project().Save(first));
    AddObject("knob", FirstPage());
    ASSERT_TRUE(w().project().Save(second));
    CloseWindow();

    // The files opened before are listed, most recent first, also in a later run.
    OpenWindow(first);
    CloseWindow();
    OpenWindow(second);
    wxMenuBar* bar = window_->GetMenuBar();
    EXPECT_NE(bar->FindMenuItem("File", "1 " + second), wxNOT_FOUND);
    EXPECT_NE(bar->FindMenuItem("File", "2 " + first), wxNOT_FOUND);
    RunMenu(window_, "File", "2 " + first);
    EXPECT_EQ(Title(), "Tessora V1.08 (" + first + ")");
    EXPECT_EQ(TreeText(), "Project\n  Page \u2014 FirstPage\n");
    EXPECT_NE(bar->FindMenuItem("File", "1 " + first), wxNOT_FOUND);

    // Quit with an unsaved change asks; Cancel keeps the window open, No closes it.
    AddObject("knob", FirstPage());
    w().project().document().SetProjectChanged(true);
    {
        MessageAnswers answers({wxID_CANCEL});
        PressKey(w().projectTree(), 'q', wxMOD_CONTROL);
        ASSERT_EQ(answers.messages.size(), 1u);
        EXPECT_EQ(answers.messages[0], "Project changed, save modifications?");
    }
    Pump(100);
    EXPECT_NE(wxTopLevelWindows.Find(window_), nullptr) << "closed although cancelled";
    {
        MessageAnswers answers({wxID_NO});
        RunMenu(window_, "File", "Quit");
        EXPECT_EQ(answers.messages.size(), 1u);
    }
    access_.reset();
    MainWindow* closed = window_;
    window_ = nullptr;
    Pump(200);
    EXPECT_EQ(wxTopLevelWindows.Find(closed), nullptr) << "still open after Quit";
    EXPECT_TRUE(fs::is_empty(root_ / "tmp")) << "working directory left behind";
}

// Answers the Build to Arduino questions: Yes to both, and `directory` in the directory dialog.
class ArduinoAnswers : public wxModalDialogHook {
  public:
    explicit ArduinoAnswers(std::string directory) : directory_(std::move(directory)) {
        Register();
    }
    ~ArduinoAnswers() override { Unregister(); }
    std::vector<std::string> messages;

  protected:
    int Enter(wxDialog* dialog) override {
        if (auto* dir = dynamic_cast<wxDirDialog*>(dialog)) {
            messages.push_back("directory: " + dir->GetMessage().utf8_string());
            // Shown, then accepted as a click on its button would, once the directory given
            // at start is the chooser's folder.
            dir->CallAfter([dir] {
                Pump(300);
                dir->GTKOnAccept();
            });
            return wxID_NONE;
        }
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
            messages.push_back(box->GetMessage().utf8_string());
            return (box->GetMessageDialogStyle() & wxYES_NO) ? wxID_YES : wxID_OK;
        }
        messages.push_back("(another dialog)");
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}

  private:
    std::string directory_;
};

TEST_F(DesignerWindowTest, BuildToArduinoWithoutArduinoCliSavesTheSketchWhereTheUserAsks) {
    setenv("LANG", "C", 1);
    const std::string oldPath = std::getenv("PATH");
    setenv("PATH", (root_ / "empty").c_str(), 1);  // no arduino-cli to be found
    OpenWindow();
    // The directory chosen last time is offered; the answer takes it.
    const fs::path kept = root_ / "kept";
    fs::create_directories(kept);
    ASSERT_TRUE(tsr::Profile().SetString("Tessora", "arduinosavedir", kept.string()));
    ArduinoAnswers answers(kept.string());
    RunMenu(window_, "Build", "Build to Arduino");
    setenv("PATH", oldPath.c_str(), 1);
    ASSERT_EQ(answers.messages.size(), 4u);
    EXPECT_NE(answers.messages[1].find("Save the sketch"), std::string::npos) << answers.messages[1];
    EXPECT_EQ(answers.messages[2].rfind("directory: ", 0), 0u);
    EXPECT_NE(answers.messages[3].find((kept / "arduinosdwrite.c").string()), std::string::npos)
        << answers.messages[3];
    EXPECT_NE(answers.messages[3].find((kept / "index.htm").string()), std::string::npos);
    const std::string sketch = w().project().workingDirectory().path() + "/arduinosdwrite.c";
    EXPECT_EQ(ReadFile(kept / "arduinosdwrite.c"), ReadFile(sketch));
    EXPECT_EQ(ReadFile(kept / "index.htm"),
              ReadFile(w().project().workingDirectory().outputDirectory() + "/index.html"));
}

int testsResult = 1;

class TestApp : public wxApp {
  public:
    bool OnInit() override {
        wxInitAllImageHandlers();
        // A failed toolkit assertion fails the test at hand instead of waiting on a dialog.
        wxSetAssertHandler([](const wxString& file, int line, const wxString& func,
                              const wxString& cond, const wxString& msg) {
            ADD_FAILURE() << "wx assertion " << cond << " in " << func << " (" << file << ":"
                          << line << "): " << msg;
        });
        CallAfter([this] {
            testsResult = RUN_ALL_TESTS();
            ExitMainLoop();
        });
        return true;
    }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(TestApp);

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const int entry = wxEntry(argc, argv);
    return entry != 0 ? entry : testsResult;
}

// Runs the context menu entry `label` on the object at `serial`, as a click on it would.
void RunContextEntry(MainWindowTestAccess& w, wxFrame* window, int serial, const wxString& label) {
    std::unique_ptr<wxMenu> menu = w.contextMenu(serial);
    ASSERT_TRUE(menu);
    const int id = menu->FindItem(label);
    ASSERT_NE(id, wxNOT_FOUND) << label;
    wxCommandEvent event(wxEVT_MENU, id);
    window->GetEventHandler()->ProcessEvent(event);
    Pump(50);
}

TEST_F(DesignerWindowTest, DuplicateGivesTheCopyItsOwnIdAndSelectsIt) {
    setenv("LANG", "C", 1);
    OpenWindow();
    const pugi::xml_node knob = AddObject("knob", FirstPage());
    AddObject("unitylink", knob);
    RunContextEntry(w(), window_, 2, "Duplicate");
    EXPECT_EQ(TreeText(),
              "Project\n  Page \u2014 FirstPage\n    Knob \u2014 knob1\n"
              "      Unity link \u2014 %MW0\n"
              "    Knob \u2014 knob2\n"
              "      Unity link \u2014 %MW0\n");
    // The copy is selected, its grid shows its own id, and the page draws it as a knob.
    EXPECT_EQ(w().serialOf(w().projectTree()->GetSelection()), 4);
    ASSERT_NE(Row("Id"), nullptr);
    EXPECT_EQ(Row("Id")->GetValueAsString(), "knob2");
    const std::string page =
        ReadFile(w().project().workingDirectory().outputDirectory() + "/index.html");
    EXPECT_NE(page.find("$(\"#knob2\").knob("), std::string::npos);
    EXPECT_STREQ(FirstPage().last_child().first_child().attribute("gatewayid").value(), "uni1");
    // The tree with the links' variables.
    Screenshot("designer_tree_link_variables");
}

// Deleting a gateway that links use asks first, saying how many; No keeps it. Once deleted, the
// generation names each link left without it, and the page calls no missing address function.
TEST_F(DesignerWindowTest, DeletingAGatewayThatLinksUseAsksAndTheLinksAreLogged) {
    setenv("LANG", "C", 1);
    OpenWindow();
    tsr::ProjectDocument& doc = w().project().document();
    const pugi::xml_node knob = AddObject("knob", FirstPage());
    AddObject("unitylink", knob);
    AddObject("unitylink", AddObject("slider", FirstPage()));
    const pugi::xml_node gateway = AddObject("unigateway", doc.ProjectElement());
    const int serial = doc.SerialOf(gateway);
    const std::string question =
        "2 links use gateway uni1. Without it, their widgets show no communication. Delete the "
        "gateway?";
    {
        MessageAnswers answers({wxID_NO});
        RunContextEntry(w(), window_, serial, "Delete");
        EXPECT_EQ(answers.messages, std::vector<std::string>{question});
    }
    EXPECT_TRUE(doc.FindObjectBySerial(serial)) << "deleted after No";
    EXPECT_STREQ(doc.FindObjectBySerial(serial).name(), "unigateway");
    // The Delete key asks the same; Yes deletes.
    const int linesBefore = w().log()->LineCount();
    {
        MessageAnswers answers({wxID_YES});
        w().projectTree()->SelectItem(FindItem(serial));
        PressKey(w().projectTree(), WXK_DELETE);
        EXPECT_EQ(answers.messages, std::vector<std::string>{question});
    }
    EXPECT_FALSE(doc.FindObjectBySerial(serial));
    int logged = 0;
    for (int i = linesBefore; i < w().log()->LineCount(); ++i) {
        if (w().log()->GetLineText(i).Contains(
                "refers to gateway uni1, which the project does not have"))
            ++logged;
    }
    EXPECT_EQ(logged, 2);
    const std::string page =
        ReadFile(w().project().workingDirectory().outputDirectory() + "/index.html");
    EXPECT_EQ(page.find("getaddressuni1"), std::string::npos);
    EXPECT_NE(page.find("tsrorphan('#knob1');"), std::string::npos);
    // Deleting a widget asks nothing.
    MessageAnswers none({});
    RunContextEntry(w(), window_, 2, "Delete");
    EXPECT_TRUE(none.messages.empty());
}

// A refresh period below 50 ms is refused in French as in English; a project file holding
// out-of-range values opens with them clamped and says so in the log.
TEST_F(DesignerWindowTest, RangesAreCheckedWhenTypedAndWhenAFileOpens) {
    setenv("LANG", "fr_FR.UTF-8", 1);
    OpenWindow();
    const pugi::xml_node link = AddObject("unitylink", AddObject("knob", FirstPage()));
    Select(link);
    {
        MessageAnswers answers({wxID_OK});
        TypeIntoRow(Row("Refresh period"), "0");
        Pump(100);
        EXPECT_EQ(answers.messages,
                  std::vector<std::string>{
                      "Refresh period : entrez un nombre entier de 50 à 4294967295"});
    }
    EXPECT_STREQ(link.attribute("refreshperiod").value(), "500");
    EXPECT_EQ(Row("Refresh period")->GetValueAsString(), "500");
    TypeIntoRow(Row("Refresh period"), "50");
    EXPECT_STREQ(link.attribute("refreshperiod").value(), "50");
    CloseWindow();

    setenv("LANG", "C", 1);
    const fs::path path = root_ / "ranges.tsr";
    {
        std::ofstream out(path);
        out << "<tsr><project webserverport='70000'><page name='P'><knob id='knob1' width='-5'/>"
               "</page></project></tsr>";
    }
    OpenWindow(path.string());
    const pugi::xml_node project = w().project().document().ProjectElement();
    EXPECT_STREQ(project.attribute("webserverport").value(), "65535");
    std::vector<std::string> said;
    for (int i = 0; i < w().log()->LineCount(); ++i) {
        const std::string line = w().log()->GetLineText(i).utf8_string();
        if (line.find("is out of range") != std::string::npos)
            said.push_back(line.substr(line.find(": ") + 2));
    }
    EXPECT_EQ(said, (std::vector<std::string>{
                        "The value 70000 of Web server port number (Project) is out of range; it "
                        "is now 65535",
                        "The value -5 of Width (Knob) is out of range; it is now 0"}));
    Select(project);
    EXPECT_EQ(Row("Web server port number")->GetValueAsString(), "65535");
}

// A link dropped from the library under a plot whose script is still the default gives the plot
// the script of a linked plot, in the same undo step; a plot without a link keeps its default.
TEST_F(DesignerWindowTest, DroppingALinkUnderADefaultPlotKeepsOnlyItsReadings) {
    setenv("LANG", "C", 1);
    OpenWindow();
    window_->Raise();
    const pugi::xml_node plot = AddObject("plot", FirstPage());
    const pugi::xml_node lonely = AddObject("plot", FirstPage());
    const std::string defaultScript = plot.attribute("script").value();
    ASSERT_NE(defaultScript.find("Math.random()"), std::string::npos);
    const size_t steps = w().history().undoCount();
    wxTreeCtrl* library = w().libraryTree();
    const wxTreeItemId link =
        LibraryItem(library, "Link item value with one Unity simulator or M340 variable");
    ASSERT_TRUE(link.IsOk());
    library->EnsureVisible(link);
    Pump(100);
    DragPointer(ItemCentre(library, link), ItemCentre(w().projectTree(), FindItem(2)));
    ASSERT_STREQ(plot.first_child().name(), "unitylink") << TreeText();
    EXPECT_STREQ(plot.attribute("script").value(),
                 "var rendererplot1 = function() {return plotplot1data[0].length ? plotplot1data "
                 ": [[null]]};");
    EXPECT_STREQ(lonely.attribute("script").value(),
                 "var rendererplot2 = function() {return plotplot2data}; var i; for (i = 0; i < "
                 "15; i++) { plotplot2data[0].push([i, Math.random()]);}");
    EXPECT_EQ(w().history().undoCount(), steps + 1);
    // One Ctrl+Z takes back the link and the script together.
    PressKey(w().projectTree(), 'z', wxMOD_CONTROL);
    const pugi::xml_node again = w().project().document().FindObjectBySerial(2);
    EXPECT_FALSE(again.first_child());
    EXPECT_EQ(std::string(again.attribute("script").value()), defaultScript);
}

// While the server runs, an edit, a save or an undo that leaves the gateways alone keeps their
// connections: no Disconnected or Connected line, and the preview keeps its page when the
// document is the same. Changing the gateway connects it again.
TEST_F(DesignerWindowTest, EditsThatLeaveTheGatewayAloneKeepItsConnection) {
    setenv("LANG", "C", 1);
    tsr::sims::UnitySim sim;
    ASSERT_TRUE(sim.Start());
    const std::string path = (root_ / "plant.tsr").string();
    {
        tsr::Project made;
        fs::create_directories(root_ / "make");
        ASSERT_EQ(made.Start((root_ / "make").string()), 0);
        tsr::ProjectDocument& doc = made.document();
        doc.SetProperty(doc.ProjectElement(), "webserveron", "1");
        doc.SetProperty(doc.ProjectElement(), "webserverport",
                        std::to_string(20000 + (static_cast<unsigned>(::getpid()) + 13) % 20000));
        pugi::xml_node gateway, knob, link, header;
        doc.CreateObject(tsr::FindTypeByKey("unigateway"), doc.ProjectElement(), &gateway);
        doc.SetProperty(gateway, "ip", "127.0.0.1:" + std::to_string(sim.port()));
        doc.CreateObject(tsr::FindTypeByKey("knob"), doc.FindObjectBySerial(1), &knob);
        doc.CreateObject(tsr::FindTypeByKey("unitylink"), knob, &link);
        doc.CreateObject(tsr::FindTypeByKey("header"), doc.FindObjectBySerial(1), &header);
        ASSERT_TRUE(made.Save(path));
    }
    OpenWindow(path);
    auto count = [&](const char* text) {
        int n = 0;
        for (int i = 0; i < w().log()->LineCount(); ++i)
            if (w().log()->GetLineText(i).Contains(text)) ++n;
        return n;
    };
    const char* kConnected = "Connected to Unity simulator or M340";
    const char* kDisconnected = "Disconnected from Unity simulator or M340";
    ASSERT_TRUE(WaitFor([&] { return count(kConnected) == 1; })) << count(kConnected);
    ASSERT_TRUE(WaitFor([&] { return !w().preview().view() || !w().preview().view()->IsBusy(); }));
    tsr::ProjectDocument& doc = w().project().document();
    const pugi::xml_node header = doc.FindObjectBySerial(4);
    ASSERT_STREQ(header.name(), "header");
    // Selecting the header shows its page first, which is a change of the document.
    Select(header);
    Pump(200);

    struct Step {
        const char* name;
        std::function<void()> run;
        bool documentChanges;
    };
    const std::vector<Step> steps = {
        {"type a header text", [&] { TypeIntoRow(Row("Text"), "Line 3"); }, true},
        {"save", [&] { RunMenu(window_, "File", "Save"); }, false},
        {"undo", [&] { PressKey(w().projectTree(), 'z', wxMOD_CONTROL); }, true},
        {"drop a slider", [&] { AddObject("slider", FirstPage()); }, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const int generated = GenerateLines();
        const int loads = w().preview().loads();
        step.run();
        Pump(300);
        EXPECT_GT(GenerateLines(), generated);
        EXPECT_EQ(count(kConnected), 1);
        EXPECT_EQ(count(kDisconnected), 0);
        if (w().preview().running()) {
            EXPECT_EQ(w().preview().loads(), step.documentChanges ? loads + 1 : loads);
        }
    }
    // Another address: the gateway is closed and connected again.
    const pugi::xml_node gateway = doc.FindObjectBySerial(doc.SerialOf(doc.xml().find_node(
        [](pugi::xml_node n) { return std::string(n.name()) == "unigateway"; })));
    Select(gateway);
    TypeIntoRow(Row("Simulator or PLC IP address"), "localhost:" + std::to_string(sim.port()));
    EXPECT_TRUE(WaitFor([&] { return count(kConnected) == 2; })) << count(kConnected);
    EXPECT_EQ(count(kDisconnected), 1);
}

// A port another program holds: the start failure says why in the dialog, the server switch
// reads False until the server runs, an edit of something else asks nothing again, and another
// port starts it. A gateway that cannot connect names the address and the reason; with links
// and the server off, the log says once how to see live values.
TEST_F(DesignerWindowTest, AServerThatCannotStartSaysWhyAndReadsAsStopped) {
    setenv("LANG", "C", 1);
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    socklen_t length = sizeof a;
    ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &length), 0);
    const std::string busy = std::to_string(ntohs(a.sin_port));
    const std::string path = (root_ / "busy.tsr").string();
    {
        std::ofstream out(path);
        out << "<tsr><project webserveron='1' webserverport='" << busy
            << "'><page name='P'><header text='H' id='h1'/></page>"
               "<unigateway ip='127.0.0.1:1' address='' id='uni1'/></project></tsr>";
    }
    auto logHas = [&](const std::string& text) {
        int n = 0;
        for (int i = 0; i < w().log()->LineCount(); ++i)
            if (w().log()->GetLineText(i).utf8_string().find(text) != std::string::npos) ++n;
        return n;
    };
    {
        MessageAnswers answers({wxID_OK});
        OpenWindow(path);
        Pump(200);
        ASSERT_EQ(answers.messages.size(), 1u);
        EXPECT_EQ(answers.messages[0],
                  "Cannot create web server, please check the port number\n\nThe web server "
                  "cannot listen on port " +
                      busy +
                      ": another program already uses it. Stop "
                      "that program or choose another port in the project's properties.");
    }
    tsr::ProjectDocument& doc = w().project().document();
    Select(doc.ProjectElement());
    EXPECT_EQ(Row("Activate web server")->GetValueAsString(), "False");
    EXPECT_STREQ(doc.ProjectElement().attribute("webserveron").value(), "1");  // kept as typed
    EXPECT_EQ(Title().find("Server activated"), std::string::npos) << Title();
    {
        MessageAnswers none({});
        Select(doc.FindObjectBySerial(2));
        TypeIntoRow(Row("Text"), "Line 4");
        EXPECT_TRUE(none.messages.empty()) << none.messages[0];
    }
    // Another port: the server runs, the switch reads True, and the gateway is tried.
    Select(doc.ProjectElement());
    const std::string free =
        std::to_string(20000 + (static_cast<unsigned>(::getpid()) + 17) % 20000);
    TypeIntoRow(Row("Web server port number"), free);
    Pump(200);
    EXPECT_NE(Title().find("Server activated"), std::string::npos) << Title();
    EXPECT_EQ(Row("Activate web server")->GetValueAsString(), "True");
    EXPECT_TRUE(WaitFor([&] {
        return logHas(
                   "Cannot connect to Unity simulator or M340, will retry in 5 seconds "
                   "(127.0.0.1:1: connection refused)") > 0;
    }));
    ::close(holder);
    CloseWindow();

    // Links with the server off: said once.
    OpenWindow();
    AddObject("unigateway", w().project().document().ProjectElement());
    AddObject("unitylink", AddObject("knob", FirstPage()));
    AddObject("header", FirstPage());
    EXPECT_EQ(logHas("so its widgets show no live values: set \"Activate web server\" of the "
                     "project to True to see them."),
              1);
}

// The description box shows the selected row's description; long log lines wrap.
TEST_F(DesignerWindowTest, TheDescriptionFollowsTheSelectedRow) {
    setenv("LANG", "C", 1);
    OpenWindow();
    Pump(200);
    Select(w().project().document().FindObjectBySerial(0));
    auto shown = [&](const wxString& text) {
        std::function<bool(wxWindow*)> find = [&](wxWindow* parent) {
            for (wxWindow* child : parent->GetChildren()) {
                if (auto* label = dynamic_cast<wxStaticText*>(child))
                    if (label->GetLabel() == text) return true;
                if (find(child)) return true;
            }
            return false;
        };
        return find(w().grid()->GetParent());
    };
    for (const char* row : {"Web server port number", "Offline mode", "Activate web server"}) {
        SCOPED_TRACE(row);
        wxPGProperty* p = Row(row);
        ASSERT_NE(p, nullptr);
        w().grid()->SelectProperty(p, false);
        wxPropertyGridEvent event(wxEVT_PG_SELECTED, w().grid()->GetId());
        event.SetPropertyGrid(w().grid());
        event.SetProperty(p);
        w().grid()->GetParent()->GetEventHandler()->ProcessEvent(event);
        Pump(50);
        EXPECT_TRUE(shown(p->GetHelpString())) << p->GetHelpString();
    }
    EXPECT_FALSE(w().log()->HasFlag(wxHSCROLL));
}
