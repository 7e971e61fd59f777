#include "shell/preview.h"

#include <dlfcn.h>
#include <wx/sizer.h>
#include <wx/webview.h>

namespace tsr::shell {
namespace {

// The few calls of the browser engine (WebKitGTK, which the toolkit's web view is built on)
// that the toolkit does not offer, looked up in the running program. When the engine is
// another one they are not found and nothing is done.
void ForgetEarlierRuns() {
    using GetDefault = void* (*)();
    using SetCacheModel = void (*)(void* context, int model);
    using GetDataManager = void* (*)(void* context);
    using ClearData = void (*)(void* manager, unsigned types, long long timeSpan,
                               void* cancellable, void* callback, void* data);
    auto getDefault =
        reinterpret_cast<GetDefault>(dlsym(RTLD_DEFAULT, "webkit_web_context_get_default"));
    auto setCacheModel =
        reinterpret_cast<SetCacheModel>(dlsym(RTLD_DEFAULT, "webkit_web_context_set_cache_model"));
    auto getDataManager = reinterpret_cast<GetDataManager>(
        dlsym(RTLD_DEFAULT, "webkit_web_context_get_website_data_manager"));
    auto clearData =
        reinterpret_cast<ClearData>(dlsym(RTLD_DEFAULT, "webkit_website_data_manager_clear"));
    if (!getDefault) return;
    void* context = getDefault();
    if (!context) return;
    // WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER: no memory and no disk cache of resources. The served
    // files may be kept up to 30 seconds (max-age=30), which would show a page of a project
    // opened before on the same address.
    constexpr int kNoCache = 0;
    if (setCacheModel) setCacheModel(context, kNoCache);
    if (!getDataManager || !clearData) return;
    void* manager = getDataManager(context);
    // Of any age: the memory and disk caches, the offline application cache, session and local
    // storage, IndexedDB databases, cookies, the HSTS cache, service worker registrations and
    // the DOM cache (the WEBKIT_WEBSITE_DATA_* flags of those kinds).
    constexpr unsigned kAllData = (1u << 0) | (1u << 1) | (1u << 2) | (1u << 3) | (1u << 4) |
                                  (1u << 6) | (1u << 8) | (1u << 10) | (1u << 12) | (1u << 13);
    if (manager) clearData(manager, kAllData, 0, nullptr, nullptr, nullptr);
}

}  // namespace

bool PreviewHost::Start(wxWindow* frame) {
    if (!wxWebView::IsBackendAvailable(wxWebViewBackendDefault)) return false;
    view_ = wxWebView::New(frame, wxID_ANY, wxWebViewDefaultURLStr, wxDefaultPosition,
                           frame->GetClientSize(), wxWebViewBackendDefault, wxBORDER_NONE);
    if (!view_) return false;
    // Before the first page of the application is asked for (the engine's own blank page comes
    // first, see below).
    ForgetEarlierRuns();
    // The page's own context menu would offer navigation away from the application.
    view_->EnableContextMenu(false);
    // The engine first loads its blank page; a URL asked for before that is done would be
    // replaced by it, so the first real load waits for it.
    view_->Bind(wxEVT_WEBVIEW_LOADED, [this](wxWebViewEvent& event) {
        event.Skip();
        if (ready_) return;
        ready_ = true;
        if (!pending_.empty()) Refresh(pending_);
    });
    view_->Bind(wxEVT_WEBVIEW_ERROR, [this](wxWebViewEvent& event) {
        event.Skip();
        if (ready_) failed_ = true;
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
    failed_ = false;
    view_->LoadURL(wxString::FromUTF8(url));
    ++loads_;
}

void PreviewHost::Refresh(const std::string& url) {
    if (!view_) return;
    if (!ready_) {
        pending_ = url;
        return;
    }
    failed_ = false;
    if (url != url_) {
        url_ = url;
        view_->LoadURL(wxString::FromUTF8(url));
    } else {
        view_->Reload(wxWEBVIEW_RELOAD_NO_CACHE);
    }
    ++loads_;
}

}  // namespace tsr::shell
