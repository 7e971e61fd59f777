#include "shell/script_editor.h"

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/stc/stc.h>
#include <wx/textctrl.h>

#include <algorithm>

#include "base/strings.h"
#include "model/project_document.h"
#include "shell/ui.h"

namespace tsr::shell {
namespace {

// Editor messages that move the text as bytes, with no conversion on the way.
constexpr int kSciSetText = 2181;
constexpr int kSciGetText = 2182;

// Colours as the editor takes them: 0x00BBGGRR.
wxColour Bgr(unsigned long value) {
    return wxColour(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

}  // namespace

editcode::editcode(wxWindow* parent, pugi::xml_node element, std::string key, Surface surface)
    : wxDialog(parent, wxID_ANY, UiText(kTextEditCaption),
               wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxRESIZE_BORDER | wxCLOSE_BOX | wxFRAME_TOOL_WINDOW),
      element_(element),
      key_(std::move(key)) {
    SetClientSize(DialogRect(this, 0, 0, 492, 295).GetSize());
    const wxRect area = DialogRect(this, 7, 7, 478, 260);
    plain_ = new wxTextCtrl(this, 1011, wxString(), area.GetPosition(), area.GetSize(),
                            wxTE_MULTILINE | wxTE_RICH2 | wxTE_PROCESS_ENTER | wxTE_PROCESS_TAB |
                                wxHSCROLL | wxVSCROLL | wxBORDER_SUNKEN);
    plain_->Hide();
    wxRect r = DialogRect(this, 379, 274, 50, 14);
    cancel_ = new wxButton(this, wxID_CANCEL, UiText(kTextCancel),
                           r.GetPosition(), r.GetSize());
    r = DialogRect(this, 435, 274, 50, 14);
    ok_ = new wxButton(this, wxID_OK, UiText(kTextOk), r.GetPosition(),
                       r.GetSize());
    ok_->SetDefault();

    // The code editor takes the text area's place; without it the text area is shown.
    if (surface == Surface::Code) {
        code_ = new wxStyledTextCtrl;
        if (code_->Create(this, 10000, area.GetPosition(), area.GetSize(), wxBORDER_SUNKEN)) {
            ConfigureCodeWindow();
        } else {
            delete code_;
            code_ = nullptr;
        }
    }
    if (!code_) plain_->Show();
    RecordLayout();

    text_ = GetPropertyOr(element_, key_, "");
    if (code_) {
        // The bytes go in unchanged, line ends included.
        code_->SendMsg(kSciSetText, 0, reinterpret_cast<wxIntPtr>(text_.c_str()));
        code_->EmptyUndoBuffer();
    } else {
        plain_->SetValue(wxString::FromUTF8(text_));
    }
    editingSurface()->SetFocus();

    Bind(wxEVT_SIZE, &editcode::OnSize, this);
    Bind(wxEVT_BUTTON, &editcode::OnOk, this, wxID_OK);
}

wxWindow* editcode::editingSurface() const {
    return code_ ? static_cast<wxWindow*>(code_) : static_cast<wxWindow*>(plain_);
}

void editcode::ConfigureCodeWindow() {
    code_->ClearDocumentStyle();
    code_->SetLexer(wxSTC_LEX_CPP);
    code_->SetIndentationGuides(wxSTC_IV_REAL);
    code_->SetTabWidth(4);
    code_->SetIndent(4);
    code_->SetCaretPeriod(400);
    code_->SetMarginWidth(1, 0);
    code_->MarkerDefine(0, wxSTC_MARK_CIRCLE);
    code_->StyleSetForeground(wxSTC_C_DEFAULT, Bgr(0x000000));
    code_->StyleSetForeground(wxSTC_C_COMMENTLINE, Bgr(0x004000));
    code_->StyleSetForeground(wxSTC_C_WORD, Bgr(0xFF0000));
    code_->StyleSetForeground(wxSTC_C_STRING, Bgr(0x0014C8));
    code_->StyleSetForeground(wxSTC_C_PREPROCESSOR, Bgr(0xFF0000));
    code_->StyleSetForeground(wxSTC_C_OPERATOR, Bgr(0x4000FF));
    code_->StyleSetForeground(wxSTC_C_IDENTIFIER, Bgr(0x000000));
    code_->StyleSetBackground(wxSTC_STYLE_BRACELIGHT, Bgr(0x00FF00));
    code_->ConvertEOLs(wxSTC_EOL_LF);
    code_->SetEOLMode(wxSTC_EOL_LF);
    code_->SetCaretLineVisible(true);
    code_->SetCaretLineBackground(Bgr(0x00FFFF));
    code_->SetCaretLineBackAlpha(100);
}

void editcode::RecordLayout() {
    const wxSize client = GetClientSize();
    wxWindow* surface = editingSurface();
    const wxSize size = surface->GetSize();
    layout_.push_back({surface, client.x - size.x, client.y - size.y, 1 | 2});
    for (wxWindow* button : {static_cast<wxWindow*>(ok_), static_cast<wxWindow*>(cancel_)}) {
        const wxPoint pos = button->GetPosition();
        layout_.push_back({button, client.x - pos.x, client.y - pos.y, 4 | 8});
    }
}

void editcode::OnSize(wxSizeEvent& event) {
    event.Skip();
    const wxSize client = GetClientSize();
    for (const LayoutRecord& record : layout_) {
        wxRect r = record.window->GetRect();
        if (record.flags & (4 | 8)) {
            if (record.flags & 4) r.x = client.x - record.distanceX;
            if (record.flags & 8) r.y = client.y - record.distanceY;
            record.window->Move(r.GetPosition());
        }
        if (record.flags & (1 | 2)) {
            if (record.flags & 1) r.width = std::max(0, client.x - record.distanceX);
            if (record.flags & 2) r.height = std::max(0, client.y - record.distanceY);
            record.window->SetSize(r.GetSize());
        }
        record.window->Refresh();
    }
}

std::string editcode::SurfaceText() const {
    if (!code_) return plain_->GetValue().utf8_string();
    // The editor's own bytes, so that line ends and every byte come back as typed.
    const int length = code_->GetTextLength();
    std::string bytes(static_cast<size_t>(length) + 1, '\0');
    code_->SendMsg(kSciGetText, length + 1, reinterpret_cast<wxIntPtr>(bytes.data()));
    bytes.resize(static_cast<size_t>(length));
    return bytes;
}

void editcode::OnOk(wxCommandEvent&) {
    text_ = SurfaceText();
    EndModal(wxID_OK);
}

}  // namespace tsr::shell
