// One interface through which every subsystem writes log lines: a text and a colour.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

// Colours are 24-bit values with red in the low byte (0x00BBGGRR).
enum LogColour : unsigned {
    kLogRed = 255,          // failures
    kLogGreen = 32768,      // successes and connections made
    kLogBlue = 16711680,    // generation passes, request echoes, connections closed
};

// Receives one message per call; the sink adds the time stamp. May be called from any thread.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void LogText(std::string_view text, unsigned colour) = 0;

    // A line that tells the state of `source` (a gateway's "Connected to ..." or "Cannot connect
    // to ..."), logged again each time the state is checked. A sink that folds repeats keys them
    // by `source`; this one logs every line.
    virtual void LogState(std::string_view source, std::string_view text, unsigned colour) {
        (void)source;
        LogText(text, colour);
    }

    // A line that later calls may rewrite in place: returns its id for RewriteLine, or 0 when
    // this sink cannot change a line once written (a terminal), having logged it as LogText.
    virtual uint64_t LogRewritable(std::string_view text, unsigned colour) {
        LogText(text, colour);
        return 0;
    }
    // Replaces the text of the line `id` returned, keeping its time stamp; nothing when the line
    // is gone (dropped as one of the oldest).
    virtual void RewriteLine(uint64_t id, std::string_view text, unsigned colour) {
        (void)id, (void)text, (void)colour;
    }
};

// Keeps every line in memory; for tests and for callers that show the lines later.
class RecordingLogSink : public LogSink {
public:
    struct Line {
        std::string text;
        unsigned colour;
    };
    void LogText(std::string_view text, unsigned colour) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back({std::string(text), colour});
    }
    std::vector<Line> Lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};

// Discards everything.
class NullLogSink : public LogSink {
public:
    void LogText(std::string_view, unsigned) override {}
};

}  // namespace tsr
