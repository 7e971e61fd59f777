// The printer gateway as the rest of the program sees it: the printer module (tessora-printer.so,
// with Pango, Cairo and CUPS) is loaded on the first Open, from beside the program (the build
// tree) or from ../lib/tessora relative to it (an installed tree), and stays loaded until the
// program ends. A start that opens no printer maps none of those libraries.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/log_sink.h"
#include "gateways/printer/printer_module_api.h"

namespace tsr {

class PrinterModule {
  public:
    // `log` gets the line saying why the module could not be loaded.
    explicit PrinterModule(LogSink& log) : log_(log) {}
    ~PrinterModule();
    PrinterModule(const PrinterModule&) = delete;
    PrinterModule& operator=(const PrinterModule&) = delete;

    // As PrinterGateway: Open loads the module first if need be and is false when it cannot be
    // loaded; without the module nothing is open, and Print answers kPrintNotOpen (-1).
    bool Open(const std::string& printerName);
    bool IsOpen() const;
    void Close();
    int Print(std::string_view utf8Text);

    // The paths tried for the module, in order.
    static std::vector<std::string> Candidates();

  private:
    // Loads the module and makes its printer; false (and one log line) when that fails.
    bool LoadLocked();

    LogSink& log_;
    mutable std::mutex mutex_;
    void* library_ = nullptr;
    const TessoraPrinterModule* module_ = nullptr;
    void* printer_ = nullptr;
    bool failed_ = false;  // the load failed once: it is not tried (nor logged) again
};

}  // namespace tsr
