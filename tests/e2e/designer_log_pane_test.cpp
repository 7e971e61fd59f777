// The designer's log pane on a real (virtual) display: colours, line feeds inside a message,
// lines logged from another thread, the trimming of the oldest lines, and the repeats of a
// gateway's state line folded into its first line.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>

#include <string>
#include <thread>

#include "base/log_fold.h"
#include "base/log_sink.h"
#include "shell/log_pane.h"

namespace {

using tsr::shell::LogPane;

class LogPaneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        frame_ = new wxFrame(nullptr, wxID_ANY, "log pane test");
        pane_ = new LogPane(frame_, wxID_ANY, wxDefaultPosition, wxSize(400, 200));
        frame_->Show();
    }
    void TearDown() override { frame_->Destroy(); }

    std::string Line(int n) const { return pane_->GetLineText(n).utf8_string(); }
    wxColour ColourAt(long position) const {
        wxTextAttr attr;
        EXPECT_TRUE(pane_->GetStyle(position, attr));
        return attr.GetTextColour();
    }

    wxFrame* frame_ = nullptr;
    LogPane* pane_ = nullptr;
};

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST_F(LogPaneTest, ConsecutiveLinesKeepTheirOwnColours) {
    pane_->LogText("failure", tsr::kLogRed);
    pane_->LogText("connected", tsr::kLogGreen);
    pane_->LogText("Generate: x", tsr::kLogBlue);
    ASSERT_EQ(pane_->LineCount(), 3);
    EXPECT_TRUE(EndsWith(Line(0), ": failure")) << Line(0);
    EXPECT_TRUE(EndsWith(Line(1), ": connected")) << Line(1);
    EXPECT_TRUE(EndsWith(Line(2), ": Generate: x")) << Line(2);
    // Colours are 0x00BBGGRR: red 255, green 0x008000, blue 0xFF0000.
    EXPECT_EQ(ColourAt(pane_->XYToPosition(2, 0)), wxColour(255, 0, 0));
    EXPECT_EQ(ColourAt(pane_->XYToPosition(2, 1)), wxColour(0, 128, 0));
    EXPECT_EQ(ColourAt(pane_->XYToPosition(2, 2)), wxColour(0, 0, 255));
}

TEST_F(LogPaneTest, ALineFeedInAMessageGivesTwoLinesUnderOneTimeStamp) {
    pane_->LogText("first\nsecond", tsr::kLogGreen);
    ASSERT_EQ(pane_->LineCount(), 2);
    const std::string first = Line(0);
    EXPECT_TRUE(EndsWith(first, ": first")) << first;
    EXPECT_GT(first.size(), std::string(": first").size());  // the time stamp comes first
    EXPECT_EQ(Line(1), "second");
    EXPECT_EQ(ColourAt(pane_->XYToPosition(1, 1)), wxColour(0, 128, 0));
}

