#include "base/log_fold.h"

#include <ctime>

#include "base/strings.h"

namespace tsr {

std::string FoldedLine(std::string_view text, std::string_view lastTime, unsigned repeats,
                       Language language) {
    std::string line = LoadString(repeats == 1 ? kMsgAgainOnce : kMsgAgainTimes, language);
    auto put = [&](std::string_view mark, std::string_view value) {
        const size_t at = line.find(mark);
        if (at != std::string::npos) line.replace(at, mark.size(), value);
    };
    // The count and the time first: the line's own text may hold a mark.
    put("%n", std::to_string(repeats));
    put("%t", lastTime);
    put("%s", text);
    return line;
}

std::string FoldedLine(std::string_view text, std::string_view lastTime, unsigned repeats) {
    return FoldedLine(text, lastTime, repeats, SystemLanguage());
}

FoldingLogSink::FoldingLogSink(LogSink& next, Clock clock)
    : next_(next), clock_(std::move(clock)) {}

std::string FoldingLogSink::LocalClock() {
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char stamp[16];
    strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    return stamp;
}

void FoldingLogSink::LogText(std::string_view text, unsigned colour) {
    next_.LogText(text, colour);
}

uint64_t FoldingLogSink::LogRewritable(std::string_view text, unsigned colour) {
    return next_.LogRewritable(text, colour);
}

void FoldingLogSink::RewriteLine(uint64_t id, std::string_view text, unsigned colour) {
    next_.RewriteLine(id, text, colour);
}

void FoldingLogSink::LogState(std::string_view source, std::string_view text, unsigned colour) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = states_.find(source);
    if (it != states_.end() && it->second.text == text && it->second.colour == colour) {
        State& state = it->second;
        ++state.repeats;
        state.lastTime = clock_();
        if (state.line != 0)
            next_.RewriteLine(state.line, FoldedLine(state.text, state.lastTime, state.repeats),
                              state.colour);
        return;
    }
    if (it == states_.end()) {
        it = states_.emplace(std::string(source), State{}).first;
    } else if (it->second.line == 0 && it->second.repeats > 0) {
        // A sink that cannot rewrite gets the repeats of the state that ends now.
        const State& old = it->second;
        next_.LogText(FoldedLine(old.text, old.lastTime, old.repeats), old.colour);
    }
    State& state = it->second;
    state = State{std::string(text), colour, next_.LogRewritable(text, colour), 0, {}};
}

}  // namespace tsr
