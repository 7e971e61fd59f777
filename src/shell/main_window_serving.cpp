// The main window's driving of the web server and the gateways: who may reach the server,
// stopping it before another project, connecting a browser to it, and the retry tick of the
// gateways and the preview.
#include "shell/main_window.h"

#include "base/strings.h"
#include "designer/tools.h"
#include "platform/process.h"
#include "shell/main_window_parts.h"
#include "shell/server_access_dialog.h"

namespace tsr::shell {

void MainWindow::ApplyServerSecurity(const designer::ServerSecurity& security) {
    hooks_.SetAccess(security.access);
    const std::string& path = project_.currentPath();
    const size_t slash = path.find_last_of('/');
    hooks_.SetSecurity(security.tls, security.users, security.anonymousRead,
                       "Tessora " + (path.empty() ? std::string("panel") : path.substr(slash + 1)));
    if (!security.fingerprint.empty()) {
        std::string line = LoadString(kTextTlsFingerprint);
        line.replace(line.find("%s"), 2, security.fingerprint);
        log_.LogText(line, kLogGreen);
    }
}

void MainWindow::OnServerAccess(wxCommandEvent&) {
    shell::ServerAccessDialog dialog(this, profile_);
    if (dialog.ShowModal() != wxID_OK) return;
    ApplyServerSecurity(dialog.security());
    RunRefreshCycle();
}

void MainWindow::StopServing() {
    if (server_.IsWebServerRunning()) server_.StopWebServer();
    gateways_.StopGateways(project_.document());
}

void MainWindow::OnConnectWithBrowser(wxCommandEvent&) {
    if (!server_.IsWebServerRunning()) return;
    LaunchDetached({"xdg-open", designer::LocalServerUrl(server_.ListeningPort(), server_.UsesTls())});
}

void MainWindow::OnRetryTimer(wxTimerEvent&) {
    if (server_.IsWebServerRunning()) gateways_.RetryGateways(project_.document());
    // A preview that could not reach the server tries again.
    if (previewHost_.failed()) RefreshPreview();
}

}  // namespace tsr::shell
