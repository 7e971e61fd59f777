// The main window's property grid: the rows of the selected object as designer::BuildPropertyGrid
// gives them, each edited with the control of its kind, and every edit handed back to the
// designer's rules (checked, applied, recorded for undo).
#include "shell/main_window.h"

#include <wx/propgrid/advprops.h>
#include <wx/propgrid/editors.h>
#include <wx/propgrid/manager.h>
#include <wx/propgrid/props.h>

#include <functional>

#include "designer/property_grid.h"
#include "shell/main_window_parts.h"
#include "shell/script_editor.h"

namespace tsr::shell {
namespace {

// The "editor" of rows that take no typing (choices, booleans): no control at all, so that a
// double click anywhere on the row reaches the grid, which answers it with the next value.
class NoTypingEditor : public wxPGEditor {
  public:
    wxString GetName() const override { return "TessoraNoTyping"; }
    wxPGWindowList CreateControls(wxPropertyGrid*, wxPGProperty*, const wxPoint&,
                                  const wxSize&) const override {
        return wxPGWindowList(nullptr);
    }
    void UpdateControl(wxPGProperty*, wxWindow*) const override {}
    bool OnEvent(wxPropertyGrid*, wxPGProperty*, wxWindow*, wxEvent&) const override {
        return false;
    }
};

// A script or template row: its button opens the script editor, and the edited text becomes the
// row's value (the grid then reports the change when the text differs).
class LongTextProperty : public wxLongStringProperty {
  public:
    using Editor = std::function<std::optional<std::string>()>;
    LongTextProperty(const wxString& label, const wxString& name, const wxString& value,
                     Editor editor)
        : wxLongStringProperty(label, name, value), editor_(std::move(editor)) {}

  protected:
    bool DisplayEditorDialog(wxPropertyGrid*, wxVariant& value) override {
        const std::optional<std::string> text = editor_();
        if (!text) return false;
        const wxString edited = wxString::FromUTF8(*text);
        if (edited == value.GetString()) return false;
        value = edited;
        return true;
    }

