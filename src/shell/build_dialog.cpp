#include "shell/build_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "base/strings.h"
#include "designer/build_settings.h"
#include "platform/profile.h"
#include "shell/ui.h"

namespace tsr::shell {

generate::generate(wxWindow* parent, Profile& profile, std::string outputDirectory)
    : wxDialog(parent, wxID_ANY, UiText(kTextGenerateCaption)),
      profile_(profile),
      outputDirectory_(std::move(outputDirectory)) {
    SetClientSize(DialogRect(this, 0, 0, 316, 82).GetSize());
    // The label spans the dialog's width, so that the longer French text fits.
    wxRect r = DialogRect(this, 6, 6, 300, 8);
    new wxStaticText(this, wxID_ANY, UiText(kTextTargetDirectory), r.GetPosition(), r.GetSize());
    r = DialogRect(this, 6, 18, 300, 14);
    target_ = new wxTextCtrl(this, 1014, wxString(), r.GetPosition(), r.GetSize());
    r = DialogRect(this, 6, 42, 300, 10);
    use83_ = new wxCheckBox(this, 1015, UiText(kTextConvert83), r.GetPosition(), r.GetSize());
    r = DialogRect(this, 204, 60, 50, 14);
    new wxButton(this, wxID_CANCEL, UiText(kTextCancel), r.GetPosition(), r.GetSize());
    r = DialogRect(this, 258, 60, 50, 14);
    ok_ = new wxButton(this, wxID_OK, UiText(kTextOk), r.GetPosition(), r.GetSize());
    ok_->SetDefault();

    const designer::BuildSettings settings = designer::LoadBuildSettings(profile_);
    target_->SetValue(wxString::FromUTF8(settings.targetDirectory));
    target_->SetMaxLength(1023);
    use83_->SetValue(settings.use83);
    Bind(wxEVT_BUTTON, &generate::OnOk, this, wxID_OK);
}

void generate::OnOk(wxCommandEvent&) {
    designer::BuildSettings settings;
    settings.targetDirectory = target_->GetValue().utf8_string();
    settings.use83 = use83_->GetValue();
    std::string failedFile;
    Status saved;
    const int code = designer::RunBuild(profile_, settings, outputDirectory_, &failedFile, &saved);
    if (code != 0) {
        // The dialog stays open so that the user can correct the directory; the files copied
        // so far stay.
        wxMessageDialog box(this, UiText(kMsgErrorGeneratingFiles), GetTitle(), wxOK | wxICON_ERROR);
        box.SetExtendedMessage(wxString::FromUTF8(failedFile));
        box.ShowModal();
        return;
    }
    EndModal(wxID_OK);
}

}  // namespace tsr::shell
