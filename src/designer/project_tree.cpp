#include "designer/project_tree.h"

#include "base/strings.h"
#include "designer/library_tree.h"
#include "model/catalogue.h"

namespace tsr::designer {

const ProjectTreeItem* ProjectTree::FindBySerial(int serial) const {
    if (serial < 0 || serial >= static_cast<int>(items.size())) return nullptr;
    return &items[serial];
}

std::vector<int> ProjectTree::TopLevel() const {
    std::vector<int> top;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].parent < 0) top.push_back(static_cast<int>(i));
    }
    return top;
}

namespace {

// The short names of the link types in the tree, from the string table.
struct LinkName {
    const char* key;
    int textId;
};
constexpr LinkName kLinkNames[] = {
    {"cvnlink", kTextCorvaneLink},
    {"cvnslink", kTextCorvaneTableLink},
    {"smlink", kTextSimoraLink},
    {"unitylink", kTextUnityLink},
    {"s7iplink", kTextS7Link},
    {"kxlink", kTextKxLink},
    {"s71200webserverlink", kTextS71200Link},
    {"s71200webserverslink", kTextS71200TableLink},
    {"arduinowebserverlink", kTextArduinoLink},
    {"arduinowebserverslink", kTextArduinoTableLink},
    {"modbuslink", kTextModbusLink},
    {"mqttlink", kTextMqttLink},
};

}  // namespace

std::string ProjectItemText(pugi::xml_node object) {
    const std::string_view key = object.name();
    for (const LinkName& link : kLinkNames) {
        if (key != link.key) continue;
        std::string text = LoadString(link.textId);
        const std::string variable = GetProperty(object, "variable");
        if (!variable.empty()) text += " \xE2\x80\x94 " + variable;  // an em dash
        return text;
    }
    const char* type = TypeDisplayName(ObjectTypeOf(object));
    std::string text = type ? type : "";
    std::string label = GetProperty(object, "id");
    if (label.empty()) label = GetProperty(object, "name");
    if (!label.empty()) text += " \xE2\x80\x94 " + label;  // an em dash
    return text;
}

ProjectTree BuildProjectTree(const ProjectDocument& doc, pugi::xml_node select) {
    ProjectTree tree;
    // ancestry[d] is the index of the last item seen at depth d: the parent of depth d + 1.
    std::vector<int> ancestry;
    doc.ForEachObject([&](pugi::xml_node element, int depth) {
        ProjectTreeItem item;
        item.typeId = ObjectTypeOf(element);
        item.text = ProjectItemText(element);
        item.serial = static_cast<int>(tree.items.size());
        item.image = ImageIndexOfType(item.typeId);
        ancestry.resize(depth);
        item.parent = depth > 0 ? ancestry[depth - 1] : -1;
        if (item.parent >= 0) tree.items[item.parent].children.push_back(item.serial);
        if (select && element == select) tree.selected = item.serial;
        ancestry.push_back(item.serial);
        tree.items.push_back(std::move(item));
        return true;
    });
    return tree;
}

}  // namespace tsr::designer