  private:
    Editor editor_;
};

// A colour row: the picker's last entry, which opens the full colour dialog, reads "Other".
wxPGProperty* NewColourRow(const wxString& label, const wxString& name, const wxColour& colour) {
    auto* p = new wxColourProperty(label, name, colour);
    wxPGChoices choices = p->GetChoices().Copy();
    if (choices.GetCount() > 0) {
        choices[choices.GetCount() - 1].SetText("Other");
        p->SetChoices(choices);
        p->SetValue(WXVARIANT(colour));
    }
    return p;
}

wxPGEditor* NoTyping() {
    static wxPGEditor* editor = wxPropertyGrid::RegisterEditorClass(new NoTypingEditor);
    return editor;
}

}  // namespace

void MainWindow::BuildPropertyGrid(const wxTreeItemId& item) {
    wxPropertyGrid* pg = grid_->GetGrid();
    pg->Clear();
    gridRows_.clear();
    const int serial = SerialOfItem(item);
    if (serial < 0) return;
    auto built = designer::BuildPropertyGrid(project_.document(), serial, expertMode_);
    if (!built) return;
    gridRows_ = built->rows;
    for (designer::GridRow& row : gridRows_)
        designer::ShowServerState(project_.document(), row, server_.IsWebServerRunning());
    pg->Append(new wxPropertyCategory(wxString::FromUTF8(built->caption)));
    for (size_t i = 0; i < gridRows_.size(); ++i) {
        const designer::GridRow& row = gridRows_[i];
        const wxString label = wxString::FromUTF8(row.label);
        const wxString name = wxString::Format("row%zu", i);
        const designer::RowValue& v = row.value;
        wxPGProperty* p = nullptr;
        switch (row.kind) {
            case PropertyKind::UInt16:
            case PropertyKind::UInt32:
            case PropertyKind::Real:
                // Typed as text: the designer checks it against the property's range when it is
                // entered (OnGridChanging), with a message of its own.
                p = new wxStringProperty(label, name,
                                         wxString::FromUTF8(designer::RowDisplayText(row.kind, v)));
                break;
            case PropertyKind::Colour:
                p = NewColourRow(
                    label, name,
                    wxColour(v.number & 0xFF, (v.number >> 8) & 0xFF, (v.number >> 16) & 0xFF));
                break;
            case PropertyKind::Boolean:
                // Shown as text: a double click switches it, as for the choices below.
                p = new wxStringProperty(label, name, BooleanText(v.boolean));
                p->SetEditor(NoTyping());
                break;
            case PropertyKind::Choice:
                p = new wxStringProperty(label, name, wxString::FromUTF8(v.text));
                p->SetEditor(NoTyping());
                break;
            case PropertyKind::Template:
            case PropertyKind::Script:
                p = new LongTextProperty(label, name, wxString::FromUTF8(v.text),
                                         [this, ref = row.ref] { return EditLongText(ref); });
                break;
            case PropertyKind::Text:
            default:
                p = new wxStringProperty(label, name, wxString::FromUTF8(v.text));
                break;
        }
        if (!row.description.empty()) p->SetHelpString(wxString::FromUTF8(row.description));
        p->SetClientData(RowTag(i));
        pg->Append(p);
    }
    pg->SetSplitterPosition(200);
    pg->Refresh();
}

void MainWindow::OnGridChanged(wxPropertyGridEvent& event) {
    wxPGProperty* p = event.GetProperty();
    if (!p || p->IsCategory()) return;
    const size_t index = RowIndex(p->GetClientData());
    if (index >= gridRows_.size()) return;
    designer::GridRow& row = gridRows_[index];
    designer::RowValue value = row.value;
    const wxVariant variant = p->GetValue();
    switch (row.kind) {
        case PropertyKind::UInt16:
        case PropertyKind::UInt32:
        case PropertyKind::Real: {
            // Checked already when it was entered; shown as it is stored ("+80" shows "80").
            const designer::NumericEntry entry =
                designer::CheckNumericEntry(row.ref, row.kind, p->GetValueAsString().utf8_string());
            if (!entry.accepted) return;
            value = entry.value;
            const wxString shown = wxString::FromUTF8(designer::RowDisplayText(row.kind, value));
            if (shown != p->GetValueAsString()) p->SetValueFromString(shown);
            break;
        }
        case PropertyKind::Colour: {
            // The row holds a plain colour; the picker's own type is read too.
            wxColour c;
            if (variant.GetType() == "wxColourPropertyValue") {
                wxColourPropertyValue cpv;
                cpv << variant;
                c = cpv.m_colour;
            } else {
                c << variant;
            }
            value.number = c.Red() | (c.Green() << 8) | (static_cast<uint32_t>(c.Blue()) << 16);
            break;
        }
        case PropertyKind::Template:
        case PropertyKind::Script:
            // The raw text: line feeds stay line feeds.
            value.text = variant.GetString().utf8_string();
            break;
        default:
            value.text = p->GetValueAsString().utf8_string();
            break;
    }
    row.value = value;
    if (designer::IsServerSettingRow(row.ref)) hooks_.RetryServerStart();
    designer::DocumentSnapshot before = designer::TakeSnapshot(project_.document());
    const designer::EditOutcome outcome =
        designer::ApplyPropertyEdit(project_.document(), row.ref, value);
    RecordStep(std::move(before));
    if (outcome.refresh) RunRefreshCycle();
}

void MainWindow::OnGridChanging(wxPropertyGridEvent& event) {
    wxPGProperty* p = event.GetProperty();
    if (!p || p->IsCategory()) return;
    const size_t index = RowIndex(p->GetClientData());
    if (index >= gridRows_.size()) return;
    const designer::GridRow& row = gridRows_[index];
    if (row.kind != PropertyKind::UInt16 && row.kind != PropertyKind::UInt32 &&
        row.kind != PropertyKind::Real)
        return;
    const designer::NumericEntry entry =
        designer::CheckNumericEntry(row.ref, row.kind, event.GetValue().GetString().utf8_string());
    if (entry.accepted) return;
    // Refused: the row goes back to its old value, and the message says the range.
    event.Veto();
    event.SetValidationFailureBehavior(wxPG_VFB_BEEP);
    CallAfter([this, text = entry.error] {
        if (!shutDown_) ShowError(text);
    });
}

void MainWindow::OnGridDoubleClick(wxPropertyGridEvent& event) {
    wxPGProperty* p = event.GetProperty();
    if (!p || p->IsCategory()) return;
    const size_t index = RowIndex(p->GetClientData());
    if (index >= gridRows_.size()) return;
    designer::GridRow& row = gridRows_[index];
    const auto next = designer::NextValueOnDoubleClick(row);
    if (!next) return;
    row.value = *next;
    p->SetValue(row.kind == PropertyKind::Boolean ? BooleanText(next->boolean)
                                                  : wxString::FromUTF8(next->text));
    p->SetModifiedStatus(true);
    grid_->GetGrid()->RefreshProperty(p);
    if (designer::IsServerSettingRow(row.ref)) hooks_.RetryServerStart();
    designer::DocumentSnapshot before = designer::TakeSnapshot(project_.document());
    const designer::EditOutcome outcome =
        designer::ApplyPropertyEdit(project_.document(), row.ref, *next);
    RecordStep(std::move(before));
    if (outcome.refresh) RunRefreshCycle();
}

std::optional<std::string> MainWindow::EditLongText(const designer::RowRef& ref) {
    const pugi::xml_node element = project_.document().FindObjectBySerial(ref.serial);
    const char* key = PropertyKeyAt(ref.typeId, ref.propertyIndex);
    if (!element || !key) return std::nullopt;
    editcode dialog(this, element, key);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return dialog.text();
}

}  // namespace tsr::shell
