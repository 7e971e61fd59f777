#include "model/project_document.h"

#include <string>

#include "base/text.h"

namespace tsr {
namespace {

// Replaces every '#' of `text` by `number`.
std::string Numbered(const char* text, const std::string& number) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '#') {
            out += number;
        } else {
            out += *p;
        }
    }
    return out;
}

// Pre-order walk of the object elements under `root` (root excluded), without recursion so that
// deep documents cannot exhaust the stack.
template <typename Visit>
void WalkObjects(pugi::xml_node root, Visit&& visit) {
    if (!root) return;
    pugi::xml_node n = root.first_child();
    int depth = 0;
    while (n) {
        bool descend = ObjectTypeOf(n) >= 0 && visit(n, depth);
        if (descend && n.first_child()) {
            n = n.first_child();
            ++depth;
            continue;
        }
        while (!n.next_sibling()) {
            n = n.parent();
            --depth;
            if (!n || n == root) return;
        }
        n = n.next_sibling();
    }
}

bool IsSameOrAncestor(pugi::xml_node candidate, pugi::xml_node node) {
    for (; node; node = node.parent()) {
        if (node == candidate) return true;
    }
    return false;
}

}  // namespace

pugi::xml_node FirstChildElement(pugi::xml_node node) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) return c;
    }
    return {};
}

int ObjectTypeOf(pugi::xml_node node) {
    if (node.type() != pugi::node_element) return -1;
    return FindTypeByKey(node.name());
}

std::string GetProperty(pugi::xml_node element, std::string_view key) {
    return element.attribute(std::string(key).c_str()).value();
}

std::string GetPropertyOr(pugi::xml_node element, std::string_view key, std::string_view fallback) {
    if (!element) return std::string(fallback);
    const std::string name(key);
    pugi::xml_attribute a = element.attribute(name.c_str());
    if (a) return a.value();
    const std::string value(fallback);
    element.append_attribute(name.c_str()).set_value(value.c_str());
    return value;
}

std::string GetPropertyWithDefault(pugi::xml_node element, std::string_view key, int typeId) {
    int index = FindPropertyByKey(typeId, key);
    return GetPropertyOr(element, key, index < 0 ? "" : PropertyDefault(typeId, index));
}

void ProjectDocument::NewProjectDocument() {
    doc_.reset();
    pugi::xml_node root = doc_.append_child("tsr");
    pugi::xml_node project;
    CreateObject(kTypeProject, root, &project);
    pugi::xml_node page;
    CreateObject(kTypePage, project, &page);
    SetProperty(page, "name", "FirstPage");
    changed_ = true;
}

int ProjectDocument::CreateObject(int typeId, pugi::xml_node parent, pugi::xml_node* created) {
    const ObjectType* type = TypeRecord(typeId);
    if (!type || !parent || parent.type() != pugi::node_element) return -1;
    const std::string number = UToA(CountObjects(typeId) + 1);
    pugi::xml_node element = parent.append_child(type->key);
    for (int i = 0; i < type->propertyCount; ++i) {
        const PropertyDef& p = type->properties[i];
        element.append_attribute(p.key).set_value(Numbered(p.defaultText, number).c_str());
    }
    changed_ = true;
    if (created) *created = element;
    return 0;
}

pugi::xml_node ProjectDocument::MoveObject(pugi::xml_node object, pugi::xml_node newParent) {
    if (!object || !newParent || !object.parent() || object == Root()) return object;
    if (newParent.type() != pugi::node_element) return object;
    if (IsSameOrAncestor(object, newParent)) return object;
    pugi::xml_node moved = newParent.append_move(object);
    if (!moved) return object;
    changed_ = true;
    return moved;
}

pugi::xml_node ProjectDocument::DuplicateObject(pugi::xml_node object) {
    if (!object || object == Root() || object.parent().type() != pugi::node_element) return {};
    pugi::xml_node copy = object.parent().append_copy(object);
    if (copy) changed_ = true;
    return copy;
}

void ProjectDocument::DeleteObject(pugi::xml_node object) {
    if (!object || object == Root() || !object.parent()) return;
    if (object.parent().remove_child(object)) changed_ = true;
}

pugi::xml_node ProjectDocument::FindObjectBySerial(int serial) const {
    pugi::xml_node found;
    if (serial < 0) return found;
    int position = 0;
    WalkObjects(Root(), [&](pugi::xml_node n, int) {
        if (found) return false;
        if (position++ == serial) found = n;
        return !found;
    });
    return found;
}

int ProjectDocument::SerialOf(pugi::xml_node object) const {
    int serial = -1, position = 0;
    WalkObjects(Root(), [&](pugi::xml_node n, int) {
        if (serial >= 0) return false;
        if (n == object) serial = position;
        ++position;
        return serial < 0;
    });
    return serial;
}

void ProjectDocument::SetProperty(pugi::xml_node element, std::string_view key,
                                  std::string_view value) {
    changed_ = true;
    if (!element) return;
    const std::string name(key);
    pugi::xml_attribute a = element.attribute(name.c_str());
    if (!a) a = element.append_attribute(name.c_str());
    a.set_value(std::string(value).c_str());
}

void ProjectDocument::RecountTypes() {
    counters_.fill(0);
    WalkObjects(Root(), [&](pugi::xml_node n, int) {
        ++counters_[ObjectTypeOf(n)];
        return true;
    });
}

unsigned ProjectDocument::CountObjects(int typeId) const {
    unsigned count = 0;
    WalkObjects(Root(), [&](pugi::xml_node n, int) {
        if (ObjectTypeOf(n) == typeId) ++count;
        return true;
    });
    return count;
}

void ProjectDocument::ForEachObject(
    const std::function<bool(pugi::xml_node, int depth)>& visit) const {
    WalkObjects(Root(), visit);
}

void ProjectDocument::Adopt(pugi::xml_document& other) {
    doc_.reset();
    doc_ = std::move(other);
    counters_.fill(0);
}

}  // namespace tsr
