#include "shell/main_window.h"

#include <wx/app.h>
#include <wx/dragimag.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/accel.h>
#include <wx/dirdlg.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/propgrid/advprops.h>
#include <wx/propgrid/editors.h>
#include <wx/propgrid/manager.h>
#include <wx/propgrid/props.h>
#include <wx/progdlg.h>
#include <wx/stattext.h>
#include <wx/textdlg.h>
#include <wx/stdpaths.h>
#include <wx/utils.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <thread>

#include "base/strings.h"
#include "designer/library_tree.h"
#include "designer/page_follow.h"
#include "designer/project_tree.h"
#include "designer/property_grid.h"
#include "designer/recent_projects.h"
#include "platform/paths.h"
#include "designer/arduino_build.h"
#include "designer/server_access.h"
#include "designer/tools.h"
#include "platform/process.h"
#include "shell/build_dialog.h"
#include "shell/server_access_dialog.h"
#include "shell/log_pane.h"
#include "shell/script_editor.h"
#include "shell/ui.h"

namespace tsr::shell {
namespace {

// Window ids of the controls, as the dialog template numbers them.
enum ControlId : int {
    kIdLibraryTree = 1003,
    kIdGrid = 1004,
    kIdProjectTree = 1005,
    kIdPreview = 1008,
    kIdLogsCaption = 1012,
    kIdLogPane = 1013,
};

enum CommandId : int {
    kCmdFileNew = wxID_HIGHEST + 1,
    kCmdFileOpen,
    kCmdFileSave,
    kCmdFileSaveAs,
    kCmdOpenBrowser,
    kCmdOpenHtmlEditor,
    kCmdConnectBrowser,
    kCmdServerAccess,
    kCmdOpenResources,
    kCmdHide,
    kCmdExpertMode,
    kCmdBuildDirectory,
    kCmdBuildArduino,
    kCmdHelp,
    kCmdManual,
    kCmdDelete,
    kCmdDuplicate,
    kTimerDrag,
    kTimerCommandLine,
    kTimerRetry,
    kCmdUndo,
    kCmdRedo,
    kCmdMoveUp,
    kCmdMoveDown,
    kCmdQuit,
    kCmdRecentFirst,
    kCmdRecentLast = kCmdRecentFirst + static_cast<int>(designer::kRecentProjectCount) - 1,
};

// The background of the window around the controls.
const wxColour kBackground(0, 200, 255);

// The serial (and type) of a project-tree item.
class ObjectItemData : public wxTreeItemData {
  public:
    ObjectItemData(int serial, int typeId) : serial(serial), typeId(typeId) {}
    int serial;
    int typeId;
};

// The position of an item in designer::LibraryItems().
class LibraryItemData : public wxTreeItemData {
  public:
    explicit LibraryItemData(int index) : index(index) {}
    int index;
};

// The directory holding the tree icons: "icons" beside the program, then the installed
// share directory, then the source tree's resources.
wxString IconDirectory() {
    const std::string program = ProgramDirectory();
    for (const std::string& candidate : {program + "/icons", program + "/../share/tessora/icons",
                                         std::string(TESSORA_SOURCE_DIR) + "/resources/icons"}) {
        if (wxFileName::DirExists(wxString::FromUTF8(candidate)))
            return wxString::FromUTF8(candidate);
    }
    return {};
}

// The grid's client data of a row: its index in the rows of the current build, plus one so
// that no row carries a null pointer.
void* RowTag(size_t index) {
    return reinterpret_cast<void*>(index + 1);
}
size_t RowIndex(void* tag) {
    return reinterpret_cast<size_t>(tag) - 1;
}

wxString BooleanText(bool value) {
    return value ? wxString("True") : wxString("False");
}

// The "editor" of rows that take no typing (choices, booleans): no control at all, so that a
// double click anywhere on the row reaches the grid, which answers it with the next value.
class NoTypingEditor : public wxPGEditor {
  public:
    wxString GetName() const override { return "TessoraNoTyping"; }
    wxPGWindowList CreateControls(wxPropertyGrid*, wxPGProperty*, const wxPoint&,
                                  const wxSize&) const override {
        return wxPGWindowList(nullptr);
    }
    void UpdateControl(wxPGProperty*, wxWindow*) const override {}
    bool OnEvent(wxPropertyGrid*, wxPGProperty*, wxWindow*, wxEvent&) const override {
        return false;
    }
};

// A script or template row: its button opens the script editor, and the edited text becomes the
// row's value (the grid then reports the change when the text differs).
class LongTextProperty : public wxLongStringProperty {
  public:
    using Editor = std::function<std::optional<std::string>()>;
    LongTextProperty(const wxString& label, const wxString& name, const wxString& value,
                     Editor editor)
        : wxLongStringProperty(label, name, value), editor_(std::move(editor)) {}

  protected:
    bool DisplayEditorDialog(wxPropertyGrid*, wxVariant& value) override {
        const std::optional<std::string> text = editor_();
        if (!text) return false;
        const wxString edited = wxString::FromUTF8(*text);
        if (edited == value.GetString()) return false;
        value = edited;
        return true;
    }