TEST_F(LogPaneTest, LinesFromAnotherThreadAppearOnceTheEventsAreHandled) {
    tsr::LogSink& sink = *pane_;
    std::thread worker([&sink] {
        for (int i = 0; i < 3; ++i)
            sink.LogText("Webserver : request " + std::to_string(i), tsr::kLogBlue);
    });
    worker.join();
    EXPECT_EQ(pane_->LineCount(), 0);  // nothing touched the control from the other thread
    wxTheApp->ProcessPendingEvents();
    ASSERT_EQ(pane_->LineCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(EndsWith(Line(i), ": Webserver : request " + std::to_string(i))) << Line(i);
}

TEST_F(LogPaneTest, TheOldestLinesAreDroppedPastTheLimit) {
    for (int i = 0; i <= LogPane::kMaxLines; ++i)
        pane_->LogText("line " + std::to_string(i), tsr::kLogBlue);
    EXPECT_EQ(pane_->LineCount(), LogPane::kMaxLines + 1 - LogPane::kTrimLines);
    EXPECT_TRUE(EndsWith(Line(0), ": line " + std::to_string(LogPane::kTrimLines))) << Line(0);
    const int last = pane_->LineCount() - 1;
    EXPECT_TRUE(EndsWith(Line(last), ": line " + std::to_string(LogPane::kMaxLines))) << Line(last);
    // Appending goes on at the end after a trim.
    pane_->LogText("after", tsr::kLogRed);
    EXPECT_TRUE(EndsWith(Line(last + 1), ": after")) << Line(last + 1);
}

TEST_F(LogPaneTest, RepeatsOfAStateLineRewriteItsFirstLineInPlace) {
    setenv("LANG", "C", 1);
    tsr::FoldingLogSink folding(*pane_, [] { return std::string("13:07:49"); });
    struct Step {
        const char* source;  // empty: a plain line
        const char* text;
        unsigned colour;
    } steps[] = {
        {"uni", "Cannot connect to Unity", tsr::kLogRed},
        {"mb", "Connected to Modbus", tsr::kLogGreen},
        {"", "Refused client", tsr::kLogRed},
        {"uni", "Cannot connect to Unity", tsr::kLogRed},
        {"uni", "Cannot connect to Unity", tsr::kLogRed},
        {"mb", "Connected to Modbus", tsr::kLogGreen},
        {"uni", "Connected to Unity", tsr::kLogGreen},
    };
    for (const Step& step : steps) {
        if (*step.source)
            folding.LogState(step.source, step.text, step.colour);
        else
            folding.LogText(step.text, step.colour);
    }
    const char* expected[] = {
        ": Cannot connect to Unity (again at 13:07:49, 2 times)",
        ": Connected to Modbus (again at 13:07:49)",
        ": Refused client",
        ": Connected to Unity",
    };
    ASSERT_EQ(pane_->LineCount(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(EndsWith(Line(i), expected[i])) << Line(i);
    // The rewritten lines keep their colours, up to their ends.
    const long firstEnd = pane_->XYToPosition(0, 0) + pane_->GetLineLength(0) - 1;
    EXPECT_EQ(ColourAt(firstEnd), wxColour(255, 0, 0));
    EXPECT_EQ(ColourAt(pane_->XYToPosition(0, 1) + pane_->GetLineLength(1) - 1),
              wxColour(0, 128, 0));
    EXPECT_EQ(ColourAt(pane_->XYToPosition(2, 2)), wxColour(255, 0, 0));
}

TEST_F(LogPaneTest, ALineRewrittenFromAnotherThreadChangesOnceTheEventsAreHandled) {
    tsr::LogSink& sink = *pane_;
    uint64_t id = 0;
    std::thread worker([&] {
        id = sink.LogRewritable("Connected to S7", tsr::kLogGreen);
        sink.LogText("next", tsr::kLogBlue);
        sink.RewriteLine(id, "Connected to S7 (again)", tsr::kLogGreen);
    });
    worker.join();
    EXPECT_NE(id, 0u);
    wxTheApp->ProcessPendingEvents();
    ASSERT_EQ(pane_->LineCount(), 2);
    EXPECT_TRUE(EndsWith(Line(0), ": Connected to S7 (again)")) << Line(0);
    EXPECT_TRUE(EndsWith(Line(1), ": next")) << Line(1);
}

TEST_F(LogPaneTest, ARewrittenLineFollowsTheTrimAndIsForgottenOnceDropped) {
    const uint64_t early = pane_->LogRewritable("early", tsr::kLogGreen);
    // "late" is the first line kept by the trim.
    for (int i = 1; i < LogPane::kTrimLines; ++i)
        pane_->LogText("line " + std::to_string(i), tsr::kLogBlue);
    const uint64_t late = pane_->LogRewritable("late", tsr::kLogGreen);
    for (int i = pane_->LineCount(); i <= LogPane::kMaxLines; ++i)
        pane_->LogText("more " + std::to_string(i), tsr::kLogBlue);
    ASSERT_EQ(pane_->LineCount(), LogPane::kMaxLines + 1 - LogPane::kTrimLines);
    EXPECT_TRUE(EndsWith(Line(0), ": late")) << Line(0);
    const std::string last = Line(pane_->LineCount() - 1);
    pane_->RewriteLine(early, "early again", tsr::kLogGreen);  // dropped: nothing changes
    pane_->RewriteLine(late, "late again", tsr::kLogGreen);
    EXPECT_TRUE(EndsWith(Line(0), ": late again")) << Line(0);
    EXPECT_EQ(Line(pane_->LineCount() - 1), last);
    EXPECT_EQ(pane_->LineCount(), LogPane::kMaxLines + 1 - LogPane::kTrimLines);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "cannot start the toolkit (is there a display?)\n");
        return 1;
    }
    const int rc = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return rc;
}
