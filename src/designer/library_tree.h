// The library tree: the fixed list of object types a user can drag into the project, grouped the
// way widgets nest, and the icon of every type shared by both trees.
#pragma once

#include <span>

namespace tsr::designer {

// The type id of a library item that only groups others and creates nothing.
inline constexpr int kLibraryHeading = -1;

struct LibraryItem {
    const char* text;  // fixed English text, never translated
    int typeId;        // the type a drop creates, or kLibraryHeading
    int parent;        // index of the parent item in LibraryItems(), -1 at the top level
};

// Every item of the library tree in display order (a parent always comes before its children).
// Types 0 (project) and 49 (the Arduino variables-table link) have no item.
std::span<const LibraryItem> LibraryItems();

// The index of the item expanded when the tree is first shown ("Page").
int LibraryExpandedAtStart();

// True when the library item at `index` may start a drag: it exists and creates a type.
bool CanDragLibraryItem(int index);

// Image list layout shared by both trees: the fallback icon first, then one icon per type id.
inline constexpr int kFallbackImage = 0;
inline constexpr int kImageCount = 55;

// The image index of type `typeId`: 1 + typeId for a type id, kFallbackImage for anything else
// (headings included).
int ImageIndexOfType(int typeId);

}  // namespace tsr::designer
