// The build dialog: asks for the target directory and the 8.3 option, keeps both in the
// user's profile, and copies the generated application there on OK.
#pragma once

#include <wx/dialog.h>

#include <string>

class wxTextCtrl;
class wxCheckBox;
class wxButton;

namespace tsr {
class Profile;
}

namespace tsr::shell {

class generate : public wxDialog {
  public:
    // `profile` and `outputDirectory` must outlive the dialog.
    generate(wxWindow* parent, Profile& profile, std::string outputDirectory);

    wxTextCtrl* targetField() const { return target_; }
    wxCheckBox* use83Box() const { return use83_; }
    wxButton* okButton() const { return ok_; }

  private:
    void OnOk(wxCommandEvent& event);

    Profile& profile_;
    std::string outputDirectory_;
    wxTextCtrl* target_ = nullptr;
    wxCheckBox* use83_ = nullptr;
    wxButton* ok_ = nullptr;
};

}  // namespace tsr::shell
