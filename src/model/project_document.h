// The project document: one XML tree whose elements are the project's objects. The root element
// "tsr" holds the `project` element; every object element is named by its type key and holds one
// attribute per property. Elements whose name is no type key are not objects: every walk skips
// them together with everything inside them.
#pragma once

#include <array>
#include <functional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "model/catalogue.h"

namespace tsr {

using TypeCounters = std::array<unsigned, kTypeCount>;

// Documents nested deeper than this are refused when read from a file.
inline constexpr int kMaxObjectDepth = 1000;

// The first child of `node` that is an element; an empty node when there is none.
pugi::xml_node FirstChildElement(pugi::xml_node node);

// The type id of an element that is an object; -1 for any other node.
int ObjectTypeOf(pugi::xml_node node);

// The value of attribute `key`, or "" when the element (or the attribute) is missing.
std::string GetProperty(pugi::xml_node element, std::string_view key);

// The value of attribute `key`; when it is missing it is first appended with `fallback` as its
// value (this does not count as a change of the project). Returns `fallback` for a missing element.
std::string GetPropertyOr(pugi::xml_node element, std::string_view key, std::string_view fallback);

// Like GetPropertyOr, with the fallback taken unnumbered from the catalogue default of property
// `key` of type `typeId`, or "" when that type has no such property.
std::string GetPropertyWithDefault(pugi::xml_node element, std::string_view key, int typeId);

class ProjectDocument {
public:
    ProjectDocument() = default;
    ProjectDocument(const ProjectDocument&) = delete;
    ProjectDocument& operator=(const ProjectDocument&) = delete;

    // Empties the document and builds a new project: "tsr" > project > page "FirstPage", every
    // property with its default. The new project counts as changed.
    void NewProjectDocument();

    // Appends a new object of type `typeId` as the last child of `parent`, every property set to
    // its default with each '#' replaced by NextFreeNumber(typeId).
    // Returns 0 and hands the element back through `created`; -1 (nothing changed) for an unknown
    // type id or a missing parent.
    int CreateObject(int typeId, pugi::xml_node parent, pugi::xml_node* created = nullptr);

    // Makes `object` (with its subtree) the last child of `newParent` and returns it. A move of an
    // object onto itself or one of its descendants, or with a missing element, changes nothing
    // and returns `object`.
    pugi::xml_node MoveObject(pugi::xml_node object, pugi::xml_node newParent);

    // The number a new object of type `typeId` takes: the number of objects of that type plus
    // one, or the next one up whose numbered id (or page name) no object of the document holds.
    // An `except` object of that type is not counted (the copy being numbered).
    unsigned NextFreeNumber(int typeId, pugi::xml_node except = {}) const;

    // True when some object of the document has attribute `key` equal to `value`.
    bool ValueInUse(std::string_view key, std::string_view value) const;

    // Appends a deep copy of `object` as the last child of its own parent and returns the copy.
    // Every object of the copy whose type numbers its id (or page name) gets a new one, as a new
    // object would (NextFreeNumber), together with its other numbered texts that are still the
    // defaults of its old number; everything else, a link's gateway id included, is copied
    // unchanged. Returns an empty node (nothing changed) for a missing element or the root.
    pugi::xml_node DuplicateObject(pugi::xml_node object);

    // Removes `object` and its whole subtree. A missing element or the root changes nothing.
    void DeleteObject(pugi::xml_node object);

    // The object at position `serial` of the pre-order walk of object elements (0 = the project
    // element); an empty node when the walk ends first or `serial` is negative.
    pugi::xml_node FindObjectBySerial(int serial) const;

    // The serial of `object`, or -1 when it is not an object of this document.
    int SerialOf(pugi::xml_node object) const;

    // Sets attribute `key` of `element` to `value`, appending it when missing. Counts as a change.
    void SetProperty(pugi::xml_node element, std::string_view key, std::string_view value);

    // Counts the objects of each type in the whole document.
    void RecountTypes();
    const TypeCounters& typeCounters() const { return counters_; }

    // The number of objects of type `typeId` in the document, counted now.
    unsigned CountObjects(int typeId) const;

    bool ProjectChanged() const { return changed_; }
    void SetProjectChanged(bool changed) { changed_ = changed; }

    // The root element ("tsr"), and the project element: the first child element of the root.
    pugi::xml_node Root() const { return doc_.document_element(); }
    pugi::xml_node ProjectElement() const { return Root().first_child(); }

    // Visits every object in pre-order with its depth (project = 0). Returning false from `visit`
    // skips the object's subtree.
    void ForEachObject(const std::function<bool(pugi::xml_node, int depth)>& visit) const;

    // Replaces the whole document by `other` (which is left empty). The changed flag is kept.
    void Adopt(pugi::xml_document& other);

    pugi::xml_document& xml() { return doc_; }
    const pugi::xml_document& xml() const { return doc_; }

private:
  // Gives `object` the next free number (see DuplicateObject).
  void Renumber(pugi::xml_node object);

  pugi::xml_document doc_;
  TypeCounters counters_{};
  bool changed_ = false;
};

}  // namespace tsr
