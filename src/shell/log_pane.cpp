#include "shell/log_pane.h"

#include <wx/datetime.h>
#include <wx/thread.h>

#include <algorithm>

namespace tsr::shell {
namespace {

wxColour FromColourRef(unsigned colour) {
    return wxColour(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

}  // namespace

LogPane::LogPane(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    // Long lines wrap at word boundaries, so that a reason at the end of a line is read without
    // scrolling sideways.
    : wxTextCtrl(parent, id, wxString(), pos, size,
                 wxTE_MULTILINE | wxTE_RICH2 | wxTE_WORDWRAP | wxVSCROLL | wxTE_NOHIDESEL) {}

void LogPane::LogText(std::string_view text, unsigned colour) {
    Log(text, colour, 0);
}

uint64_t LogPane::LogRewritable(std::string_view text, unsigned colour) {
    const uint64_t id = nextId_++;
    Log(text, colour, id);
    return id;
}

void LogPane::Log(std::string_view text, unsigned colour, uint64_t id) {
    // The time is read when the message is logged, not when the pane shows it.
    const wxString stamp = wxDateTime::Now().FormatTime() + ": ";
    std::string line(stamp.utf8_string());
    line.append(text);
    line += '\n';
    const long stampLength = static_cast<long>(stamp.length());
    if (wxThread::IsMain()) {
        Append(line, colour, id, stampLength);
        return;
    }
    CallAfter([this, line, colour, id, stampLength] { Append(line, colour, id, stampLength); });
}

void LogPane::Append(const std::string& line, unsigned colour, uint64_t id, long stamp) {
    // Appending moves neither the focus nor the user's own typing position elsewhere than the end.
    if (id != 0) rewritable_[id] = {dropped_ + lines_, stamp};
    SetDefaultStyle(wxTextAttr(FromColourRef(colour)));
    AppendText(wxString::FromUTF8(line));
    lines_ += static_cast<int>(std::count(line.begin(), line.end(), '\n'));
    if (lines_ > kMaxLines) TrimOldest();
}

void LogPane::RewriteLine(uint64_t id, std::string_view text, unsigned colour) {
    if (wxThread::IsMain()) {
        Rewrite(id, std::string(text), colour);
        return;
    }
    CallAfter([this, id, line = std::string(text), colour] { Rewrite(id, line, colour); });
}

void LogPane::Rewrite(uint64_t id, const std::string& text, unsigned colour) {
    const auto it = rewritable_.find(id);
    if (it == rewritable_.end()) return;  // trimmed off the top
    const long y = it->second.line - dropped_;
    const long start = XYToPosition(it->second.stamp, y);
    const long end = XYToPosition(0, y) + GetLineLength(y);
    if (start < 0 || end < start) return;
    Replace(start, end, wxString::FromUTF8(text));
    SetStyle(start, start + static_cast<long>(wxString::FromUTF8(text).length()),
             wxTextAttr(FromColourRef(colour)));
    SetInsertionPointEnd();
}

void LogPane::TrimOldest() {
    const long end = XYToPosition(0, kTrimLines);
    if (end <= 0) return;
    Remove(0, end);
    lines_ -= kTrimLines;
    dropped_ += kTrimLines;
    // The rewritable lines that went with them are forgotten.
    while (!rewritable_.empty() && rewritable_.begin()->second.line < dropped_)
        rewritable_.erase(rewritable_.begin());
    SetInsertionPointEnd();
    ShowPosition(GetLastPosition());
}

}  // namespace tsr::shell
