// The main window's two trees: the library filled once, the project tree rebuilt after every
// structural change, its context menu and keys, and dragging from either tree onto the project
// tree. What may go where is designer::DragSession's and the drop rules'.
#include "shell/main_window.h"

#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/propgrid/manager.h>
#include <wx/utils.h>

#include "designer/library_tree.h"
#include "designer/page_follow.h"
#include "designer/project_tree.h"
#include "shell/log_pane.h"
#include "shell/main_window_parts.h"
#include "shell/ui.h"

namespace tsr::shell {

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

}  // namespace tsr::shell
