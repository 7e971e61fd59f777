// Undo and redo of the designer's changes, as whole copies of the project document: projects are
// small, so a copy before every change is cheap and gives back the document byte for byte,
// whatever the change was (a drop, a move, a deletion, a property edit).
#pragma once

#include <cstddef>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "model/project_document.h"

namespace tsr::designer {

// The document as it was at one moment, with its unsaved-changes flag.
struct DocumentSnapshot {
    std::shared_ptr<const pugi::xml_document> xml;
    bool changed = false;
};

// A copy of `doc` as it is now.
DocumentSnapshot TakeSnapshot(const ProjectDocument& doc);

// The document as raw XML text, to tell two states apart.
std::string DocumentText(const pugi::xml_document& xml);

class UndoHistory {
public:
    // At most `limit` steps are kept; the oldest go first.
    explicit UndoHistory(size_t limit = 200) : limit_(limit) {}

    // After a change of `now` whose state before was `before`: makes it the step the next Undo
    // takes back, and forgets what could be redone. A `before` equal to `now` (a change that
    // changed nothing) is no step; returns whether a step was recorded.
    bool Record(DocumentSnapshot before, const ProjectDocument& now);

    // Puts `doc` back as it was before the last step (Undo) or after the last undone step (Redo),
    // unsaved-changes flag included, and keeps the state left for the other direction. False,
    // with `doc` untouched, when there is nothing to undo or redo.
    bool Undo(ProjectDocument& doc);
    bool Redo(ProjectDocument& doc);

    bool CanUndo() const { return !undo_.empty(); }
    bool CanRedo() const { return !redo_.empty(); }
    size_t undoCount() const { return undo_.size(); }
    size_t redoCount() const { return redo_.size(); }

    // New and Open: nothing of the previous project can be undone.
    void Clear();

    // After `doc` was saved: a step that leads back to the saved text clears the unsaved-changes
    // flag, every other step sets it.
    void MarkSaved(const ProjectDocument& doc);

private:
    static void Restore(const DocumentSnapshot& snapshot, ProjectDocument& doc);
    bool Step(std::vector<DocumentSnapshot>& from, std::vector<DocumentSnapshot>& to,
              ProjectDocument& doc);

    size_t limit_;
    std::vector<DocumentSnapshot> undo_;  // oldest first
    std::vector<DocumentSnapshot> redo_;  // next to redo last
};

}  // namespace tsr::designer
