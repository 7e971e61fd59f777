// The main window's Tool, Build and Help commands: the generated files handed to the desktop's
// programs, the build directory dialog, Build to Arduino with its questions as message boxes, and
// the hidden and expert modes.
#include "shell/main_window.h"

#include <wx/dirdlg.h>
#include <wx/msgdlg.h>
#include <wx/progdlg.h>
#include <wx/textdlg.h>
#include <wx/utils.h>

#include <atomic>
#include <thread>

#include "designer/arduino_build.h"
#include "designer/tools.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "shell/build_dialog.h"
#include "shell/main_window_parts.h"
#include "shell/ui.h"

namespace tsr::shell {
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

}  // namespace tsr::shell
