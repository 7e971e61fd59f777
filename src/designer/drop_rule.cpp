#include "designer/drop_rule.h"

#include "base/strings.h"
#include "designer/property_grid.h"
#include "generator/link_scripts.h"
#include "model/catalogue.h"

namespace tsr::designer {
namespace {

bool IsSameOrInside(pugi::xml_node node, pugi::xml_node ancestor) {
    for (; node; node = node.parent()) {
        if (node == ancestor) return true;
    }
    return false;
}

// The nearest sibling of `object` before (Up) or after (Down) it that is an object.
pugi::xml_node SiblingObject(pugi::xml_node object, MoveDirection direction) {
    pugi::xml_node n = direction == MoveDirection::Up ? object.previous_sibling()
                                                      : object.next_sibling();
    while (n && ObjectTypeOf(n) < 0)
        n = direction == MoveDirection::Up ? n.previous_sibling() : n.next_sibling();
    return n;
}

}  // namespace

DragSource DragSource::Project(const ProjectDocument& doc, int serial) {
    pugi::xml_node object = doc.FindObjectBySerial(serial);
    return {From::Project, object ? ObjectTypeOf(object) : -1, serial};
}

bool CanDrop(const ProjectDocument& doc, const DragSource& source, int targetSerial) {
    pugi::xml_node target = doc.FindObjectBySerial(targetSerial);
    if (!target) return false;
    if (!IsAllowedParent(source.typeId, ObjectTypeOf(target))) return false;
    if (source.from == DragSource::From::Library) return true;
    pugi::xml_node dragged = doc.FindObjectBySerial(source.serial);
    return dragged && !IsSameOrInside(target, dragged);
}

bool DragSession::Hover(std::optional<int> itemSerial) {
    target_.reset();
    if (!itemSerial || !CanDrop(doc_, source_, *itemSerial)) return false;
    target_ = itemSerial;
    return true;
}

std::string LinkedPlotScript(const std::string& plotId) {
    const std::string data = "plot" + plotId + "data";
    return "var renderer" + plotId + " = function() {return " + data + "[0].length ? " + data +
           " : [[null]]};";
}

bool AdaptPlotScriptToLink(ProjectDocument& doc, pugi::xml_node plot) {
    const int type = ObjectTypeOf(plot);
    if (type != FindTypeByKey("plot")) return false;
    const int script = FindPropertyByKey(type, "script");
    pugi::xml_attribute a = plot.attribute("script");
    if (!a || DiffersFromDefault(PropertyKind::Text, a.value(), PropertyDefault(type, script)))
        return false;
    doc.SetProperty(plot, "script", LinkedPlotScript(GetProperty(plot, "id")));
    return true;
}

StructuralChange Drop(ProjectDocument& doc, const DragSource& source, std::optional<int> target) {
    if (!target || !CanDrop(doc, source, *target)) return {};
    pugi::xml_node parent = doc.FindObjectBySerial(*target);
    pugi::xml_node placed;
    if (source.from == DragSource::From::Library) {
        if (doc.CreateObject(source.typeId, parent, &placed) != 0) return {};
    } else {
        placed = doc.MoveObject(doc.FindObjectBySerial(source.serial), parent);
    }
    if (IsLinkType(source.typeId)) AdaptPlotScriptToLink(doc, parent);
    return {true, placed};
}

bool HasContextMenu(const ProjectDocument& doc, int serial) {
    pugi::xml_node object = doc.FindObjectBySerial(serial);
    return object && ObjectTypeOf(object) != kTypeProject;
}

StructuralChange RunContextCommand(ProjectDocument& doc, ContextCommand command,
                                   std::optional<int> serial) {
    doc.SetProjectChanged(true);
    if (!serial || !HasContextMenu(doc, *serial)) return {};
    pugi::xml_node object = doc.FindObjectBySerial(*serial);
    if (command == ContextCommand::Delete) {
        doc.DeleteObject(object);
        return {true, {}};
    }
    pugi::xml_node copy = doc.DuplicateObject(object);
    if (!copy) return {};
    return {true, copy};
}

unsigned LinksUsingGateway(const ProjectDocument& doc, std::optional<int> serial) {
    if (!serial) return 0;
    pugi::xml_node gateway = doc.FindObjectBySerial(*serial);
    if (!gateway || !IsGatewayType(ObjectTypeOf(gateway))) return 0;
    const std::string id = GetProperty(gateway, "id");
    bool kept = false;
    unsigned links = 0;
    doc.ForEachObject([&](pugi::xml_node object, int) {
        const int type = ObjectTypeOf(object);
        if (IsGatewayType(type) && object != gateway && GetProperty(object, "id") == id)
            kept = true;
        if (IsLinkType(type) && GetProperty(object, "gatewayid") == id) ++links;
        return true;
    });
    return kept ? 0 : links;
}

std::optional<std::string> DeleteQuestion(const ProjectDocument& doc, std::optional<int> serial) {
    const unsigned links = LinksUsingGateway(doc, serial);
    if (links == 0) return std::nullopt;
    const std::string id = GetProperty(doc.FindObjectBySerial(*serial), "id");
    if (links == 1) return FormatText(LoadString(kTextDeleteGatewayOneLink), {id});
    return FormatText(LoadString(kTextDeleteGatewayLinks), {std::to_string(links), id});
}

StructuralChange DeleteSelected(ProjectDocument& doc, std::optional<int> serial) {
    if (!serial || !HasContextMenu(doc, *serial)) return {};
    return RunContextCommand(doc, ContextCommand::Delete, serial);
}

bool CanMoveAmongSiblings(const ProjectDocument& doc, int serial, MoveDirection direction) {
    pugi::xml_node object = doc.FindObjectBySerial(serial);
    return object && object != doc.ProjectElement() && SiblingObject(object, direction);
}

StructuralChange MoveAmongSiblings(ProjectDocument& doc, int serial, MoveDirection direction) {
    if (!CanMoveAmongSiblings(doc, serial, direction)) return {};
    pugi::xml_node object = doc.FindObjectBySerial(serial);
    pugi::xml_node neighbour = SiblingObject(object, direction);
    pugi::xml_node parent = object.parent();
    pugi::xml_node moved = direction == MoveDirection::Up
                               ? parent.insert_move_before(object, neighbour)
                               : parent.insert_move_after(object, neighbour);
    if (!moved) return {};
    doc.SetProjectChanged(true);
    return {true, moved};
}

}  // namespace tsr::designer
