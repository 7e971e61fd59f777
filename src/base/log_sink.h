// One interface through which every subsystem writes log lines: a text and a colour.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

// Colours are 24-bit values with red in the low byte (0x00BBGGRR).
enum LogColour : unsigned {
    kLogRed = 255,          // failures
    kLogGreen = 32768,      // success, connections, state changes
    kLogBlue = 16711680,    // generation passes, request echoes
};

// Receives one message per call; the sink adds the time stamp. May be called from any thread.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void LogText(std::string_view text, unsigned colour) = 0;
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
