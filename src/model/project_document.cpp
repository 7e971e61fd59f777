#include "model/project_document.h"

#include <string>
#include <vector>

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

// The number that `text` holds where `pattern` holds its '#' ("knob12" for "knob#" gives "12");
// "" when `text` is not `pattern` with one run of digits in place of a single '#'.
std::string NumberIn(std::string_view text, std::string_view pattern) {
    const size_t hash = pattern.find('#');
    if (hash == std::string_view::npos || pattern.find('#', hash + 1) != std::string_view::npos)
        return {};
    const std::string_view prefix = pattern.substr(0, hash), suffix = pattern.substr(hash + 1);
    if (text.size() <= prefix.size() + suffix.size() || !text.starts_with(prefix) ||
        !text.ends_with(suffix))
        return {};
    const std::string_view digits =
        text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
    for (char c : digits) {
        if (c < '0' || c > '9') return {};
    }
    return std::string(digits);
}

// True for the properties that name an object among the others: its `id`, and the `name` of
// a page, when their default is numbered.
bool IsNumberedIdentity(const PropertyDef& p) {
    const std::string_view key = p.key;
    return (key == "id" || key == "name") &&
           std::string_view(p.defaultText).find('#') != std::string_view::npos;
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

bool ProjectDocument::ValueInUse(std::string_view key, std::string_view value) const {
    bool used = false;
    const std::string name(key);
    WalkObjects(Root(), [&](pugi::xml_node n, int) {
        if (!used && value == n.attribute(name.c_str()).value()) used = true;
        return !used;
    });
    return used;
}

unsigned ProjectDocument::NextFreeNumber(int typeId, pugi::xml_node except) const {
    const ObjectType* type = TypeRecord(typeId);
    unsigned number = CountObjects(typeId) + 1;
    if (except && ObjectTypeOf(except) == typeId) --number;
    if (!type) return number;
    for (;; ++number) {
        const std::string text = UToA(number);
        bool taken = false;
        for (int i = 0; i < type->propertyCount && !taken; ++i) {
            const PropertyDef& p = type->properties[i];
            taken = IsNumberedIdentity(p) && ValueInUse(p.key, Numbered(p.defaultText, text));
        }
        if (!taken) return number;
    }
}

int ProjectDocument::CreateObject(int typeId, pugi::xml_node parent, pugi::xml_node* created) {
    const ObjectType* type = TypeRecord(typeId);
    if (!type || !parent || parent.type() != pugi::node_element) return -1;
    const std::string number = UToA(NextFreeNumber(typeId));
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
    if (!copy) return copy;
    changed_ = true;
    // Each object of the copy that has a numbered identity takes the next free number, so that
    // the page never holds two elements with one id; its links keep their gateway.
    std::vector<pugi::xml_node> copied{copy};
    WalkObjects(copy, [&](pugi::xml_node n, int) {
        copied.push_back(n);
        return true;
    });
    for (pugi::xml_node n : copied) Renumber(n);
    return copy;
}

void ProjectDocument::Renumber(pugi::xml_node object) {
    const ObjectType* type = TypeRecord(ObjectTypeOf(object));
    if (!type) return;
    std::string oldNumber;
    bool identity = false;
    for (int i = 0; i < type->propertyCount; ++i) {
        const PropertyDef& p = type->properties[i];
        if (!IsNumberedIdentity(p)) continue;
        identity = true;
        if (oldNumber.empty()) oldNumber = NumberIn(GetProperty(object, p.key), p.defaultText);
    }
    if (!identity) return;
    const std::string number = UToA(NextFreeNumber(ObjectTypeOf(object), object));
    for (int i = 0; i < type->propertyCount; ++i) {
        const PropertyDef& p = type->properties[i];
        pugi::xml_attribute a = object.attribute(p.key);
        if (!a || std::string_view(p.defaultText).find('#') == std::string_view::npos) continue;
        // Other numbered texts follow only while they are still the default of the old number
        // (a plot's script names the plot's own data).
        const bool followsDefault =
            !oldNumber.empty() && a.value() == Numbered(p.defaultText, oldNumber);
        if (IsNumberedIdentity(p) || followsDefault)
            a.set_value(Numbered(p.defaultText, number).c_str());
    }
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
