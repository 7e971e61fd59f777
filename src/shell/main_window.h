// The designer's main window: library tree, project tree, property grid, preview area and log
// pane, the menus, the timers, and the two cycles that turn every change into a running
// application. It owns the run's project, gateways, web server and generator.
#pragma once

#include "designer/server_access.h"

#include <wx/frame.h>
// After the frame: the drag image header needs the toolkit's settings already defined.
#include <wx/datetime.h>
#include <wx/dragimag.h>
#include <wx/imaglist.h>
#include <wx/timer.h>
#include <wx/treectrl.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/log_fold.h"
#include "designer/drop_rule.h"
#include "designer/file_commands.h"
#include "designer/property_grid.h"
#include "designer/undo_history.h"
#include "gateways/lifecycle.h"
#include "gateways/mqtt/site_publisher.h"
#include "generator/generator.h"
#include "model/project_file.h"
#include "platform/profile.h"
#include "platform/show_requests.h"
#include "shell/preview.h"
#include "webserver/server.h"
#include "webserver/serving_hooks.h"

class wxMenu;
class wxPanel;
class wxPropertyGridManager;
class wxPropertyGridEvent;
class wxStaticText;

namespace tsr::shell {

class LogPane;

// Hands log lines to the log pane once it exists; lines logged before (or after shut-down)
// are dropped. A gateway's repeated state line is folded into the first line of its state.
class PaneLog : public LogSink {
  public:
    void Attach(LogSink* pane) { forward_.pane.store(pane); }
    void LogText(std::string_view text, unsigned colour) override {
        forward_.LogText(text, colour);
    }
    void LogState(std::string_view source, std::string_view text, unsigned colour) override {
        folding_.LogState(source, text, colour);
    }

  private:
    // The pane itself, when attached.
    struct Forward : LogSink {
        void LogText(std::string_view text, unsigned colour) override {
            if (LogSink* p = pane.load()) p->LogText(text, colour);
        }
        uint64_t LogRewritable(std::string_view text, unsigned colour) override {
            LogSink* p = pane.load();
            return p ? p->LogRewritable(text, colour) : 0;
        }
        void RewriteLine(uint64_t id, std::string_view text, unsigned colour) override {
            if (LogSink* p = pane.load()) p->RewriteLine(id, text, colour);
        }
        std::atomic<LogSink*> pane{nullptr};
    };
    Forward forward_;
    // The pane writes its time stamps so; a repeat's time is written the same way.
    FoldingLogSink folding_{forward_,
                            [] { return std::string(wxDateTime::Now().FormatTime().utf8_string()); }};
};

// What the command line asks for: a project to open and whether to start hidden.
struct StartOptions {
    std::string projectPath;
    bool hide = false;
};

// Reads the program's arguments: "/hide" anywhere, and the first other argument as the project.
StartOptions ParseStartOptions(const std::vector<std::string>& args);

class MainWindow : public wxFrame, private designer::FileCommandHost {
    // The designer's tests drive the window through its controls.
    friend class MainWindowTestAccess;

  public:
    explicit MainWindow(StartOptions options);
    ~MainWindow() override;

    // After a generation: sends the preview the URL to show, which it loads or reloads without
    // any cache.
    void RefreshPreview();
    // What the preview shows: the local server while it runs, else the generated file.
    std::string PreviewUrl() const;
    // Hands the access rules, the users and HTTPS to the serving hooks (applied at the next
    // generation) and logs the certificate's fingerprint.
    void ApplyServerSecurity(const designer::ServerSecurity& security);

    // Generation pass, project-tree rebuild, preview refresh: after every structural change.
    // The rebuilt tree selects `select` when it is an object of the project.
    void RunRebuildCycle(pugi::xml_node select = {});
    // Generation pass (with `pageToShow` as the page the application opens on, when given) and
    // preview refresh: after a property edit or a selection on another page.
    void RunRefreshCycle(const std::optional<std::string>& pageToShow = std::nullopt);
    // After every generation pass: the title, the live-values hint (once), and the server
    // switch row as the pass left the server.
    void AfterGeneration();

  private:
    // main_window.cpp: the layout of the window from the dialog-unit rectangles and its
    // resizing rules, the menus, the timers and closing.
    void CreateControls();
    void CreateMenus();
    void LoadTypeIcons();
    void RecordLayout();
    void OnSize(wxSizeEvent& event);
    void OnCommandLineTimer(wxTimerEvent& event);
    void OnClose(wxCloseEvent& event);
    void Shutdown();

    // main_window_trees.cpp: the library and project trees, the context menu and keys of the
    // project tree.
    void FillLibraryTree();
    void RebuildProjectTree(pugi::xml_node select = {});
    void OnProjectSelChanged(wxTreeEvent& event);
    void OnProjectRightClick(wxTreeEvent& event);
    // The context menu of the object at `serial`, which becomes the context item; none for the
    // project item.
    std::unique_ptr<wxMenu> BuildContextMenu(int serial);
    void OnContextCommand(wxCommandEvent& event);
    // Asks before a deletion that leaves links without their gateway; true to go on.
    bool ConfirmDelete(std::optional<int> serial);
    void OnMoveCommand(wxCommandEvent& event);
    // Delete, Alt+Up and Alt+Down on the selected object.
    void OnProjectKeyDown(wxTreeEvent& event);
    int SerialOfItem(const wxTreeItemId& item) const;

