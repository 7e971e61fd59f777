#include "model/catalogue.h"

#include <array>

namespace tsr {

// Defined in the table generated from resources/catalogue.json at build time.
extern const ObjectType kCatalogue[kTypeCount];

const ObjectType* Catalogue() { return kCatalogue; }

namespace {

// The keys of the catalogue with their lengths, measured once: every object of a project is
// typed by its element name, several times in each generation pass and each walk of the tree.
const std::array<std::string_view, kTypeCount>& TypeKeys() {
    static const std::array<std::string_view, kTypeCount> keys = [] {
        std::array<std::string_view, kTypeCount> k;
        for (size_t i = 0; i < kTypeCount; ++i) k[i] = kCatalogue[i].key;
        return k;
    }();
    return keys;
}

}  // namespace

int FindTypeByKey(std::string_view key) {
    const std::array<std::string_view, kTypeCount>& keys = TypeKeys();
    for (size_t i = 0; i < kTypeCount; ++i) {
        if (key == keys[i]) return kCatalogue[i].id;
    }
    return -1;
}

int FindTypeById(int id) {
    // The table's ids are its positions (the catalogue's build tool refuses any other order).
    if (id >= 0 && static_cast<size_t>(id) < kTypeCount && kCatalogue[id].id == id) return id;
    for (size_t i = 0; i < kTypeCount; ++i) {
        if (kCatalogue[i].id == id) return static_cast<int>(i);
    }
    return -1;
}

const ObjectType* TypeRecord(int id) {
    int position = FindTypeById(id);
    return position < 0 ? nullptr : &kCatalogue[position];
}

int PropertyCount(int type) {
    const ObjectType* t = TypeRecord(type);
    return t ? t->propertyCount : 0;
}

int FindPropertyByKey(int type, std::string_view key) {
    const ObjectType* t = TypeRecord(type);
    if (!t) return -1;
    for (int i = 0; i < t->propertyCount; ++i) {
        if (key == t->properties[i].key) return i;
    }
    return -1;
}

const PropertyDef* Property(int type, int index) {
    const ObjectType* t = TypeRecord(type);
    if (!t || index < 0 || index >= t->propertyCount) return nullptr;
    return &t->properties[index];
}

bool IsAllowedParent(int childType, int parentType) {
    const ObjectType* t = TypeRecord(childType);
    if (!t) return false;
    for (int i = 0; i < t->parentCount; ++i) {
        if (t->parents[i] == parentType) return true;
    }
    return false;
}

const char* TypeKey(int type) {
    const ObjectType* t = TypeRecord(type);
    return t ? t->key : "";
}

const char* TypeDisplayName(int type) {
    const ObjectType* t = TypeRecord(type);
    return t ? t->displayName : "";
}

const char* PropertyKeyAt(int type, int index) {
    const PropertyDef* p = Property(type, index);
    return p ? p->key : "";
}

const char* PropertyLabel(int type, int index) {
    const PropertyDef* p = Property(type, index);
    return p ? p->label : "";
}

const char* PropertyDefault(int type, int index) {
    const PropertyDef* p = Property(type, index);
    return p ? p->defaultText : "";
}

const char* PropertyDescription(int type, int index) {
    const PropertyDef* p = Property(type, index);
    return p ? p->description : "";
}

const char* PropertyOptions(int type, int index) {
    const PropertyDef* p = Property(type, index);
    return p ? p->options : "";
}

PropertyKind PropertyKindAt(int type, int index) {
    const PropertyDef* p = Property(type, index);
    return p ? p->kind : PropertyKind::Text;
}

const char* PropertyKindName(PropertyKind kind) {
    static const char* const kNames[] = {"Text",   "Boolean", "UInt16",   "Real",  "Choice",
                                         "Colour", "UInt32",  "Template", "Script"};
    int i = static_cast<int>(kind);
    return (i >= 0 && i < 9) ? kNames[i] : "";
}

}  // namespace tsr
