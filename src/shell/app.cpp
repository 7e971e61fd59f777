// tessora: the designer. Opens the main window; a project path and "/hide" may be given.
#include <wx/app.h>
#include <wx/image.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/strings.h"
#include "platform/show_requests.h"
#include "shell/main_window.h"

namespace tsr::shell {
namespace {

class TessoraApp : public wxApp {
  public:
    bool OnInit() override {
        wxInitAllImageHandlers();
        std::vector<std::string> args;
        for (int i = 1; i < argc; ++i) args.push_back(argv[i].utf8_string());
        // Designers already running show their windows, hidden ones included.
        SendShowRequests();
        auto* window = new MainWindow(ParseStartOptions(args));
        SetTopWindow(window);
        window->Show();
        // SIGTERM and SIGINT close the window as the user would, from the event loop.
        SetSignalHandler(SIGTERM, &TessoraApp::OnStopSignal);
        SetSignalHandler(SIGINT, &TessoraApp::OnStopSignal);
        return true;
    }

  private:
    static void OnStopSignal(int) {
        if (wxWindow* top = wxTheApp->GetTopWindow()) top->Close();
    }
};

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace
}  // namespace tsr::shell

wxIMPLEMENT_APP_NO_MAIN(tsr::shell::TessoraApp);

int main(int argc, char** argv) {
    if (!tsr::shell::HasDisplay()) {
        std::fprintf(stderr, "%s\n", tsr::LoadString(tsr::kTextNoDisplay).c_str());
        return 1;
    }
    return wxEntry(argc, argv);
}
