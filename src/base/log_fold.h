// Folds the repeated state lines of a source (a gateway checked every 5 seconds) into the first
// line of the state, so that a real event does not scroll away among identical lines.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "base/log_sink.h"
#include "base/strings.h"

namespace tsr {

// The text a folded line shows: `text` followed by when it came again and how often, in the
// language of the system ("... (again at 13:07:49, 12 times)").
std::string FoldedLine(std::string_view text, std::string_view lastTime, unsigned repeats,
                       Language language);
std::string FoldedLine(std::string_view text, std::string_view lastTime, unsigned repeats);

// A LogSink in front of another: LogText passes through; LogState writes the first line of each
// state of a source as a new line and folds a repeat of the same text into it. When the sink
// behind can rewrite lines (the log pane) the first line shows the repeats at once; else (a
// terminal) the folded line is written as a line of its own when the state changes, before the
// line of the new state. A state change is always a new line.
class FoldingLogSink : public LogSink {
  public:
    // `clock` gives the time of a repeat as the sink behind writes its stamps ("13:07:49").
    using Clock = std::function<std::string()>;
    explicit FoldingLogSink(LogSink& next, Clock clock = LocalClock);

    void LogText(std::string_view text, unsigned colour) override;
    void LogState(std::string_view source, std::string_view text, unsigned colour) override;
    uint64_t LogRewritable(std::string_view text, unsigned colour) override;
    void RewriteLine(uint64_t id, std::string_view text, unsigned colour) override;

    // The local time as HH:MM:SS.
    static std::string LocalClock();

  private:
    struct State {
        std::string text;
        unsigned colour = 0;
        uint64_t line = 0;  // the id of the first line in the sink behind, 0 when not rewritable
        unsigned repeats = 0;
        std::string lastTime;
    };

    LogSink& next_;
    Clock clock_;
    std::mutex mutex_;
    std::map<std::string, State, std::less<>> states_;
};

}  // namespace tsr