    // main_window_trees.cpp: drag and drop, followed by polling the pointer until the button is
    // released.
    void OnLibraryBeginDrag(wxTreeEvent& event);
    void OnProjectBeginDrag(wxTreeEvent& event);
    void StartDrag(const designer::DragSource& source);
    void OnDragTimer(wxTimerEvent& event);
    void TrackDrag(const wxPoint& screen);
    void EndDrag();
    // Shows the cursor that tells no drop is possible here, or the usual one.
    void ShowNoDropCursor(bool noDrop);

    // main_window_grid.cpp: the property grid of the selected object.
    void BuildPropertyGrid(const wxTreeItemId& item);
    // A typed number outside its property's range is refused here, with the range in a message.
    void OnGridChanging(wxPropertyGridEvent& event);
    void OnGridChanged(wxPropertyGridEvent& event);
    void OnGridDoubleClick(wxPropertyGridEvent& event);
    // Opens the script editor on row `ref` of the grid; the edited text, or nullopt when the
    // user cancelled.
    std::optional<std::string> EditLongText(const designer::RowRef& ref);

    // main_window_undo.cpp: undo and redo. A structural change runs `change` and, when it
    // changed the document, records the step and runs the rebuild cycle.
    void RunStructuralChange(const std::function<designer::StructuralChange()>& change);
    // After a change whose state before was `before`: the step to undo.
    void RecordStep(designer::DocumentSnapshot before);
    void StepHistory(bool undo);
    void UpdateEditMenu();
    void OnUndo(wxCommandEvent& event);
    void OnRedo(wxCommandEvent& event);

    // main_window_files.cpp: the file commands and what they ask of the window
    // (designer::FileCommandHost).
    designer::SaveAnswer AskSaveChanges() override;
    std::optional<std::string> AskProjectPath(const designer::FileDialogOptions& options) override;
    void ShowError(const std::string& text) override;
    bool AskTrust(const std::string& question) override;
    void SetProjectTrusted(bool trusted) override;
    void ProjectReplaced() override;
    void ProjectSaved() override;
    void LogWarning(const std::string& text) override;
    // The File menu's entries after "Save as": the recent projects, then Quit.
    void UpdateRecentMenu();
    void OnRecentProject(wxCommandEvent& event);
    void OnQuit(wxCommandEvent& event);
    void RunFileCommand(designer::CommandResult result);
    void OnFileNew(wxCommandEvent& event);
    void OnFileOpen(wxCommandEvent& event);
    void OnFileSave(wxCommandEvent& event);
    void OnFileSaveAs(wxCommandEvent& event);
    void LoadProject(const std::string& path);

    // main_window_serving.cpp: the web server and the gateways.
    void OnServerAccess(wxCommandEvent& event);
    void StopServing() override;
    void OnConnectWithBrowser(wxCommandEvent& event);
    void OnRetryTimer(wxTimerEvent& event);

    // main_window_tools.cpp: the Tool, Build and Help commands.
    void OnOpenWithBrowser(wxCommandEvent& event);
    void OnOpenResources(wxCommandEvent& event);
    void OnOpenWithHtmlEditor(wxCommandEvent& event);
    void OnHelp(wxCommandEvent& event);
    void OnBuildDirectory(wxCommandEvent& event);
    void OnBuildArduino(wxCommandEvent& event);
    void OnHide(wxCommandEvent& event);
    void OnToggleExpertMode(wxCommandEvent& event);

    // The run's objects, in the order they are made; shut-down stops them in reverse.
    PaneLog log_;
    bool liveValuesHintGiven_ = false;  // LiveValuesHint is logged once per run
    Project project_;
    Gateways gateways_;
    // Publishes the values the server reads to an MQTT broker (profile "webpublish"); it outlives
    // the server, whose routes report to it.
    std::unique_ptr<SitePublisher> publisher_;
    WebServer server_;
    ServingHooks hooks_;
    Generator generator_;
    designer::FileCommands files_;
    designer::UndoHistory history_;

    Profile profile_;
    ShowRequestListener showRequests_;  // a later start of the designer asks to be shown
    PreviewHost previewHost_;

    StartOptions start_;
    bool expertMode_ = false;
    bool rebuilding_ = false;
    bool shutDown_ = false;

    wxPanel* panel_ = nullptr;
    wxTreeCtrl* libraryTree_ = nullptr;
    wxTreeCtrl* projectTree_ = nullptr;
    wxPropertyGridManager* grid_ = nullptr;
    wxWindow* preview_ = nullptr;
    wxStaticText* logsCaption_ = nullptr;
    LogPane* logPane_ = nullptr;
    wxImageList images_{16, 16, true, 1};
    wxMenu* fileMenu_ = nullptr;
    wxMenu* editMenu_ = nullptr;
    size_t fileMenuFixedItems_ = 0;       // New, Open, Save, Save as: never rebuilt
    std::vector<std::string> recentPaths_;  // what the recent entries of the File menu open

    // Rows of the layout table: a control, its resizing flags and its two margins.
    struct LayoutRow {
        wxWindow* window;
        int flags;  // 1 width follows, 2 height follows, 4 keeps right distance, 8 keeps bottom
        int marginX;
        int marginY;
    };
    std::vector<LayoutRow> layout_;
    bool layoutEnabled_ = false;

    // The rows the grid shows (indexed by the rows' client data) and the object last
    // right-clicked.
    std::vector<designer::GridRow> gridRows_;
    std::optional<int> contextSerial_;

    std::unique_ptr<designer::DragSession> drag_;
    std::unique_ptr<wxDragImage> dragImage_;  // the dragged item, drawn beside the pointer
    bool noDropCursor_ = false;
    wxTimer dragTimer_;
    wxTimer commandLineTimer_;
    wxTimer retryTimer_;
};

}  // namespace tsr::shell
