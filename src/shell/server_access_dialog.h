// The "Server access" dialog (Tool menu): listen address, allow and write-allow rules, the users
// file with its users, and HTTPS. It edits designer::ServerAccessSettings; the rules and the
// users file operations live in src/designer.
#pragma once

#include <wx/dialog.h>

#include "designer/server_access.h"

class wxCheckBox;
class wxListBox;
class wxRadioButton;
class wxTextCtrl;

namespace tsr {
class Profile;
}

namespace tsr::shell {

class ServerAccessDialog : public wxDialog {
public:
    ServerAccessDialog(wxWindow* parent, Profile& profile);
    // The settings as saved when the dialog ended with OK.
    const designer::ServerAccessSettings& settings() const { return settings_; }
    // What the server is to be given (checked on OK).
    const designer::ServerSecurity& security() const { return security_; }

private:
    designer::ServerAccessSettings Read() const;
    void FillUsers();
    void OnAddUser(wxCommandEvent&);
    void OnRemoveUser(wxCommandEvent&);
    void OnChangeRole(wxCommandEvent&);
    void OnOk(wxCommandEvent&);
    // Shows `error` (when not empty) and tells whether it was empty.
    bool Fine(const std::string& error);

    Profile& profile_;
    designer::ServerAccessSettings settings_;
    designer::ServerSecurity security_;
    wxTextCtrl *listen_, *allow_, *writeAllow_, *users_, *cert_, *key_;
    wxCheckBox* anonymous_;
    wxRadioButton *tlsOff_, *tlsSelf_, *tlsFiles_;
    wxListBox* userList_;
};

}  // namespace tsr::shell
