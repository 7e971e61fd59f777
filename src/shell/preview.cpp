#include "shell/preview.h"

#include <wx/sizer.h>
#include <wx/webview.h>

#include <fstream>
#include <iterator>

namespace tsr::shell {
namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

bool PreviewHost::Start(wxWindow* frame) {
    if (!wxWebView::IsBackendAvailable(wxWebViewBackendDefault)) return false;
    view_ = wxWebView::New(frame, wxID_ANY, wxWebViewDefaultURLStr, wxDefaultPosition,
                           frame->GetClientSize(), wxWebViewBackendDefault, wxBORDER_NONE);
    if (!view_) return false;
    // The page's own context menu would offer navigation away from the application.
    view_->EnableContextMenu(false);
    // The engine first loads its blank page; a URL asked for before that is done would be
    // replaced by it, so the first real load waits for it.
    view_->Bind(wxEVT_WEBVIEW_LOADED, [this](wxWebViewEvent& event) {
        event.Skip();
        if (ready_) return;
        ready_ = true;
        if (!pending_.empty()) Refresh(pending_, pendingPage_);
    });
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(view_, 1, wxEXPAND);
    frame->SetSizer(sizer);
    frame->Layout();
    return true;
}

void PreviewHost::Stop() {
    if (!view_) return;
    view_->Destroy();
    view_ = nullptr;
}

void PreviewHost::Show(const std::string& url) {
    // Before the engine is ready the last generation's URL is already waiting.
    if (!view_ || !ready_ || url == url_) return;
    url_ = url;
    view_->LoadURL(wxString::FromUTF8(url));
    ++loads_;
}

void PreviewHost::Refresh(const std::string& url, const std::string& pagePath) {
    if (!view_) return;
    if (!ready_) {
        pending_ = url;
        pendingPage_ = pagePath;
        return;
    }
    std::string page = ReadWhole(pagePath);
    if (url != url_) {
        url_ = url;
        pageText_ = std::move(page);
        view_->LoadURL(wxString::FromUTF8(url));
        ++loads_;
        return;
    }
    if (page == pageText_) return;
    pageText_ = std::move(page);
    view_->Reload(wxWEBVIEW_RELOAD_NO_CACHE);
    ++loads_;
}

}  // namespace tsr::shell
