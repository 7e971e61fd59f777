// The web preview: a browser engine inside the main window's preview frame, showing the
// generated application as a browser shows it.
#pragma once

#include <string>

class wxWindow;
class wxWebView;

namespace tsr::shell {

class PreviewHost {
  public:
    // Creates the browser inside `frame`, filling it and following its size. False when no
    // browser engine can be created; the designer then works without preview. The engine keeps
    // no cache, and whatever an earlier run left in its data (cache, storage, cookies) is cleared
    // first, so no page of an earlier run can be shown.
    bool Start(wxWindow* frame);

    // After a generation: shows `url`, loading it when it is not the URL shown and else reloading
    // it; either way nothing comes from a cache, so the page is the one just generated.
    void Refresh(const std::string& url);

    // On a repaint: loads `url` only when it is not the URL shown; the page is not read.
    void Show(const std::string& url);

    // Closes the browser (before the files it shows go away); later refreshes do nothing.
    void Stop();

    bool running() const { return view_ != nullptr; }
    wxWebView* view() const { return view_; }
    const std::string& shownUrl() const { return url_; }
    // How many times a page was loaded or reloaded.
    int loads() const { return loads_; }
    // True when the last load failed (no answer from the server): the page shows the engine's
    // error until it is loaded again.
    bool failed() const { return failed_; }

  private:
    wxWebView* view_ = nullptr;
    bool ready_ = false;  // the engine's own first page is loaded
    std::string pending_;
    std::string url_;
    int loads_ = 0;
    bool failed_ = false;
};

}  // namespace tsr::shell
