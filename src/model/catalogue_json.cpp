#include "model/catalogue_json.h"

#include <nlohmann/json.hpp>

#include "model/catalogue.h"

namespace tsr {

std::string CatalogueToJson() {
    nlohmann::ordered_json types = nlohmann::ordered_json::array();
    for (size_t i = 0; i < kTypeCount; ++i) {
        const ObjectType& t = Catalogue()[i];
        nlohmann::ordered_json type;
        type["id"] = t.id;
        type["key"] = t.key;
        type["name"] = t.displayName;
        type["parents"] = nlohmann::ordered_json::array();
        for (int p = 0; p < t.parentCount; ++p) type["parents"].push_back(TypeKey(t.parents[p]));
        type["properties"] = nlohmann::ordered_json::array();
        for (int p = 0; p < t.propertyCount; ++p) {
            const PropertyDef& d = t.properties[p];
            nlohmann::ordered_json prop;
            prop["key"] = d.key;
            prop["kind"] = PropertyKindName(d.kind);
            prop["label"] = d.label;
            prop["default"] = d.defaultText;
            prop["description"] = d.description;
            prop["options"] = d.options;
            type["properties"].push_back(std::move(prop));
        }
        types.push_back(std::move(type));
    }
    return types.dump(1) + "\n";
}

}  // namespace tsr
