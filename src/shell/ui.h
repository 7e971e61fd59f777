// Small helpers every window of the designer uses: texts of the string table and rectangles
// given in dialog units.
#pragma once

#include <wx/gdicmn.h>
#include <wx/string.h>
#include <wx/window.h>

#include "base/strings.h"

namespace tsr::shell {

// Text `id` of the string table in the system's language.
inline wxString UiText(int id) {
    return wxString::FromUTF8(LoadString(id));
}

// A rectangle given in the dialog units of `window`, in pixels.
inline wxRect DialogRect(const wxWindow* window, int x, int y, int width, int height) {
    return wxRect(window->ConvertDialogToPixels(wxPoint(x, y)),
                  window->ConvertDialogToPixels(wxSize(width, height)));
}

}  // namespace tsr::shell
