#include "designer/page_follow.h"

#include "model/catalogue.h"

namespace tsr::designer {

int PageSerialOf(const ProjectDocument& doc, int serial) {
    pugi::xml_node node = doc.FindObjectBySerial(serial);
    for (; node && ObjectTypeOf(node) >= 0; node = node.parent()) {
        if (ObjectTypeOf(node) == kTypePage) return doc.SerialOf(node);
    }
    return -1;
}

std::optional<std::string> PageToShowAfterSelect(const ProjectDocument& doc, int serial,
                                                 std::string_view shownPageName) {
    const int page = PageSerialOf(doc, serial);
    if (page < 0) return std::nullopt;
    std::string name = GetProperty(doc.FindObjectBySerial(page), "name");
    if (name == shownPageName) return std::nullopt;
    return name;
}

}  // namespace tsr::designer