  private:
    Editor editor_;
};

// A colour row: the picker's last entry, which opens the full colour dialog, reads "Other".
wxPGProperty* NewColourRow(const wxString& label, const wxString& name, const wxColour& colour) {
    auto* p = new wxColourProperty(label, name, colour);
    wxPGChoices choices = p->GetChoices().Copy();
    if (choices.GetCount() > 0) {
        choices[choices.GetCount() - 1].SetText("Other");
        p->SetChoices(choices);
        p->SetValue(WXVARIANT(colour));
    }
    return p;
}

wxPGEditor* NoTyping() {
    static wxPGEditor* editor = wxPropertyGrid::RegisterEditorClass(new NoTypingEditor);
    return editor;
}

}  // namespace

StartOptions ParseStartOptions(const std::vector<std::string>& args) {
    StartOptions options;
    for (const std::string& arg : args) {
        if (arg == "/hide") {
            options.hide = true;
            continue;
        }
        if (options.projectPath.empty()) options.projectPath = arg;
    }
    return options;
}

MainWindow::MainWindow(StartOptions options)
    : wxFrame(nullptr, wxID_ANY, "Tessora"),
      gateways_(log_, project_.workingDirectory()),
      server_(log_, gateways_.Routes()),
      // After each generation the gateways follow the project: all closed while the server is
      // stopped; while it runs, a family whose gateways did not change keeps its connection.
      hooks_(
          server_,
          [this] {
              if (!server_.IsWebServerRunning()) gateways_.StopGateways(project_.document());
          },
          [this] { gateways_.SyncGateways(project_.document()); },
          [this](const std::string& text) { ShowError(text); }),
      generator_(project_, log_, hooks_, ProgramLibraryDirectory()),
      files_(project_, *this),
      start_(std::move(options)),
      dragTimer_(this, kTimerDrag),
      commandLineTimer_(this, kTimerCommandLine),
      retryTimer_(this, kTimerRetry) {
    panel_ = new wxPanel(this, wxID_ANY);
    panel_->SetBackgroundColour(kBackground);
    CreateMenus();
    CreateControls();
    log_.Attach(logPane_);
    LoadTypeIcons();

    // A failed working directory leaves saving and generating to report their own failures.
    project_.Start();
    // The new project is shown once; a project named on the command line follows at the first
    // tick of the command-line timer.
    RebuildProjectTree();
    FillLibraryTree();
    RecordLayout();
    // Who may reach the server, who signs in and HTTPS come from the profile; a wrong setting
    // keeps the server stopped.
    const designer::ServerSecurity security =
        designer::BuildServerSecurity(designer::LoadServerAccessSettings(profile_));
    if (security) {
        ApplyServerSecurity(security);
    } else {
        std::string message = LoadString(kMsgServerAccessWrong);
        message.replace(message.find("%s"), 2, profile_.path());
        message.replace(message.find("%s"), 2, security.error);
        log_.LogText(message, kLogRed);
        hooks_.SetAccessError(message);
    }
    std::string maxAgeError;
    server_.SetMaxAge(designer::LoadMaxAge(profile_, &maxAgeError));
    if (!maxAgeError.empty()) log_.LogText(maxAgeError, kLogRed);
    generator_.generateApplication();
    AfterGeneration();
    if (previewHost_.Start(preview_)) {
        RefreshPreview();
        // Each repaint sends the URL again; the page itself only changes with a generation,
        // which refreshes the preview on its own.
        panel_->Bind(wxEVT_PAINT, [this](wxPaintEvent& event) {
            event.Skip();
            if (!shutDown_) previewHost_.Show(PreviewUrl());
        });
    } else {
        ShowError(LoadString(kMsgCannotLaunchPreview));
    }

    Bind(wxEVT_SIZE, &MainWindow::OnSize, this);
    Bind(wxEVT_CLOSE_WINDOW, &MainWindow::OnClose, this);
    Bind(wxEVT_TIMER, &MainWindow::OnDragTimer, this, kTimerDrag);
    Bind(wxEVT_TIMER, &MainWindow::OnCommandLineTimer, this, kTimerCommandLine);
    Bind(wxEVT_TIMER, &MainWindow::OnRetryTimer, this, kTimerRetry);
    layoutEnabled_ = true;
    commandLineTimer_.Start(500);
    retryTimer_.Start(5000);
}

MainWindow::~MainWindow() {
    Shutdown();
}

void MainWindow::CreateControls() {
    auto caption = [this](int id, int textId, const wxRect& r) {
        auto* text = new wxStaticText(panel_, id, UiText(textId), r.GetPosition(), r.GetSize(),
                                      wxST_NO_AUTORESIZE);
        text->SetFont(text->GetFont().Bold());
        return text;
    };
    caption(wxID_ANY, kTextLibrary, DialogRect(panel_, 7, 7, 156, 8));
    caption(wxID_ANY, kTextProject, DialogRect(panel_, 172, 7, 156, 8));
    caption(wxID_ANY, kTextPreview, DialogRect(panel_, 405, 7, 100, 8));

    const long treeStyle =
        wxTR_HAS_BUTTONS | wxTR_LINES_AT_ROOT | wxTR_HIDE_ROOT | wxTR_SINGLE | wxBORDER_SUNKEN;
    wxRect r = DialogRect(panel_, 7, 21, 155, 225);
    libraryTree_ = new wxTreeCtrl(panel_, kIdLibraryTree, r.GetPosition(), r.GetSize(), treeStyle);
    r = DialogRect(panel_, 168, 21, 229, 225);
    projectTree_ = new wxTreeCtrl(panel_, kIdProjectTree, r.GetPosition(), r.GetSize(), treeStyle);

    r = DialogRect(panel_, 402, 23, 232, 289);
    preview_ = new wxPanel(panel_, kIdPreview, r.GetPosition(), r.GetSize(), wxBORDER_SUNKEN);
    preview_->SetBackgroundColour(*wxWHITE);

    r = DialogRect(panel_, 6, 252, 390, 120);
    // A label or value cut at the column's edge shows whole in a tooltip.
    grid_ = new wxPropertyGridManager(panel_, kIdGrid, r.GetPosition(), r.GetSize(),
                                      wxPG_BOLD_MODIFIED | wxPG_TOOLTIPS);
    grid_->AddPage();
    grid_->GetGrid()->SetSplitterPosition(200);

    logsCaption_ = caption(kIdLogsCaption, kTextLogs, DialogRect(panel_, 402, 318, 228, 8));
    r = DialogRect(panel_, 402, 330, 234, 42);
    logPane_ = new LogPane(panel_, kIdLogPane, r.GetPosition(), r.GetSize());

    SetClientSize(DialogRect(panel_, 0, 0, 642, 377).GetSize());
    SetMinClientSize(DialogRect(panel_, 0, 0, 642, 377).GetSize());
    // The header is added once the window is shown: adding it recreates the grid's inner
    // controls, which can only be sized once the grid is on the screen.
    CallAfter([this] {
        grid_->SetWindowStyleFlag(grid_->GetWindowStyleFlag() | wxPG_DESCRIPTION);
        grid_->ShowHeader(true);
        grid_->SetDescBoxHeight(panel_->ConvertDialogToPixels(wxSize(0, 24)).y);
        grid_->SetColumnTitle(0, UiText(kTextGridProperty));
        grid_->SetColumnTitle(1, UiText(kTextGridValue));
    });

    libraryTree_->Bind(wxEVT_TREE_BEGIN_DRAG, &MainWindow::OnLibraryBeginDrag, this);
    projectTree_->Bind(wxEVT_TREE_BEGIN_DRAG, &MainWindow::OnProjectBeginDrag, this);
    projectTree_->Bind(wxEVT_TREE_SEL_CHANGED, &MainWindow::OnProjectSelChanged, this);
    projectTree_->Bind(wxEVT_TREE_ITEM_RIGHT_CLICK, &MainWindow::OnProjectRightClick, this);
    projectTree_->Bind(wxEVT_TREE_KEY_DOWN, &MainWindow::OnProjectKeyDown, this);
    // The description box follows the selected row, whether the mouse or the keys chose it.
    grid_->Bind(wxEVT_PG_SELECTED, [this](wxPropertyGridEvent& event) {
        event.Skip();
        wxPGProperty* p = event.GetProperty();
        if (p && !p->IsCategory()) grid_->SetDescription(p->GetLabel(), p->GetHelpString());
        if (!p) grid_->SetDescription(wxString(), wxString());
    });
    grid_->Bind(wxEVT_PG_CHANGING, &MainWindow::OnGridChanging, this);
    grid_->Bind(wxEVT_PG_CHANGED, &MainWindow::OnGridChanged, this);
    grid_->Bind(wxEVT_PG_DOUBLE_CLICK, &MainWindow::OnGridDoubleClick, this);
}

void MainWindow::CreateMenus() {
    auto* file = new wxMenu;
    file->Append(kCmdFileNew, UiText(kMenuFileNew));
    file->Append(kCmdFileOpen, UiText(kMenuFileOpen));
    file->Append(kCmdFileSave, UiText(kMenuFileSave));
    file->Append(kCmdFileSaveAs, UiText(kMenuFileSaveAs));
    fileMenu_ = file;
    fileMenuFixedItems_ = file->GetMenuItemCount();
    UpdateRecentMenu();

    auto* edit = new wxMenu;
    edit->Append(kCmdUndo, UiText(kMenuEditUndo));
    edit->Append(kCmdRedo, UiText(kMenuEditRedo));
    editMenu_ = edit;
    UpdateEditMenu();

    auto* tool = new wxMenu;
    tool->Append(kCmdOpenBrowser, UiText(kMenuToolOpenBrowser));
    tool->Append(kCmdOpenHtmlEditor, UiText(kMenuToolOpenHtmlEditor));
    tool->Append(kCmdConnectBrowser, UiText(kMenuToolConnectBrowser));
    tool->Append(kCmdOpenResources, UiText(kMenuToolOpenResources));
    tool->Append(kCmdHide, UiText(kMenuToolHide));
    tool->Append(kCmdExpertMode, UiText(kMenuToolExpertMode));
    tool->Append(kCmdServerAccess, UiText(kTextServerAccess) + "...");
    tool->Enable(kCmdConnectBrowser, false);

    auto* build = new wxMenu;
    build->Append(kCmdBuildDirectory, UiText(kMenuBuildDirectory));
    build->Append(kCmdBuildArduino, UiText(kMenuBuildArduino));

    auto* help = new wxMenu;
    help->Append(kCmdHelp, UiText(kMenuHelpHelp));
    help->Append(kCmdManual, UiText(kMenuHelpManual));

    auto* bar = new wxMenuBar;
    bar->Append(file, UiText(kMenuFile));
    bar->Append(edit, UiText(kMenuEdit));
    bar->Append(tool, UiText(kMenuTool));
    bar->Append(build, UiText(kMenuBuild));
    bar->Append(help, UiText(kMenuHelp));
    SetMenuBar(bar);

    // The accelerators come with the item texts ("\tCtrl+S", "\tCtrl+Z"...); Ctrl+Shift+Z is a
    // second key for Redo.
    wxAcceleratorEntry keys[] = {{wxACCEL_CTRL | wxACCEL_SHIFT, 'Z', kCmdRedo}};
    SetAcceleratorTable(wxAcceleratorTable(std::size(keys), keys));
    Bind(wxEVT_MENU, &MainWindow::OnFileNew, this, kCmdFileNew);
    Bind(wxEVT_MENU, &MainWindow::OnFileOpen, this, kCmdFileOpen);
    Bind(wxEVT_MENU, &MainWindow::OnFileSave, this, kCmdFileSave);
    Bind(wxEVT_MENU, &MainWindow::OnFileSaveAs, this, kCmdFileSaveAs);
    Bind(wxEVT_MENU, &MainWindow::OnOpenWithBrowser, this, kCmdOpenBrowser);
    Bind(wxEVT_MENU, &MainWindow::OnConnectWithBrowser, this, kCmdConnectBrowser);
    Bind(wxEVT_MENU, [this](wxCommandEvent&) {
        shell::ServerAccessDialog dialog(this, profile_);
        if (dialog.ShowModal() != wxID_OK) return;
        ApplyServerSecurity(dialog.security());
        RunRefreshCycle();
    }, kCmdServerAccess);
    Bind(wxEVT_MENU, &MainWindow::OnOpenResources, this, kCmdOpenResources);
    Bind(wxEVT_MENU, &MainWindow::OnOpenWithHtmlEditor, this, kCmdOpenHtmlEditor);
    Bind(wxEVT_MENU, &MainWindow::OnHelp, this, kCmdHelp);
    Bind(wxEVT_MENU, &MainWindow::OnHelp, this, kCmdManual);
    Bind(wxEVT_MENU, &MainWindow::OnBuildDirectory, this, kCmdBuildDirectory);
    Bind(wxEVT_MENU, &MainWindow::OnBuildArduino, this, kCmdBuildArduino);
    Bind(wxEVT_MENU, &MainWindow::OnHide, this, kCmdHide);
    Bind(wxEVT_MENU, &MainWindow::OnToggleExpertMode, this, kCmdExpertMode);
    Bind(wxEVT_MENU, &MainWindow::OnContextCommand, this, kCmdDelete, kCmdDuplicate);
    Bind(wxEVT_MENU, &MainWindow::OnMoveCommand, this, kCmdMoveUp, kCmdMoveDown);
    Bind(wxEVT_MENU, &MainWindow::OnUndo, this, kCmdUndo);
    Bind(wxEVT_MENU, &MainWindow::OnRedo, this, kCmdRedo);
    Bind(wxEVT_MENU, &MainWindow::OnQuit, this, kCmdQuit);
    Bind(wxEVT_MENU, &MainWindow::OnRecentProject, this, kCmdRecentFirst, kCmdRecentLast);
}

void MainWindow::LoadTypeIcons() {
    const wxString dir = IconDirectory();
    auto load = [&](const char* name) {
        wxBitmap bitmap;
        if (!dir.empty()) bitmap.LoadFile(dir + "/" + name + ".png", wxBITMAP_TYPE_PNG);
        return bitmap;
    };
    wxBitmap fallback = load("fallback");
    if (!fallback.IsOk()) {
        wxImage blank(16, 16);
        blank.SetRGB(wxRect(0, 0, 16, 16), 160, 160, 160);
        fallback = wxBitmap(blank);
    }
    // Image index 0 is the fallback, then type t at 1 + t (designer::ImageIndexOfType).
    images_.Add(fallback);
    for (int type = 0; type + 1 < designer::kImageCount; ++type) {
        wxBitmap bitmap = load(TypeKey(type));
        images_.Add(bitmap.IsOk() ? bitmap : fallback);
    }
    libraryTree_->SetImageList(&images_);
    projectTree_->SetImageList(&images_);
    // The window's own icon is the project's.
    wxIcon icon;
    icon.CopyFromBitmap(images_.GetBitmap(designer::ImageIndexOfType(kTypeProject)));
    SetIcon(icon);
}

void MainWindow::FillLibraryTree() {
    const wxTreeItemId root = libraryTree_->AddRoot(wxString());
    std::vector<wxTreeItemId> ids;
    const auto items = designer::LibraryItems();
    for (size_t i = 0; i < items.size(); ++i) {
        const designer::LibraryItem& item = items[i];
        const wxTreeItemId parent = item.parent < 0 ? root : ids[item.parent];
        const int image = designer::ImageIndexOfType(item.typeId);
        ids.push_back(libraryTree_->AppendItem(parent, wxString::FromUTF8(item.text), image, image,
                                               new LibraryItemData(static_cast<int>(i))));
    }
    const int expanded = designer::LibraryExpandedAtStart();
    if (expanded >= 0 && expanded < static_cast<int>(ids.size()))
        libraryTree_->Expand(ids[expanded]);
}

void MainWindow::RecordLayout() {
    const wxSize client = panel_->GetClientSize();
    auto row = [&](wxWindow* w, int flags) {
        const wxRect r = w->GetRect();
        LayoutRow l{w, flags, 0, 0};
        if (flags & 1) l.marginX = client.x - r.width;
        if (flags & 2) l.marginY = client.y - r.height;
        if (flags & 4) l.marginX = client.x - r.x;
        if (flags & 8) l.marginY = client.y - r.y;
        layout_.push_back(l);
    };
    row(grid_, 2);
    row(preview_, 3);
    row(logPane_, 9);
    row(logsCaption_, 8);
}

void MainWindow::OnSize(wxSizeEvent& event) {
    event.Skip();
    if (!layoutEnabled_) return;
    // The panel fills the client area; lay out from its new size.
    const wxSize client = GetClientSize();
    panel_->SetSize(client);
    for (const LayoutRow& l : layout_) {
        wxRect r = l.window->GetRect();
        if (l.flags & 4) r.x = client.x - l.marginX;
        if (l.flags & 8) r.y = client.y - l.marginY;
        if (l.flags & 1) r.width = std::max(0, client.x - l.marginX);
        if (l.flags & 2) r.height = std::max(0, client.y - l.marginY);
        l.window->SetSize(r);
        l.window->Refresh();
    }
}

// ---- cycles

void MainWindow::RunRebuildCycle(pugi::xml_node select) {
    generator_.generateApplication();
    AfterGeneration();
    RebuildProjectTree(select);
    RefreshPreview();
}

void MainWindow::RunRefreshCycle(const std::optional<std::string>& pageToShow) {
    generator_.generateApplication(pageToShow);
    AfterGeneration();
    RefreshPreview();
}

void MainWindow::ApplyServerSecurity(const designer::ServerSecurity& security) {
    hooks_.SetAccess(security.access);
    const std::string& path = project_.currentPath();
    const size_t slash = path.find_last_of('/');
    hooks_.SetSecurity(security.tls, security.users, security.anonymousRead,
                       "Tessora " + (path.empty() ? std::string("panel") : path.substr(slash + 1)));
    if (!security.fingerprint.empty()) {
        std::string line = LoadString(kTextTlsFingerprint);
        line.replace(line.find("%s"), 2, security.fingerprint);
        log_.LogText(line, kLogGreen);
    }
}

void MainWindow::AfterGeneration() {
    SetTitle(wxString::FromUTF8(generator_.title()));
    if (!liveValuesHintGiven_) {
        if (const auto hint = designer::LiveValuesHint(generator_.context().linkReads,
                                                       generator_.settings().on)) {
            log_.LogText(*hint, kLogBlue);
            liveValuesHintGiven_ = true;
        }
    }
    // The server switch row follows what the pass left running.
    wxPropertyGrid* pg = grid_->GetGrid();
    for (size_t i = 0; i < gridRows_.size(); ++i) {
        designer::GridRow& row = gridRows_[i];
        const bool before = row.value.boolean;
        designer::ShowServerState(project_.document(), row, server_.IsWebServerRunning());
        if (row.value.boolean == before) continue;
        for (wxPropertyGridIterator it = pg->GetIterator(); !it.AtEnd(); ++it) {
            if (!(*it)->IsCategory() && RowIndex((*it)->GetClientData()) == i)
                (*it)->SetValue(BooleanText(row.value.boolean));
        }
    }
}

std::string MainWindow::PreviewUrl() const {
    // The preview neither signs in nor takes the machine's own certificate: with HTTPS it shows
    // the generated file.
    return designer::PreviewUrl(server_.IsWebServerRunning() && !server_.UsesTls(), server_.ListeningPort(),
                                project_.workingDirectory().outputDirectory());
}

void MainWindow::RefreshPreview() {
    if (shutDown_) return;
    const std::string url = PreviewUrl();
    if (designer::PreviewNeedsReload(previewHost_.shownUrl(), url, generator_.documentChanged(),
                                     previewHost_.failed()))
        previewHost_.Refresh(url);
}

// ---- trees and grid

void MainWindow::RebuildProjectTree(pugi::xml_node select) {
    const designer::ProjectTree tree = designer::BuildProjectTree(project_.document(), select);
    rebuilding_ = true;
    projectTree_->Freeze();
    projectTree_->DeleteAllItems();
    grid_->GetGrid()->Clear();
    const wxTreeItemId root = projectTree_->AddRoot(wxString());
    std::vector<wxTreeItemId> ids;
    ids.reserve(tree.items.size());
    for (const designer::ProjectTreeItem& item : tree.items) {
        const wxTreeItemId parent = item.parent < 0 ? root : ids[item.parent];
        ids.push_back(projectTree_->AppendItem(parent, wxString::FromUTF8(item.text), item.image,
                                               item.image,
                                               new ObjectItemData(item.serial, item.typeId)));
    }
    projectTree_->ExpandAll();
    projectTree_->Thaw();
    rebuilding_ = false;
    if (tree.selected >= 0) projectTree_->SelectItem(ids[tree.selected]);
}

int MainWindow::SerialOfItem(const wxTreeItemId& item) const {
    if (!item.IsOk()) return -1;
    auto* data = dynamic_cast<ObjectItemData*>(projectTree_->GetItemData(item));
    return data ? data->serial : -1;
}

void MainWindow::OnProjectSelChanged(wxTreeEvent& event) {
    if (rebuilding_ || shutDown_) return;
    const wxTreeItemId item = event.GetItem();
    if (!item.IsOk()) return;
    BuildPropertyGrid(item);
    const int serial = SerialOfItem(item);
    if (serial < 0) return;
    const auto page = designer::PageToShowAfterSelect(project_.document(), serial,
                                                      generator_.context().shownPageName);
    if (page) RunRefreshCycle(*page);
}

void MainWindow::BuildPropertyGrid(const wxTreeItemId& item) {
    wxPropertyGrid* pg = grid_->GetGrid();
    pg->Clear();
    gridRows_.clear();
    const int serial = SerialOfItem(item);
    if (serial < 0) return;
    auto built = designer::BuildPropertyGrid(project_.document(), serial, expertMode_);
    if (!built) return;
    gridRows_ = built->rows;
    for (designer::GridRow& row : gridRows_)
        designer::ShowServerState(project_.document(), row, server_.IsWebServerRunning());
    pg->Append(new wxPropertyCategory(wxString::FromUTF8(built->caption)));
    for (size_t i = 0; i < gridRows_.size(); ++i) {
        const designer::GridRow& row = gridRows_[i];
        const wxString label = wxString::FromUTF8(row.label);
        const wxString name = wxString::Format("row%zu", i);
        const designer::RowValue& v = row.value;
        wxPGProperty* p = nullptr;
        switch (row.kind) {
            case PropertyKind::UInt16:
            case PropertyKind::UInt32:
            case PropertyKind::Real:
                // Typed as text: the designer checks it against the property's range when it is
                // entered (OnGridChanging), with a message of its own.
                p = new wxStringProperty(label, name,
                                         wxString::FromUTF8(designer::RowDisplayText(row.kind, v)));
                break;
            case PropertyKind::Colour:
                p = NewColourRow(
                    label, name,
                    wxColour(v.number & 0xFF, (v.number >> 8) & 0xFF, (v.number >> 16) & 0xFF));
                break;
            case PropertyKind::Boolean:
                // Shown as text: a double click switches it, as for the choices below.
                p = new wxStringProperty(label, name, BooleanText(v.boolean));
                p->SetEditor(NoTyping());
                break;
            case PropertyKind::Choice:
                p = new wxStringProperty(label, name, wxString::FromUTF8(v.text));
                p->SetEditor(NoTyping());
                break;
            case PropertyKind::Template:
            case PropertyKind::Script:
                p = new LongTextProperty(label, name, wxString::FromUTF8(v.text),
                                         [this, ref = row.ref] { return EditLongText(ref); });
                break;
            case PropertyKind::Text:
            default:
                p = new wxStringProperty(label, name, wxString::FromUTF8(v.text));
                break;
        }
        if (!row.description.empty()) p->SetHelpString(wxString::FromUTF8(row.description));
        p->SetClientData(RowTag(i));
        pg->Append(p);
    }
    pg->SetSplitterPosition(200);
    pg->Refresh();
}

void MainWindow::OnGridChanged(wxPropertyGridEvent& event) {
    wxPGProperty* p = event.GetProperty();
    if (!p || p->IsCategory()) return;
    const size_t index = RowIndex(p->GetClientData());
    if (index >= gridRows_.size()) return;
    designer::GridRow& row = gridRows_[index];
    designer::RowValue value = row.value;
    const wxVariant variant = p->GetValue();
    switch (row.kind) {
        case PropertyKind::UInt16:
        case PropertyKind::UInt32:
        case PropertyKind::Real: {
            // Checked already when it was entered; shown as it is stored ("+80" shows "80").
            const designer::NumericEntry entry =
                designer::CheckNumericEntry(row.ref, row.kind, p->GetValueAsString().utf8_string());
            if (!entry.accepted) return;
            value = entry.value;
            const wxString shown = wxString::FromUTF8(designer::RowDisplayText(row.kind, value));
            if (shown != p->GetValueAsString()) p->SetValueFromString(shown);
            break;
        }
        case PropertyKind::Colour: {
            // The row holds a plain colour; the picker's own type is read too.
            wxColour c;
            if (variant.GetType() == "wxColourPropertyValue") {
                wxColourPropertyValue cpv;
                cpv << variant;
                c = cpv.m_colour;
            } else {
                c << variant;
            }
            value.number = c.Red() | (c.Green() << 8) | (static_cast<uint32_t>(c.Blue()) << 16);
            break;
        }
        case PropertyKind::Template:
        case PropertyKind::Script:
            // The raw text: line feeds stay line feeds.
            value.text = variant.GetString().utf8_string();
            break;
        default:
            value.text = p->GetValueAsString().utf8_string();
            break;
    }
    row.value = value;
    if (designer::IsServerSettingRow(row.ref)) hooks_.RetryServerStart();
    designer::DocumentSnapshot before = designer::TakeSnapshot(project_.document());
    const designer::EditOutcome outcome =
        designer::ApplyPropertyEdit(project_.document(), row.ref, value);
    RecordStep(std::move(before));
    if (outcome.refresh) RunRefreshCycle();
}

void MainWindow::OnGridChanging(wxPropertyGridEvent& event) {
    wxPGProperty* p = event.GetProperty();
    if (!p || p->IsCategory()) return;
    const size_t index = RowIndex(p->GetClientData());
    if (index >= gridRows_.size()) return;
    const designer::GridRow& row = gridRows_[index];
    if (row.kind != PropertyKind::UInt16 && row.kind != PropertyKind::UInt32 &&
        row.kind != PropertyKind::Real)
        return;
    const designer::NumericEntry entry =
        designer::CheckNumericEntry(row.ref, row.kind, event.GetValue().GetString().utf8_string());
    if (entry.accepted) return;
    // Refused: the row goes back to its old value, and the message says the range.
    event.Veto();
    event.SetValidationFailureBehavior(wxPG_VFB_BEEP);
    CallAfter([this, text = entry.error] {
        if (!shutDown_) ShowError(text);
    });
}

void MainWindow::OnGridDoubleClick(wxPropertyGridEvent& event) {
    wxPGProperty* p = event.GetProperty();
    if (!p || p->IsCategory()) return;
    const size_t index = RowIndex(p->GetClientData());
    if (index >= gridRows_.size()) return;
    designer::GridRow& row = gridRows_[index];
    const auto next = designer::NextValueOnDoubleClick(row);
    if (!next) return;
    row.value = *next;
    p->SetValue(row.kind == PropertyKind::Boolean ? BooleanText(next->boolean)
                                                  : wxString::FromUTF8(next->text));
    p->SetModifiedStatus(true);
    grid_->GetGrid()->RefreshProperty(p);
    if (designer::IsServerSettingRow(row.ref)) hooks_.RetryServerStart();
    designer::DocumentSnapshot before = designer::TakeSnapshot(project_.document());
    const designer::EditOutcome outcome =
        designer::ApplyPropertyEdit(project_.document(), row.ref, *next);
    RecordStep(std::move(before));
    if (outcome.refresh) RunRefreshCycle();
}

std::optional<std::string> MainWindow::EditLongText(const designer::RowRef& ref) {
    const pugi::xml_node element = project_.document().FindObjectBySerial(ref.serial);
    const char* key = PropertyKeyAt(ref.typeId, ref.propertyIndex);
    if (!element || !key) return std::nullopt;
    editcode dialog(this, element, key);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return dialog.text();
}

std::unique_ptr<wxMenu> MainWindow::BuildContextMenu(int serial) {
    if (serial < 0 || !designer::HasContextMenu(project_.document(), serial)) return nullptr;
    contextSerial_ = serial;
    auto menu = std::make_unique<wxMenu>();
    menu->Append(kCmdDelete, UiText(kMenuDelete));
    menu->Append(kCmdDuplicate, UiText(kMenuDuplicate));
    menu->AppendSeparator();
    menu->Append(kCmdMoveUp, UiText(kMenuMoveUp));
    menu->Append(kCmdMoveDown, UiText(kMenuMoveDown));
    menu->Enable(kCmdMoveUp, designer::CanMoveAmongSiblings(project_.document(), serial,
                                                            designer::MoveDirection::Up));
    menu->Enable(kCmdMoveDown, designer::CanMoveAmongSiblings(project_.document(), serial,
                                                              designer::MoveDirection::Down));
    return menu;
}

void MainWindow::OnProjectRightClick(wxTreeEvent& event) {
    // The item right-clicked becomes the selected one, so the grid shows what the menu acts on.
    if (event.GetItem().IsOk() && projectTree_->GetSelection() != event.GetItem())
        projectTree_->SelectItem(event.GetItem());
    if (std::unique_ptr<wxMenu> menu = BuildContextMenu(SerialOfItem(event.GetItem())))
        PopupMenu(menu.get());
}

void MainWindow::OnContextCommand(wxCommandEvent& event) {
    const auto command = event.GetId() == kCmdDelete ? designer::ContextCommand::Delete
                                                     : designer::ContextCommand::Duplicate;
    const std::optional<int> serial = contextSerial_;
    contextSerial_.reset();
    if (command == designer::ContextCommand::Delete && !ConfirmDelete(serial)) return;
    // After Delete the rebuilt tree selects nothing; after Duplicate it selects the copy.
    RunStructuralChange(
        [&] { return designer::RunContextCommand(project_.document(), command, serial); });
}

bool MainWindow::ConfirmDelete(std::optional<int> serial) {
    const std::optional<std::string> question =
        designer::DeleteQuestion(project_.document(), serial);
    if (!question) return true;
    return wxMessageBox(wxString::FromUTF8(*question), GetTitle(),
                        wxYES_NO | wxNO_DEFAULT | wxICON_WARNING, this) == wxYES;
}

void MainWindow::OnMoveCommand(wxCommandEvent& event) {
    const auto direction = event.GetId() == kCmdMoveUp ? designer::MoveDirection::Up
                                                       : designer::MoveDirection::Down;
    const std::optional<int> serial = contextSerial_;
    contextSerial_.reset();
    if (!serial) return;
    RunStructuralChange(
        [&] { return designer::MoveAmongSiblings(project_.document(), *serial, direction); });
}

void MainWindow::OnProjectKeyDown(wxTreeEvent& event) {
    const wxKeyEvent& key = event.GetKeyEvent();
    const int code = key.GetKeyCode();
    const int serial = SerialOfItem(projectTree_->GetSelection());
    if ((code == WXK_DELETE || code == WXK_NUMPAD_DELETE) && key.GetModifiers() == wxMOD_NONE) {
        if (drag_ || serial < 0 || !ConfirmDelete(serial)) return;
        RunStructuralChange([&] { return designer::DeleteSelected(project_.document(), serial); });
        return;
    }
    if ((code == WXK_UP || code == WXK_DOWN) && key.GetModifiers() == wxMOD_ALT) {
        if (drag_ || serial < 0) return;
        const auto direction =
            code == WXK_UP ? designer::MoveDirection::Up : designer::MoveDirection::Down;
        RunStructuralChange(
            [&] { return designer::MoveAmongSiblings(project_.document(), serial, direction); });
        return;
    }
    event.Skip();
}

// ---- undo and redo

void MainWindow::RunStructuralChange(const std::function<designer::StructuralChange()>& change) {
    designer::DocumentSnapshot before = designer::TakeSnapshot(project_.document());
    // The generation pass that follows closes the families whose gateways the change removed.
    const designer::StructuralChange done = change();
    if (!done.rebuild) return;
    RecordStep(std::move(before));
    RunRebuildCycle(done.select);
}

void MainWindow::RecordStep(designer::DocumentSnapshot before) {
    if (history_.Record(std::move(before), project_.document())) UpdateEditMenu();
}

void MainWindow::StepHistory(bool undo) {
    if (drag_ || !(undo ? history_.CanUndo() : history_.CanRedo())) return;
    ProjectDocument& doc = project_.document();
    // The selection stays on the same place of the tree when the object is still there.
    const int selected = SerialOfItem(projectTree_->GetSelection());
    if (undo)
        history_.Undo(doc);
    else
        history_.Redo(doc);
    UpdateEditMenu();
    RunRebuildCycle(selected >= 0 ? doc.FindObjectBySerial(selected) : pugi::xml_node());
}

void MainWindow::UpdateEditMenu() {
    if (!editMenu_) return;
    editMenu_->Enable(kCmdUndo, history_.CanUndo());
    editMenu_->Enable(kCmdRedo, history_.CanRedo());
}

void MainWindow::OnUndo(wxCommandEvent&) {
    StepHistory(true);
}

void MainWindow::OnRedo(wxCommandEvent&) {
    StepHistory(false);
}

// ---- drag and drop

void MainWindow::OnLibraryBeginDrag(wxTreeEvent& event) {
    if (drag_) return;
    auto* data = dynamic_cast<LibraryItemData*>(libraryTree_->GetItemData(event.GetItem()));
    if (!data || !designer::CanDragLibraryItem(data->index)) return;
    wxTreeItemId item = event.GetItem();
    dragImage_ = std::make_unique<wxDragImage>(*libraryTree_, item);
    libraryTree_->UnselectAll();
    StartDrag(designer::DragSource::Library(designer::LibraryItems()[data->index].typeId));
}

void MainWindow::OnProjectBeginDrag(wxTreeEvent& event) {
    if (drag_) return;
    const int serial = SerialOfItem(event.GetItem());
    if (serial < 0) return;
    wxTreeItemId item = event.GetItem();
    dragImage_ = std::make_unique<wxDragImage>(*projectTree_, item);
    StartDrag(designer::DragSource::Project(project_.document(), serial));
}

void MainWindow::StartDrag(const designer::DragSource& source) {
    drag_ = std::make_unique<designer::DragSession>(project_.document(), source);
    // The dragged item's icon and text follow the pointer, 20 pixels right of and below it.
    if (dragImage_ && dragImage_->BeginDrag(wxPoint(-20, -20), this, true)) {
        dragImage_->Move(ScreenToClient(wxGetMousePosition()));
        dragImage_->Show();
    } else {
        dragImage_.reset();
    }
    // The pointer is polled rather than captured: the drag crosses from one tree to the other,
    // and the release is noticed wherever it happens.
    dragTimer_.Start(10);
    TrackDrag(wxGetMousePosition());
}

void MainWindow::OnDragTimer(wxTimerEvent&) {
    if (!drag_) {
        dragTimer_.Stop();
        return;
    }
    const wxMouseState mouse = wxGetMouseState();
    if (mouse.LeftIsDown()) {
        TrackDrag(mouse.GetPosition());
        return;
    }
    const designer::DragSource source = drag_->source();
    const std::optional<int> target = drag_->target();
    EndDrag();
    RunStructuralChange([&] { return designer::Drop(project_.document(), source, target); });
}

void MainWindow::TrackDrag(const wxPoint& screen) {
    if (dragImage_) dragImage_->Move(ScreenToClient(screen));
    // Over the grid, the preview or the log the last target stays, so that a release there
    // still drops onto it.
    for (wxWindow* keep :
         {static_cast<wxWindow*>(grid_), preview_, static_cast<wxWindow*>(logPane_)}) {
        if (keep->GetScreenRect().Contains(screen)) return;
    }
    std::optional<int> serial;
    const wxPoint local = projectTree_->ScreenToClient(screen);
    if (wxRect(projectTree_->GetClientSize()).Contains(local)) {
        int flags = 0;
        const wxTreeItemId item = projectTree_->HitTest(local, flags);
        if (item.IsOk() && (flags & wxTREE_HITTEST_ONITEM)) serial = SerialOfItem(item);
    }
    const std::optional<int> before = drag_->target();
    if (drag_->Hover(serial) && before != drag_->target()) {
        // Selecting the target shows it in the grid, as any selection does.
        projectTree_->SelectItem(projectTree_->HitTest(local));
    }
    ShowNoDropCursor(!drag_->target());
}

void MainWindow::ShowNoDropCursor(bool noDrop) {
    if (noDrop == noDropCursor_) return;
    noDropCursor_ = noDrop;
    const wxCursor cursor = noDrop ? wxCursor(wxCURSOR_NO_ENTRY) : wxNullCursor;
    for (wxWindow* w : {static_cast<wxWindow*>(libraryTree_), static_cast<wxWindow*>(projectTree_),
                        static_cast<wxWindow*>(panel_)})
        w->SetCursor(cursor);
}

void MainWindow::EndDrag() {
    if (dragImage_) {
        dragImage_->Hide();
        dragImage_->EndDrag();
        dragImage_.reset();
    }
    drag_.reset();
    dragTimer_.Stop();
    ShowNoDropCursor(false);
}

// ---- file and mode commands

designer::SaveAnswer MainWindow::AskSaveChanges() {
    const int answer = wxMessageBox(UiText(kMsgProjectChanged), GetTitle(),
                                    wxYES_NO | wxCANCEL | wxICON_QUESTION, this);
    if (answer == wxYES) return designer::SaveAnswer::Yes;
    if (answer == wxNO) return designer::SaveAnswer::No;
    return designer::SaveAnswer::Cancel;
}

std::optional<std::string> MainWindow::AskProjectPath(const designer::FileDialogOptions& options) {
    wxString filter;
    for (const designer::FileFilter& f : options.filters) {
        wxString label = wxString::FromUTF8(f.label);
        // "Tessora files (*.tsr)": the pattern is shown unless the label already holds it.
        if (!label.Contains("(")) label += " (" + wxString::FromUTF8(f.pattern) + ")";
        if (!filter.empty()) filter += "|";
        filter += label + "|" + wxString::FromUTF8(f.pattern);
    }
    const bool open = options.mode == designer::FileDialogMode::Open;
    long style = open ? wxFD_OPEN : wxFD_SAVE;
    if (options.fileMustExist) style |= wxFD_FILE_MUST_EXIST;
    if (options.overwritePrompt && !open) style |= wxFD_OVERWRITE_PROMPT;
    wxFileDialog dialog(this, wxString::FromUTF8(options.title), wxString(), wxString(), filter,
                        style);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    const std::string path = dialog.GetPath().utf8_string();
    // The default extension, when a name without one was typed under the project filter.
    if (!open && !options.defaultExtension.empty() && dialog.GetFilterIndex() == 0)
        return designer::WithDefaultExtension(path);
    return path;
}

bool MainWindow::AskTrust(const std::string& question) {
    const int answer = wxMessageBox(wxString::FromUTF8(question), UiText(kTextTrustCaption),
                                    wxYES_NO | wxNO_DEFAULT | wxICON_WARNING, this);
    return answer == wxYES;
}

void MainWindow::SetProjectTrusted(bool trusted) { gateways_.SetTrusted(trusted); }

void MainWindow::ProjectReplaced() {
    history_.Clear();
    UpdateEditMenu();
}

void MainWindow::ProjectSaved() {
    history_.MarkSaved(project_.document());
}

void MainWindow::LogWarning(const std::string& text) {
    log_.LogText(text, kLogRed);
}

void MainWindow::UpdateRecentMenu() {
    if (!fileMenu_) return;
    while (fileMenu_->GetMenuItemCount() > fileMenuFixedItems_)
        fileMenu_->Destroy(fileMenu_->FindItemByPosition(fileMenuFixedItems_));
    recentPaths_ = files_.RecentProjects();
    if (!recentPaths_.empty()) {
        fileMenu_->AppendSeparator();
        for (size_t i = 0; i < recentPaths_.size(); ++i) {
            // "&1 /home/...": the digit is the item's mnemonic; a '&' of the path is doubled to
            // stay a '&', and a tab would start an accelerator.
            wxString path = wxString::FromUTF8(recentPaths_[i]);
            path.Replace("&", "&&");
            path.Replace("\t", " ");
            fileMenu_->Append(kCmdRecentFirst + static_cast<int>(i),
                              wxString::Format("&%zu %s", i + 1, path));
        }
    }
    fileMenu_->AppendSeparator();
    fileMenu_->Append(kCmdQuit, UiText(kMenuFileQuit));
}

void MainWindow::OnRecentProject(wxCommandEvent& event) {
    const size_t index = static_cast<size_t>(event.GetId() - kCmdRecentFirst);
    if (index >= recentPaths_.size()) return;
    const std::string path = recentPaths_[index];
    RunFileCommand(files_.OpenRecent(path));
}

void MainWindow::OnQuit(wxCommandEvent&) {
    // As closing the window: the prompt for unsaved changes may keep it open.
    Close();
}

void MainWindow::StopServing() {
    if (server_.IsWebServerRunning()) server_.StopWebServer();
    gateways_.StopGateways(project_.document());
}

void MainWindow::RunFileCommand(designer::CommandResult result) {
    UpdateRecentMenu();
    if (result == designer::CommandResult::Rebuild) RunRebuildCycle();
}

void MainWindow::OnFileNew(wxCommandEvent&) {
    RunFileCommand(files_.New());
}

void MainWindow::OnFileOpen(wxCommandEvent&) {
    RunFileCommand(files_.Open());
}

void MainWindow::OnFileSave(wxCommandEvent&) {
    RunFileCommand(files_.Save());
}

void MainWindow::OnFileSaveAs(wxCommandEvent&) {
    RunFileCommand(files_.SaveAs());
}

void MainWindow::OnOpenWithBrowser(wxCommandEvent&) {
    // The generated file, also while the server runs.
    LaunchDetached(
        {"xdg-open", designer::GeneratedFileUrl(project_.workingDirectory().outputDirectory())});
}

void MainWindow::OnOpenWithHtmlEditor(wxCommandEvent&) {
    LaunchDetached(designer::HtmlEditorCommand(ProgramDirectory(),
                                               project_.workingDirectory().outputDirectory(),
                                               FindProgramOnPath("scite")));
}

void MainWindow::OnConnectWithBrowser(wxCommandEvent&) {
    if (!server_.IsWebServerRunning()) return;
    LaunchDetached({"xdg-open", designer::LocalServerUrl(server_.ListeningPort(), server_.UsesTls())});
}

void MainWindow::OnOpenResources(wxCommandEvent&) {
    LaunchDetached({"xdg-open", project_.workingDirectory().path()});
    project_.document().SetProjectChanged(true);
    RunRebuildCycle();
}

void MainWindow::OnHelp(wxCommandEvent& event) {
    const auto document = event.GetId() == kCmdHelp ? designer::HelpDocument::Help
                                                    : designer::HelpDocument::Manual;
    LaunchDetached({"xdg-open",
                    designer::HelpFilePath(ProgramDirectory(),
                                           SystemLanguage() == Language::French, document)});
}

void MainWindow::OnBuildDirectory(wxCommandEvent&) {
    generate dialog(this, profile_, project_.workingDirectory().outputDirectory());
    dialog.ShowModal();
}

namespace {

// Build to Arduino's questions and progress, as dialogs of the main window.
class ArduinoDialogs : public designer::ArduinoHost {
  public:
    ArduinoDialogs(wxWindow* parent, LogSink& log) : parent_(parent), log_(log) {}

