// The script editor: a resizable modal dialog in which one long text property of an object (a
// script or a template) is edited in a C-family code editor, or in a plain text control when
// the code editor cannot be created.
#pragma once

#include <wx/dialog.h>

#include <pugixml.hpp>
#include <string>
#include <vector>

class wxStyledTextCtrl;
class wxTextCtrl;
class wxButton;

namespace tsr::shell {

class editcode : public wxDialog {
  public:
    // Which surface to edit in: the code editor when it can be created, or the plain text
    // control (also what the dialog falls back to).
    enum class Surface { Code, Plain };

    // Loads the property `key` of `element` (added with an empty value when missing). The
    // element belongs to the caller and must outlive the dialog.
    editcode(wxWindow* parent, pugi::xml_node element, std::string key,
             Surface surface = Surface::Code);

    // The edited text, once the dialog ended with OK; the loaded text before.
    const std::string& text() const { return text_; }

    // The surface the user types into: the code editor, or the plain text control.
    wxWindow* editingSurface() const;
    wxStyledTextCtrl* codeWindow() const { return code_; }
    wxButton* okButton() const { return ok_; }
    wxButton* cancelButton() const { return cancel_; }

  private:
    void ConfigureCodeWindow();
    void RecordLayout();
    void OnSize(wxSizeEvent& event);
    void OnOk(wxCommandEvent& event);
    std::string SurfaceText() const;

    // One control that follows the dialog's size: flag 1 width, 2 height, 4 left, 8 top, each
    // kept at its recorded distance from the client area's right or bottom edge.
    struct LayoutRecord {
        wxWindow* window;
        int distanceX;
        int distanceY;
        int flags;
    };

    pugi::xml_node element_;
    std::string key_;
    std::string text_;
    wxStyledTextCtrl* code_ = nullptr;
    wxTextCtrl* plain_ = nullptr;
    wxButton* ok_ = nullptr;
    wxButton* cancel_ = nullptr;
    std::vector<LayoutRecord> layout_;
};

}  // namespace tsr::shell
