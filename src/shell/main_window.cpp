// The main window's construction: its controls and their layout, the menus and what each entry
// runs, the two cycles that follow every change (generation, tree, preview), the timers and
// closing. The trees, the grid, undo, the file commands, serving and the tools have files of
// their own (main_window_*.cpp).
#include "shell/main_window.h"

#include <wx/accel.h>
#include <wx/app.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/propgrid/manager.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include <algorithm>

#include "base/strings.h"
#include "designer/library_tree.h"
#include "designer/tools.h"
#include "platform/paths.h"
#include "shell/log_pane.h"
#include "shell/main_window_parts.h"
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

// The background of the window around the controls.
const wxColour kBackground(0, 200, 255);

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
    std::string publishError;
    const std::string publishUrl = designer::LoadPublishUrl(profile_, &publishError);
    if (!publishError.empty()) log_.LogText(publishError, kLogRed);
    if (!publishUrl.empty() && (publisher_ = SitePublisher::Make(publishUrl, log_, nullptr))) {
        publisher_->Start(std::chrono::milliseconds(300));  // the window waits no longer
        server_.SetRoutes(publisher_->Wrap(gateways_.Routes()));
    }
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
    Bind(wxEVT_MENU, &MainWindow::OnServerAccess, this, kCmdServerAccess);
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
