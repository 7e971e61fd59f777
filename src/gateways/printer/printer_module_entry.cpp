// The printer module's side of printer_module_api.h: the table over PrinterGateway. No exception
// leaves the module: a failure is a return code.
#include <new>
#include <string>

#include "gateways/printer/printer_gateway.h"
#include "gateways/printer/printer_module_api.h"

namespace {

tsr::PrinterGateway& Of(void* printer) {
    return *static_cast<tsr::PrinterGateway*>(printer);
}

void* Create() {
    return new (std::nothrow) tsr::PrinterGateway();
}

void Destroy(void* printer) {
    delete static_cast<tsr::PrinterGateway*>(printer);
}

int Open(void* printer, const char* name) {
    try {
        return Of(printer).Open(name ? name : "") ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int IsOpen(const void* printer) {
    return static_cast<const tsr::PrinterGateway*>(printer)->IsOpen() ? 1 : 0;
}

void Close(void* printer) {
    Of(printer).Close();
}

int Print(void* printer, const char* text, size_t size) {
    try {
        return Of(printer).Print(std::string_view(text, size));
    } catch (...) {
        return tsr::kPrintNoMemory;
    }
}

constexpr TessoraPrinterModule kModule = {
    TESSORA_PRINTER_MODULE_VERSION, Create, Destroy, Open, IsOpen, Close, Print,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const TessoraPrinterModule*
tessora_printer_module(void) {
    return &kModule;
}
