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
    // The time is read when the message is logged, not when the pane shows it.
    std::string line(wxDateTime::Now().FormatTime().utf8_string());
    line += ": ";
    line.append(text);
    line += '\n';
    if (wxThread::IsMain()) {
        Append(line, colour);
        return;
    }
    CallAfter([this, line, colour] { Append(line, colour); });
}

void LogPane::Append(const std::string& line, unsigned colour) {
    // Appending moves neither the focus nor the user's own typing position elsewhere than the end.
    SetDefaultStyle(wxTextAttr(FromColourRef(colour)));
    AppendText(wxString::FromUTF8(line));
    lines_ += static_cast<int>(std::count(line.begin(), line.end(), '\n'));
    if (lines_ > kMaxLines) TrimOldest();
}

void LogPane::TrimOldest() {
    const long end = XYToPosition(0, kTrimLines);
    if (end <= 0) return;
    Remove(0, end);
    lines_ -= kTrimLines;
    SetInsertionPointEnd();
    ShowPosition(GetLastPosition());
}

}  // namespace tsr::shell
