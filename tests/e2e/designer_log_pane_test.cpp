// The designer's log pane on a real (virtual) display: colours, line feeds inside a message,
// lines logged from another thread, and the trimming of the oldest lines.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>

#include <string>
#include <thread>

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
