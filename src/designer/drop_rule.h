// Drag and drop onto the project tree, and the context menu of its items.
//
//   library item ──drag──┐                     ┌── create an object of the type under the target
//                        ├─► target object ────┤
//   project item ──drag──┘                     └── move the object under the target
//
// Whether a target accepts a drop depends only on the allowed parents of the catalogue, except
// that an object never goes under itself or one of its own descendants.
#pragma once

#include <optional>
#include <string>

#include "designer/project_tree.h"
#include "model/project_document.h"

namespace tsr::designer {

// What is being dragged: a type from the library, or an object of the project tree.
struct DragSource {
    enum class From { Library, Project };
    From from = From::Library;
    int typeId = -1;  // the type a library drop creates
    int serial = -1;  // the dragged object (project drags only)

    // A drag of library type `typeId`.
    static DragSource Library(int typeId) { return {From::Library, typeId, -1}; }
    // A drag of the object at `serial` of `doc`; typeId is -1 when there is no such object.
    static DragSource Project(const ProjectDocument& doc, int serial);
};

// True when `source` may be dropped on the object at `targetSerial`: the target exists, its type
// is an allowed parent of the dragged type, and for a project drag the target is neither the
// dragged object nor inside it. The project object has no allowed parent, so it never moves.
bool CanDrop(const ProjectDocument& doc, const DragSource& source, int targetSerial);

// One drag from its start to the release of the mouse button. The drop target is only updated
// by moves over the trees; a cursor over any other window keeps the last target, so releasing
// there still drops onto it.
class DragSession {
public:
    DragSession(const ProjectDocument& doc, DragSource source) : doc_(doc), source_(source) {}

    // The cursor moved over the trees: `itemSerial` is the project item under it, or nullopt for
    // none (empty tree area, library tree). Returns true when that item became the drop target,
    // which the window selects in the project tree; false leaves the drop target empty.
    bool Hover(std::optional<int> itemSerial);

    // The serial of the current drop target, or nullopt for none (show the no-drop cursor).
    std::optional<int> target() const { return target_; }

    const DragSource& source() const { return source_; }

private:
    const ProjectDocument& doc_;
    DragSource source_;
    std::optional<int> target_;
};

// Completes a drag on release of the mouse button: with a drop target whose object exists,
// creates an object of the dragged type under it (library drag) or moves the dragged object to
// the end of its children (project drag) and selects the new or moved object. A link dropped
// under a plot adapts the plot's script (AdaptPlotScriptToLink), in the same step. Without a
// target, or when the drop is not allowed, the document is left unchanged and nothing is to be
// rebuilt.
StructuralChange Drop(ProjectDocument& doc, const DragSource& source, std::optional<int> target);

// The script of a plot whose series shows only what its links read: the renderer statement,
// with an empty series that the plot library accepts while nothing has been read yet. `plotId`
// is the plot's id.
std::string LinkedPlotScript(const std::string& plotId);

// After a link was put under `plot`: when the plot's script is still its catalogue default
// (15 random points), replaces it by LinkedPlotScript. Returns whether it did; a plot whose
// script was edited, or any other parent, is left as it is.
bool AdaptPlotScriptToLink(ProjectDocument& doc, pugi::xml_node plot);

// True when a right click on the object at `serial` shows the Delete / Duplicate menu: the
// object exists and is not the project.
bool HasContextMenu(const ProjectDocument& doc, int serial);

enum class ContextCommand { Delete, Duplicate };

// Runs `command` on the object at `serial` (the item right-clicked; nullopt when there was
// none). Marks the project changed in every case, as the command was chosen. Delete removes the
// object with its subtree, and the rebuilt tree selects nothing; Duplicate appends a deep copy,
// with ids of its own (ProjectDocument::DuplicateObject), as the last child of the same parent,
// and the rebuilt tree selects the copy. A missing object, or the project object, changes
// nothing else and needs no rebuild.
StructuralChange RunContextCommand(ProjectDocument& doc, ContextCommand command,
                                   std::optional<int> serial);

// The number of links of `doc` whose gateway id names the gateway at `serial`; 0 when that
// object is no gateway, or when another gateway of the project has the same id (the links keep
// a gateway).
unsigned LinksUsingGateway(const ProjectDocument& doc, std::optional<int> serial);

// The question the designer asks before deleting the object at `serial` (context menu or
// Delete key), in the system's language: set when the object is a gateway that links use
// (LinksUsingGateway), saying how many; nullopt when the deletion needs no question.
std::optional<std::string> DeleteQuestion(const ProjectDocument& doc, std::optional<int> serial);

// The Delete key on the selected object: the same deletion as the context menu's, but a key
// pressed on the project item (or with nothing selected) changes nothing, not even the
// unsaved-changes flag.
StructuralChange DeleteSelected(ProjectDocument& doc, std::optional<int> serial);

enum class MoveDirection { Up, Down };

// True when the object at `serial` can trade places with the object just before it (Up) or just
// after it (Down) among the objects of the same parent. Elements that are no objects do not
// count as places.
bool CanMoveAmongSiblings(const ProjectDocument& doc, int serial, MoveDirection direction);

// "Move up" and "Move down": the object at `serial`, with its subtree, trades places with its
// neighbour among its sibling objects; the project is marked changed and the rebuilt tree
// selects the moved object. At either end (or for a missing object) nothing changes.
StructuralChange MoveAmongSiblings(ProjectDocument& doc, int serial, MoveDirection direction);

}  // namespace tsr::designer
