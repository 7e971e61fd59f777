// The catalogue as JSON text, in the form of resources/catalogue.json.
#pragma once

#include <string>

namespace tsr {

// Every type in id order: id, key, name, parents (type keys), properties (key, kind, label,
// default, description, options).
std::string CatalogueToJson();

}  // namespace tsr
