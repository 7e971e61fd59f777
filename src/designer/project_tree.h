// The project tree: one item per object of the project document, in document order, rebuilt
// from scratch after every structural change and shown fully expanded.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "model/project_document.h"

namespace tsr::designer {

struct ProjectTreeItem {
    std::string text;           // ProjectItemText: "Knob — knob1", "Page — FirstPage", "Header"
    int typeId = -1;            // the object's type
    int serial = -1;            // the object's pre-order position, as FindObjectBySerial takes it
    int image = 0;              // ImageIndexOfType(typeId), for the normal and the selected state
    int parent = -1;            // index of the parent item, -1 at the top level
    std::vector<int> children;  // indexes of the child items, in document order
    bool expanded = true;       // every item is expanded after a rebuild
};

struct ProjectTree {
    // Items in pre-order; the item at index i has serial i. Elements that are not objects are
    // left out with everything inside them, as every walk of the document does.
    std::vector<ProjectTreeItem> items;
    // Index of the item to select after the rebuild, or -1 to select nothing.
    int selected = -1;

    // The item whose serial is `serial`, or nullptr when there is none.
    const ProjectTreeItem* FindBySerial(int serial) const;
    // Indexes of the items at the top level, in order.
    std::vector<int> TopLevel() const;
};

// The text of an object's item: the display name of its type, then " — " and the object's `id`
// when it has a non-empty one (unique, so two sliders can be told apart), else its `name` (pages,
// which have no id); the bare display name when it has neither. A link shows the short name of
// its kind, in the system's language, and its variable: "Unity link — %MW0".
std::string ProjectItemText(pugi::xml_node object);

// Builds the tree of `doc`. When `select` is an object of the document, its item becomes the
// selected one; an empty or foreign node selects nothing.
ProjectTree BuildProjectTree(const ProjectDocument& doc, pugi::xml_node select = {});

// What a structural change leaves behind: whether the document changed (run the rebuild cycle:
// generation, tree rebuild, preview refresh) and which element the rebuilt tree selects.
struct StructuralChange {
    bool rebuild = false;
    pugi::xml_node select;  // empty: the rebuilt tree has no selection
};

}  // namespace tsr::designer