    bool AskContinue(const std::string& text) override {
        return wxMessageBox(wxString::FromUTF8(text), Caption(),
                            wxYES_NO | wxICON_WARNING, parent_) == wxYES;
    }
    void ShowError(const std::string& text) override {
        wxMessageBox(wxString::FromUTF8(text), Caption(), wxOK | wxICON_ERROR, parent_);
    }
    void ShowInfo(const std::string& text) override {
        wxMessageBox(wxString::FromUTF8(text), Caption(), wxOK | wxICON_INFORMATION, parent_);
    }
    bool AskYesNo(const std::string& text) override {
        return wxMessageBox(wxString::FromUTF8(text), Caption(), wxYES_NO | wxICON_QUESTION,
                            parent_) == wxYES;
    }
    std::optional<std::string> AskDirectory(const std::string& prompt,
                                            const std::string& initial) override {
        wxDirDialog dialog(parent_, wxString::FromUTF8(prompt), wxString::FromUTF8(initial),
                           wxDD_DEFAULT_STYLE);
        if (dialog.ShowModal() != wxID_OK) return std::nullopt;
        return dialog.GetPath().utf8_string();
    }
    std::optional<std::string> AskText(const std::string& prompt,
                                       const std::string& initial) override {
        wxTextEntryDialog dialog(parent_, wxString::FromUTF8(prompt), Caption(),
                                 wxString::FromUTF8(initial));
        if (dialog.ShowModal() != wxID_OK) return std::nullopt;
        return dialog.GetValue().Strip(wxString::both).utf8_string();
    }
    void RunWithProgress(const std::string& text, const std::function<void()>& work) override {
        wxProgressDialog progress(Caption(), wxString::FromUTF8(text), 100, parent_,
                                  wxPD_APP_MODAL | wxPD_SMOOTH);
        std::atomic<bool> done{false};
        std::thread worker([&] {
            work();
            done = true;
        });
        while (!done) {
            progress.Pulse();
            wxMilliSleep(50);
        }
        worker.join();
    }
    void LogLine(std::string_view line) override { log_.LogText(line, kLogBlue); }

