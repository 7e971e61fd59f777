#include "gateways/printer_module.h"

#include <dlfcn.h>

#include "base/strings.h"
#include "platform/fs.h"
#include "platform/paths.h"

namespace tsr {

namespace {
constexpr const char* kModuleFile = "tessora-printer.so";
}  // namespace

std::vector<std::string> PrinterModule::Candidates() {
    const std::string dir = ProgramDirectory();
    return {JoinPath(dir, kModuleFile),
            JoinPath(dir, std::string("../lib/tessora/") + kModuleFile)};
}

PrinterModule::~PrinterModule() {
    // The library stays mapped: a page's print may still be unwinding on another thread's stack
    // at exit, and unloading saves nothing then.
    if (printer_) module_->destroy(printer_);
}

bool PrinterModule::LoadLocked() {
    if (module_) return true;
    if (failed_) return false;
    std::string why;  // what each path tried said, "; " between them
    auto fail = [&why](const std::string& reason) { why += (why.empty() ? "" : "; ") + reason; };
    for (const std::string& path : Candidates()) {
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            const char* error = dlerror();
            fail(error ? error : path);
            continue;
        }
        auto entry = reinterpret_cast<TessoraPrinterModuleEntry>(
            dlsym(library, TESSORA_PRINTER_MODULE_SYMBOL));
        const TessoraPrinterModule* module = entry ? entry() : nullptr;
        if (!module || module->version != TESSORA_PRINTER_MODULE_VERSION) {
            fail(path + ": " + LoadString(kMsgPrinterModuleOther));
            dlclose(library);
            continue;
        }
        void* printer = module->create();
        if (!printer) {
            fail(path + ": out of memory");
            dlclose(library);
            continue;
        }
        library_ = library;
        module_ = module;
        printer_ = printer;
        return true;
    }
    failed_ = true;
    std::string line = LoadString(kMsgPrinterModuleMissing);
    const size_t at = line.find("%s");
    if (at != std::string::npos) line.replace(at, 2, why);
    log_.LogText(line, kLogRed);
    return false;
}

bool PrinterModule::Open(const std::string& printerName) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!LoadLocked()) return false;
    return module_->open(printer_, printerName.c_str()) == 1;
}

bool PrinterModule::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return printer_ && module_->is_open(printer_) == 1;
}

void PrinterModule::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (printer_) module_->close(printer_);
}

int PrinterModule::Print(std::string_view utf8Text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!printer_) return -1;  // kPrintNotOpen
    return module_->print(printer_, utf8Text.data(), utf8Text.size());
}

}  // namespace tsr
