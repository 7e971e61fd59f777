#include "shell/server_access_dialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/textdlg.h>

#include "base/strings.h"
#include "platform/profile.h"
#include "shell/ui.h"

namespace tsr::shell {
namespace {

enum Ids { kAddUser = 1300, kRemoveUser, kChangeRole, kUserList };

wxString Text(const std::string& s) { return wxString::FromUTF8(s); }

}  // namespace

ServerAccessDialog::ServerAccessDialog(wxWindow* parent, Profile& profile)
    : wxDialog(parent, wxID_ANY, UiText(kTextServerAccess), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      profile_(profile),
      settings_(designer::LoadServerAccessSettings(profile)) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto field = [&](int label, const std::string& value) {
        top->Add(new wxStaticText(this, wxID_ANY, UiText(label)), 0, wxLEFT | wxRIGHT | wxTOP, 8);
        auto* text = new wxTextCtrl(this, wxID_ANY, Text(value));
        top->Add(text, 0, wxEXPAND | wxLEFT | wxRIGHT, 8);
        return text;
    };
    listen_ = field(kTextListenAddress, settings_.listen);
    allow_ = field(kTextAllowedClients, settings_.allow);
    writeAllow_ = field(kTextWriteClients, settings_.writeAllow);
    users_ = field(kTextUsersFile, settings_.usersFile);

    top->Add(new wxStaticText(this, wxID_ANY, UiText(kTextUsers)), 0, wxLEFT | wxRIGHT | wxTOP, 8);
    auto* usersRow = new wxBoxSizer(wxHORIZONTAL);
    userList_ = new wxListBox(this, kUserList, wxDefaultPosition, wxSize(-1, 90));
    usersRow->Add(userList_, 1, wxEXPAND);
    auto* buttons = new wxBoxSizer(wxVERTICAL);
    buttons->Add(new wxButton(this, kAddUser, UiText(kTextAddUser)), 0, wxEXPAND | wxBOTTOM, 4);
    buttons->Add(new wxButton(this, kChangeRole, UiText(kTextChangeRole)), 0, wxEXPAND | wxBOTTOM, 4);
    buttons->Add(new wxButton(this, kRemoveUser, UiText(kTextRemoveUser)), 0, wxEXPAND);
    usersRow->Add(buttons, 0, wxLEFT, 8);
    top->Add(usersRow, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);
    anonymous_ = new wxCheckBox(this, wxID_ANY, UiText(kTextAnonymousRead));
    anonymous_->SetValue(settings_.anonymousRead);
    top->Add(anonymous_, 0, wxALL, 8);

    tlsOff_ = new wxRadioButton(this, wxID_ANY, UiText(kTextTlsOff), wxDefaultPosition,
                                wxDefaultSize, wxRB_GROUP);
    tlsSelf_ = new wxRadioButton(this, wxID_ANY, UiText(kTextTlsSelfSigned));
    tlsFiles_ = new wxRadioButton(this, wxID_ANY, UiText(kTextTlsFiles));
    for (wxRadioButton* b : {tlsOff_, tlsSelf_, tlsFiles_}) top->Add(b, 0, wxLEFT | wxRIGHT | wxTOP, 8);
    (settings_.tls == designer::TlsChoice::SelfSigned ? tlsSelf_
     : settings_.tls == designer::TlsChoice::Files    ? tlsFiles_
                                                      : tlsOff_)
        ->SetValue(true);
    cert_ = field(kTextTlsCert, settings_.certFile);
    key_ = field(kTextTlsKey, settings_.keyFile);

    top->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 8);
    SetSizerAndFit(top);
    SetSize(wxSize(std::max(GetSize().GetWidth(), 520), GetSize().GetHeight()));
    FillUsers();
    users_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { FillUsers(); });
    Bind(wxEVT_BUTTON, &ServerAccessDialog::OnAddUser, this, kAddUser);
    Bind(wxEVT_BUTTON, &ServerAccessDialog::OnRemoveUser, this, kRemoveUser);
    Bind(wxEVT_BUTTON, &ServerAccessDialog::OnChangeRole, this, kChangeRole);
    Bind(wxEVT_BUTTON, &ServerAccessDialog::OnOk, this, wxID_OK);
}