  private:
    static wxString Caption() { return UiText(kTextArduinoCaption); }
    wxWindow* parent_;
    LogSink& log_;
};

}  // namespace

void MainWindow::OnBuildArduino(wxCommandEvent&) {
    ArduinoDialogs dialogs(this, log_);
    designer::BuildToArduino(dialogs, profile_, project_.workingDirectory().path(),
                             project_.workingDirectory().outputDirectory(),
                             FindProgramOnPath("arduino-cli"));
}

void MainWindow::OnHide(wxCommandEvent&) {
    Hide();
}

void MainWindow::OnToggleExpertMode(wxCommandEvent&) {
    expertMode_ = !expertMode_;
    const wxTreeItemId selected = projectTree_->GetSelection();
    projectTree_->UnselectAll();
    if (selected.IsOk()) projectTree_->SelectItem(selected);
}

void MainWindow::LoadProject(const std::string& path) {
    const bool loaded = files_.LoadProjectFile(path);
    UpdateRecentMenu();
    if (loaded) RunRebuildCycle();
}

void MainWindow::ShowError(const std::string& text) {
    wxMessageBox(wxString::FromUTF8(text), GetTitle(), wxOK | wxICON_ERROR, this);
}

// ---- timers and closing

void MainWindow::OnCommandLineTimer(wxTimerEvent&) {
    if (start_.hide) {
        start_.hide = false;
        Hide();
    }
    if (!start_.projectPath.empty()) {
        const std::string path = std::move(start_.projectPath);
        start_.projectPath.clear();
        LoadProject(path);
    }
    const bool asked = showRequests_.TakeRequest();
    if (!IsShown() && (asked || (wxGetKeyState(WXK_F6) && wxGetKeyState(WXK_ALT) &&
                                 wxGetKeyState(WXK_CONTROL)))) {
        Show();
        Raise();
    }
    GetMenuBar()->Enable(kCmdConnectBrowser, server_.IsWebServerRunning());
}

void MainWindow::OnRetryTimer(wxTimerEvent&) {
    if (server_.IsWebServerRunning()) gateways_.RetryGateways(project_.document());
    // A preview that could not reach the server tries again.
    if (previewHost_.failed()) RefreshPreview();
}

void MainWindow::OnClose(wxCloseEvent& event) {
    if (event.CanVeto() && !files_.MayClose()) {
        event.Veto();
        return;
    }
    Shutdown();
    Destroy();
    // The window is deleted, and the program ends, at the next idle time; make sure there is one
    // even when the close came from a signal rather than from an event of the window.
    wxWakeUpIdle();
}

void MainWindow::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    dragTimer_.Stop();
    commandLineTimer_.Stop();
    retryTimer_.Stop();
    EndDrag();
    if (server_.IsWebServerRunning()) server_.StopWebServer();
    gateways_.StopGateways(project_.document());
    previewHost_.Stop();
    log_.Attach(nullptr);
    project_.workingDirectory().DeleteWorkingDirectory();
}

}  // namespace tsr::shell
