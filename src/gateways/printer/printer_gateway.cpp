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

// `path` with "-N" before its extension: report.pdf -> report-2.pdf, out -> out-2.
std::string NumberedName(const std::string& path, int n) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > (slash == std::string::npos ? 0 : slash + 1);
    if (!hasExtension) return path + "-" + std::to_string(n);
    return path.substr(0, dot) + "-" + std::to_string(n) + path.substr(dot);
}

// Creates a new file beside `path` with the permissions a new file gets from the user's umask.
int CreateTemporaryBeside(const std::string& path, std::string& temporary) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(random() % 1000000);
        int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
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
    written_.clear();
    target_.clear();
    format_ = PageFormat{};
}

bool PrinterGateway::WritePdfFile(std::string_view pdf) {
    std::string temporary;
    int fd = CreateTemporaryBeside(target_, temporary);
    if (fd < 0) return false;
    struct stat st;
    // The file written last time is replaced in place of the document it held, keeping its mode.
    // Inode numbers are reused at once, so the size and the modification time must match too.
    const bool ours = !written_.empty() && lstat(written_.c_str(), &st) == 0 &&
                      S_ISREG(st.st_mode) && st.st_dev == writtenDev_ && st.st_ino == writtenIno_ &&
                      st.st_size == writtenSize_ && st.st_mtim.tv_sec == writtenChange_.tv_sec &&
                      st.st_mtim.tv_nsec == writtenChange_.tv_nsec;
    bool ok = (!ours || fchmod(fd, st.st_mode & 0777) == 0) && WriteAllToFd(fd, pdf) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    std::string placed;
    if (ok && ours) {
        if (rename(temporary.c_str(), written_.c_str()) == 0) placed = written_;
    } else if (ok) {
        // A new name: the destination itself when it is free, else the next numbered one. link()
        // never replaces what is there, even when another program creates it meanwhile.
        for (int n = 1; n < 1000 && placed.empty(); ++n) {
            const std::string name = n == 1 ? target_ : NumberedName(target_, n);
            if (link(temporary.c_str(), name.c_str()) == 0) placed = name;
            else if (errno != EEXIST) break;
        }
    }
    unlink(temporary.c_str());
    if (placed.empty() || lstat(placed.c_str(), &st) != 0) return false;
    written_ = placed;
    writtenDev_ = st.st_dev;
    writtenIno_ = st.st_ino;
    writtenSize_ = st.st_size;
    writtenChange_ = st.st_mtim;
    return true;
}

int PrinterGateway::Deliver(std::string_view pdf, int pages) {
    if (kind_ == Kind::File) return WritePdfFile(pdf) ? pages : kPrintFileFailed;
    return SubmitCupsJob(target_, pdf) ? pages : kPrintJobFailed;
}

}  // namespace tsr