designer::ServerAccessSettings ServerAccessDialog::Read() const {
    designer::ServerAccessSettings s;
    s.listen = listen_->GetValue().utf8_string();
    s.allow = allow_->GetValue().utf8_string();
    s.writeAllow = writeAllow_->GetValue().utf8_string();
    s.usersFile = users_->GetValue().utf8_string();
    s.anonymousRead = anonymous_->GetValue();
    s.tls = tlsSelf_->GetValue()    ? designer::TlsChoice::SelfSigned
            : tlsFiles_->GetValue() ? designer::TlsChoice::Files
                                    : designer::TlsChoice::Off;
    s.certFile = cert_->GetValue().utf8_string();
    s.keyFile = key_->GetValue().utf8_string();
    return s;
}

bool ServerAccessDialog::Fine(const std::string& error) {
    if (error.empty()) return true;
    wxMessageBox(Text(error), GetTitle(), wxOK | wxICON_ERROR, this);
    return false;
}

void ServerAccessDialog::FillUsers() {
    userList_->Clear();
    std::string error;
    for (const User& u : designer::ReadUsersForDialog(users_->GetValue().utf8_string(), &error))
        userList_->Append(Text(u.name + " (" + RoleText(u.role) + ")"), new wxStringClientData(Text(u.name)));
}

void ServerAccessDialog::OnAddUser(wxCommandEvent&) {
    const std::string file = users_->GetValue().utf8_string();
    if (file.empty()) {
        Fine(LoadString(kTextUsersFile));
        return;
    }
    wxTextEntryDialog name(this, UiText(kTextUserName), GetTitle());
    if (name.ShowModal() != wxID_OK) return;
    wxPasswordEntryDialog password(this, UiText(kTextPassword), GetTitle());
    if (password.ShowModal() != wxID_OK) return;
    wxPasswordEntryDialog again(this, UiText(kTextPasswordAgain), GetTitle());
    if (again.ShowModal() != wxID_OK) return;
    if (password.GetValue() != again.GetValue()) {
        Fine(LoadString(kMsgPasswordsDiffer));
        return;
    }
    const int role = wxMessageBox(UiText(kTextOperatorRole), GetTitle(), wxYES_NO | wxICON_QUESTION, this);
    if (Fine(designer::AddOrChangeUser(file, name.GetValue().utf8_string(),
                                       role == wxYES ? Role::Operator : Role::Viewer,
                                       password.GetValue().utf8_string())))
        FillUsers();
}

void ServerAccessDialog::OnRemoveUser(wxCommandEvent&) {
    const int at = userList_->GetSelection();
    if (at == wxNOT_FOUND) return;
    auto* name = static_cast<wxStringClientData*>(userList_->GetClientObject(static_cast<unsigned>(at)));
    if (Fine(designer::RemoveUser(users_->GetValue().utf8_string(), name->GetData().utf8_string())))
        FillUsers();
}

void ServerAccessDialog::OnChangeRole(wxCommandEvent&) {
    const int at = userList_->GetSelection();
    if (at == wxNOT_FOUND) return;
    auto* name = static_cast<wxStringClientData*>(userList_->GetClientObject(static_cast<unsigned>(at)));
    const std::string file = users_->GetValue().utf8_string();
    std::string error;
    for (const User& u : designer::ReadUsersForDialog(file, &error)) {
        if (u.name != name->GetData().utf8_string()) continue;
        const Role other = u.role == Role::Operator ? Role::Viewer : Role::Operator;
        if (Fine(designer::ChangeUserRole(file, u.name, other))) FillUsers();
        return;
    }
    Fine(error);
}

void ServerAccessDialog::OnOk(wxCommandEvent&) {
    const designer::ServerAccessSettings s = Read();
    designer::ServerSecurity security = designer::BuildServerSecurity(s);
    if (!Fine(security.error)) return;  // the dialog stays open for the user to correct it
    if (!Fine(designer::SaveServerAccessSettings(profile_, s))) return;
    settings_ = s;
    security_ = std::move(security);
    EndModal(wxID_OK);
}

}  // namespace tsr::shell
