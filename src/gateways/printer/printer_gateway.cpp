#include "gateways/printer/printer_gateway.h"

#include "platform/fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "gateways/printer/cups_queue.h"

namespace tsr {
namespace {

constexpr std::string_view kFilePrefix = "file:";

bool IsWritableDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(path.c_str(), W_OK) == 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes `data` to a new file beside `path` and renames it over `path`, so a reader sees the
// old document or the new one, never a part.
bool ReplaceFile(const std::string& path, std::string_view data) {
    std::string temporary = path + ".XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fchmod(fd, 0644) == 0 && WriteAllToFd(fd, data);
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

}  // namespace

const char* PrintErrorText(int code) {
    switch (code) {
        case kPrintNotOpen:
            return "no printer is open";
        case kPrintLayoutFailed:
            return "the pages could not be laid out";
        case kPrintFileFailed:
            return "the PDF file could not be written";
        case kPrintJobFailed:
            return "the print server did not take the job";
        case kPrintNoMemory:
            return "out of memory";
        default:
            return "";
    }
}

bool PrinterGateway::Open(const std::string& printerName) {
    std::lock_guard<std::mutex> lock(mutex_);
    CloseLocked();
    try {
        if (printerName.starts_with(kFilePrefix)) {
            return OpenFile(printerName.substr(kFilePrefix.size()));
        }
        return OpenCupsQueue(printerName);
    } catch (const std::bad_alloc&) {
        CloseLocked();
        return false;
    }
}

bool PrinterGateway::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return kind_ != Kind::None;
}

void PrinterGateway::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    CloseLocked();
}

std::string PrinterGateway::Destination() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (kind_ == Kind::File) return std::string(kFilePrefix) + target_;
    return target_;
}

int PrinterGateway::Print(std::string_view utf8Text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (kind_ == Kind::None) return kPrintNotOpen;
    try {
        std::string pdf;
        int pages = RenderTextPdf(SanitizeUtf8(utf8Text), format_, pdf);
        if (pages < 0) return kPrintLayoutFailed;
        if (pages == 0) return 0;
        return Deliver(pdf, pages);
    } catch (const std::bad_alloc&) {
        return kPrintNoMemory;
    }
}

bool PrinterGateway::OpenFile(const std::string& path) {
    if (path.empty() || path.back() == '/' || IsDirectory(path)) return false;
    if (!IsWritableDirectory(DirectoryOf(path))) return false;
    kind_ = Kind::File;
    target_ = path;
    format_ = PageFormat{};
    return true;
}

bool PrinterGateway::OpenCupsQueue(const std::string& name) {
    CupsQueue queue;
    if (!FindCupsQueue(name, queue)) return false;
    kind_ = Kind::Cups;
    target_ = queue.name;
    format_ = queue.format;
    return true;
}

void PrinterGateway::CloseLocked() {
    kind_ = Kind::None;
    target_.clear();
    format_ = PageFormat{};
}

int PrinterGateway::Deliver(std::string_view pdf, int pages) const {
    if (kind_ == Kind::File) return ReplaceFile(target_, pdf) ? pages : kPrintFileFailed;
    return SubmitCupsJob(target_, pdf) ? pages : kPrintJobFailed;
}

}  // namespace tsr
