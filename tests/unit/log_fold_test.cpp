#include "base/log_fold.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tsr {
namespace {

// Keeps its lines in memory and rewrites them on request, as the designer's log pane does.
class RewritingSink : public LogSink {
  public:
    void LogText(std::string_view text, unsigned) override { lines.emplace_back(text); }
    uint64_t LogRewritable(std::string_view text, unsigned colour) override {
        LogText(text, colour);
        return lines.size();
    }
    void RewriteLine(uint64_t id, std::string_view text, unsigned) override {
        lines.at(id - 1) = std::string(text);
    }
    std::vector<std::string> lines;
};

// One call of the case: a state line of `source`, or a plain line when `source` is empty.
struct Call {
    const char* source;
    const char* text;
};

struct Case {
    const char* name;
    std::vector<Call> calls;
    std::vector<std::string> rewritten;  // what a sink that rewrites lines shows
    std::vector<std::string> terminal;   // what a terminal shows
};

const Case kCases[] = {
    {"the same line three times folds into the first",
     {{"uni", "Connected to U"}, {"uni", "Connected to U"}, {"uni", "Connected to U"}},
     {"Connected to U (again at T2, 2 times)"},
     {"Connected to U"}},
    {"one repeat",
     {{"uni", "Connected to U"}, {"uni", "Connected to U"}},
     {"Connected to U (again at T1)"},
     {"Connected to U"}},
    {"another line between the repeats stays after the folded line",
     {{"uni", "Connected to U"}, {"", "Client refused"}, {"uni", "Connected to U"}},
     {"Connected to U (again at T2)", "Client refused"},
     {"Connected to U", "Client refused"}},
    {"a plain line is never folded",
     {{"", "Client refused"}, {"", "Client refused"}},
     {"Client refused", "Client refused"},
     {"Client refused", "Client refused"}},
    {"a state change is a new line",
     {{"uni", "Cannot connect to U"},
      {"uni", "Cannot connect to U"},
      {"uni", "Cannot connect to U"},
      {"uni", "Connected to U"},
      {"uni", "Connected to U"}},
     {"Cannot connect to U (again at T2, 2 times)", "Connected to U (again at T4)"},
     {"Cannot connect to U", "Cannot connect to U (again at T2, 2 times)", "Connected to U"}},
    {"back to an earlier state is a new line too",
     {{"uni", "Connected to U"}, {"uni", "Cannot connect to U"}, {"uni", "Connected to U"}},
     {"Connected to U", "Cannot connect to U", "Connected to U"},
     {"Connected to U", "Cannot connect to U", "Connected to U"}},
    {"two gateways fold each into its own line",
     {{"uni", "Connected to U"},
      {"mb 1", "Cannot connect to M"},
      {"uni", "Connected to U"},
      {"mb 1", "Cannot connect to M"},
      {"mb 1", "Cannot connect to M"}},
     {"Connected to U (again at T2)", "Cannot connect to M (again at T4, 2 times)"},
     {"Connected to U", "Cannot connect to M"}},
    {"the same text from two gateways is two lines",
     {{"mb 1", "Connected"}, {"mb 2", "Connected"}},
     {"Connected", "Connected"},
     {"Connected", "Connected"}},
};

// Runs the calls through a folding sink over `next`; the clock tells the call's index.
void RunCalls(const Case& c, LogSink& next) {
    size_t now = 0;
    FoldingLogSink folding(next, [&] { return "T" + std::to_string(now); });
    for (; now < c.calls.size(); ++now) {
        const Call& call = c.calls[now];
        if (*call.source)
            folding.LogState(call.source, call.text, kLogGreen);
        else
            folding.LogText(call.text, kLogRed);
    }
}

TEST(FoldingLogSink, FoldsRepeatsOfAStateIntoItsFirstLine) {
    setenv("LANG", "C", 1);
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        RewritingSink pane;
        RunCalls(c, pane);
        EXPECT_EQ(pane.lines, c.rewritten);
        RecordingLogSink terminal;
        RunCalls(c, terminal);
        std::vector<std::string> lines;
        for (const RecordingLogSink::Line& line : terminal.Lines()) lines.push_back(line.text);
        EXPECT_EQ(lines, c.terminal);
    }
}

TEST(FoldingLogSink, AFoldedLineKeepsTheColourOfItsState) {
    RecordingLogSink terminal;
    FoldingLogSink folding(terminal, [] { return std::string("T"); });
    folding.LogState("s7", "Cannot connect to S", kLogRed);
    folding.LogState("s7", "Cannot connect to S", kLogRed);
    folding.LogState("s7", "Connected to S", kLogGreen);
    const std::vector<RecordingLogSink::Line> lines = terminal.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].colour, static_cast<unsigned>(kLogRed));
    EXPECT_EQ(lines[2].colour, static_cast<unsigned>(kLogGreen));
}

TEST(FoldedLine, SaysWhenAndHowOftenInEachLanguage) {
    struct LineCase {
        const char* name;
        unsigned repeats;
        Language language;
        const char* expected;
    } cases[] = {
        {"English, once", 1, Language::English, "Connected to X (again at 13:07:49)"},
        {"English, twelve times", 12, Language::English,
         "Connected to X (again at 13:07:49, 12 times)"},
        {"French, once", 1, Language::French, "Connected to X (encore à 13:07:49)"},
        {"French, twelve times", 12, Language::French,
         "Connected to X (encore à 13:07:49, 12 fois)"},
    };
    for (const LineCase& c : cases) {
        EXPECT_EQ(FoldedLine("Connected to X", "13:07:49", c.repeats, c.language), c.expected)
            << c.name;
    }
    // A mark inside the line's own text stays as it is.
    EXPECT_EQ(FoldedLine("50%s %t %n", "1", 2, Language::English),
              "50%s %t %n (again at 1, 2 times)");
}

}  // namespace
}  // namespace tsr
