// The log pane of the main window: one coloured, time-stamped line per message, appended at
// the end without taking the keyboard focus. Any thread may log through it.
#pragma once

#include <wx/textctrl.h>

#include <atomic>
#include <cstdint>
#include <map>
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
    // A line as LogText writes it, whose text RewriteLine may replace later (a gateway's state
    // line that shows how often it came again). Any thread.
    uint64_t LogRewritable(std::string_view text, unsigned colour) override;
    void RewriteLine(uint64_t id, std::string_view text, unsigned colour) override;

    // The number of lines the pane holds now.
    int LineCount() const { return lines_; }

  private:
    void Log(std::string_view text, unsigned colour, uint64_t id);
    void Append(const std::string& line, unsigned colour, uint64_t id, long stamp);
    void Rewrite(uint64_t id, const std::string& text, unsigned colour);
    void TrimOldest();

    // Where a rewritable line is: its line counted from the first line ever appended, and the
    // length of its "TIME: " prefix. Used on the user-interface thread only.
    struct Placed {
        long line;
        long stamp;
    };

    int lines_ = 0;
    long dropped_ = 0;  // lines trimmed off the top so far
    std::atomic<uint64_t> nextId_{1};
    std::map<uint64_t, Placed> rewritable_;
};

}  // namespace tsr::shell
