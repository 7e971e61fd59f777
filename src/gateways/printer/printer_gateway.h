// The printer gateway: the one print destination of a project, on which the pages' print
// requests print plain text. A destination is a CUPS queue or a PDF file:
//
//   printer name     destination
//   ""               the user's default CUPS destination
//   "file:PATH"      each printed document is written as a PDF to PATH (replacing it)
//   anything else    the CUPS queue ("queue" or "queue/instance") of that name
//
// Every operation holds one lock for its whole duration, so the web server's thread can print
// while the main thread opens or closes the destination.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <mutex>
#include <string>
#include <string_view>

#include "gateways/printer/text_pages.h"

namespace tsr {

// Failures of PrinterGateway::Print.
enum PrintError : int {
    kPrintNotOpen = -1,       // no destination is open
    kPrintLayoutFailed = -2,  // the pages could not be laid out or drawn
    kPrintFileFailed = -3,    // the PDF could not be written to the file
    kPrintJobFailed = -4,     // the print server did not take the job
    kPrintNoMemory = -5,      // memory ran out
};

// The text of a PrintError code; empty for any other value.
const char* PrintErrorText(int code);

class PrinterGateway {
public:
    PrinterGateway() = default;
    PrinterGateway(const PrinterGateway&) = delete;
    PrinterGateway& operator=(const PrinterGateway&) = delete;

    // Closes what was open, then opens `printerName` (see the table above). A file's directory
    // must exist and be writable, and PATH must not name a directory; a CUPS destination must
    // exist on a print server that answers within a couple of seconds (an unreachable server
    // fails the open quickly). Returns true when the destination is open; false leaves nothing
    // open.
    bool Open(const std::string& printerName);

    // True while a destination is open.
    bool IsOpen() const;

    // Forgets the open destination; does nothing when none is open.
    void Close();

    // What is open: "file:PATH", or the name of the CUPS queue (the default destination's own
    // name when it was opened with ""); empty when nothing is open.
    std::string Destination() const;

    // Prints `utf8Text` as one document named "Tsr" on the open destination, laid out as
    // RenderTextPdf does on the destination's default paper (A4 for a file). Bytes that are not
    // valid UTF-8 (and NULs) print as U+FFFD. Returns the number of pages printed; an empty
    // text prints nothing (no job, no file written) and returns 0. On failure returns a
    // PrintError and the destination stays open.
    int Print(std::string_view utf8Text);

private:
    enum class Kind { None, File, Cups };

    bool OpenFile(const std::string& path);
    bool OpenCupsQueue(const std::string& name);
    void CloseLocked();
    int Deliver(std::string_view pdf, int pages);
    // Writes a PDF for a `file:` destination without ever replacing a file it did not write.
    bool WritePdfFile(std::string_view pdf);

    mutable std::mutex mutex_;
    Kind kind_ = Kind::None;
    std::string target_;  // the file's path or the queue's name
    // The file this gateway last wrote for its `file:` destination (replaced by the next print),
    // identified by device, inode, size and modification time so that a file put there by someone else
    // is never replaced.
    std::string written_;
    dev_t writtenDev_ = 0;
    ino_t writtenIno_ = 0;
    off_t writtenSize_ = 0;
    struct timespec writtenChange_ = {};
    PageFormat format_;
};

}  // namespace tsr
