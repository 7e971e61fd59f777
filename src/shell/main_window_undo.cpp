// The main window's undo and redo: each structural change and each edit is recorded as a step of
// designer::UndoHistory, which Edit > Undo and Redo (Ctrl+Z, Ctrl+Y, Ctrl+Shift+Z) step through.
#include "shell/main_window.h"

#include <wx/menu.h>

#include "shell/main_window_parts.h"

namespace tsr::shell {

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

}  // namespace tsr::shell
