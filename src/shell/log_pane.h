// The log pane of the main window: one coloured, time-stamped line per message, appended at
// the end without taking the keyboard focus. Any thread may log through it.
#pragma once

#include <wx/textctrl.h>

#include <string>
#include <string_view>

#include "base/log_sink.h"

namespace tsr::shell {

class LogPane : public wxTextCtrl, public LogSink {
  public:
    // Lines kept before the oldest are dropped, and how many go at once, so that a pane that
    // runs for days stays quick to append to.
    static constexpr int kMaxLines = 5000;
    static constexpr int kTrimLines = 1000;

    LogPane(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);

    // Appends "TIME: text" and a line feed in `colour` (0x00BBGGRR). A line feed inside `text`
    // continues the message on the next line under the same time stamp. Called from another
    // thread, the line is appended by the user-interface thread soon after.
    void LogText(std::string_view text, unsigned colour) override;

    // The number of lines the pane holds now.
    int LineCount() const { return lines_; }

  private:
    void Append(const std::string& line, unsigned colour);
    void TrimOldest();

    int lines_ = 0;
};

}  // namespace tsr::shell
