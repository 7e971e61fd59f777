#include "designer/undo_history.h"

#include <sstream>

namespace tsr::designer {

DocumentSnapshot TakeSnapshot(const ProjectDocument& doc) {
    auto copy = std::make_shared<pugi::xml_document>();
    copy->reset(doc.xml());
    return {std::move(copy), doc.ProjectChanged()};
}

std::string DocumentText(const pugi::xml_document& xml) {
    std::ostringstream out;
    xml.save(out, "", pugi::format_raw | pugi::format_no_declaration);
    return out.str();
}

bool UndoHistory::Record(DocumentSnapshot before, const ProjectDocument& now) {
    if (!before.xml || DocumentText(*before.xml) == DocumentText(now.xml())) return false;
    undo_.push_back(std::move(before));
    if (undo_.size() > limit_) undo_.erase(undo_.begin());
    redo_.clear();
    return true;
}

void UndoHistory::Restore(const DocumentSnapshot& snapshot, ProjectDocument& doc) {
    // A deep copy: the snapshot stays as it is, to be restored again after a redo and an undo.
    doc.xml().reset(*snapshot.xml);
    doc.RecountTypes();
    doc.SetProjectChanged(snapshot.changed);
}

bool UndoHistory::Step(std::vector<DocumentSnapshot>& from, std::vector<DocumentSnapshot>& to,
                       ProjectDocument& doc) {
    if (from.empty()) return false;
    to.push_back(TakeSnapshot(doc));
    Restore(from.back(), doc);
    from.pop_back();
    return true;
}

bool UndoHistory::Undo(ProjectDocument& doc) {
    return Step(undo_, redo_, doc);
}

bool UndoHistory::Redo(ProjectDocument& doc) {
    return Step(redo_, undo_, doc);
}

void UndoHistory::Clear() {
    undo_.clear();
    redo_.clear();
}

void UndoHistory::MarkSaved(const ProjectDocument& doc) {
    const std::string saved = DocumentText(doc.xml());
    for (auto* list : {&undo_, &redo_}) {
        for (DocumentSnapshot& s : *list) s.changed = DocumentText(*s.xml) != saved;
    }
}

}  // namespace tsr::designer
