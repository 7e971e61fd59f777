// The page the preview follows: selecting an object that lies in another page than the one the
// generated application opens on regenerates it with that page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/project_document.h"

namespace tsr::designer {

// The serial of the page holding the object at `serial`: the object itself when it is a page,
// else its nearest page ancestor. -1 when there is none (the project, scripts, gateways) or no
// such object.
int PageSerialOf(const ProjectDocument& doc, int serial);

// The page name to regenerate with after selecting the object at `serial`: the `name` of its
// page ("" when missing) when that differs byte for byte from `shownPageName`; nullopt when the
// object lies in no page or its page is already the one shown (nothing to do).
std::optional<std::string> PageToShowAfterSelect(const ProjectDocument& doc, int serial,
                                                 std::string_view shownPageName);

}  // namespace tsr::designer
