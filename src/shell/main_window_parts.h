// What the files of the main window share: the ids of its commands and timers, the data its
// tree items carry and the tags of the grid's rows. Included by the main window's files only.
#pragma once

#include <wx/defs.h>
#include <wx/string.h>
#include <wx/treebase.h>

#include <cstddef>

#include "designer/recent_projects.h"

namespace tsr::shell {

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

// The grid's client data of a row: its index in the rows of the current build, plus one so
// that no row carries a null pointer.
inline void* RowTag(size_t index) {
    return reinterpret_cast<void*>(index + 1);
}
inline size_t RowIndex(void* tag) {
    return reinterpret_cast<size_t>(tag) - 1;
}

inline wxString BooleanText(bool value) {
    return value ? wxString("True") : wxString("False");
}

}  // namespace tsr::shell
