// The main window's file commands: New, Open, Save, Save as and the recent projects of the File
// menu, and the questions designer::FileCommands asks of the window (save the changes? which
// file? trust the project?).
#include "shell/main_window.h"

#include <wx/filedlg.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>

#include "base/strings.h"
#include "shell/main_window_parts.h"
#include "shell/ui.h"

namespace tsr::shell {

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

void MainWindow::ShowError(const std::string& text) {
    wxMessageBox(wxString::FromUTF8(text), GetTitle(), wxOK | wxICON_ERROR, this);
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

void MainWindow::LoadProject(const std::string& path) {
    const bool loaded = files_.LoadProjectFile(path);
    UpdateRecentMenu();
    if (loaded) RunRebuildCycle();
}

}  // namespace tsr::shell
