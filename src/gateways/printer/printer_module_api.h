// The calls between the program and its printer module (tessora-printer.so beside the program):
// the printer gateway with its Pango, Cairo and CUPS libraries, loaded only when a project opens
// a printer so that every other start of the program maps none of them. Plain C types only, so
// that nothing but this table crosses from one side to the other.
#pragma once

#include <stddef.h>

extern "C" {

// Raised whenever a call's meaning changes; the program refuses a module of another version.
#define TESSORA_PRINTER_MODULE_VERSION 1

struct TessoraPrinterModule {
    int version;
    // A printer gateway with nothing open; nullptr when memory ran out.
    void* (*create)(void);
    void (*destroy)(void* printer);
    // PrinterGateway::Open, IsOpen, Close and Print (see printer_gateway.h); true is 1.
    int (*open)(void* printer, const char* printerName);
    int (*is_open)(const void* printer);
    void (*close)(void* printer);
    int (*print)(void* printer, const char* utf8Text, size_t size);
};

// The module's one exported symbol.
#define TESSORA_PRINTER_MODULE_SYMBOL "tessora_printer_module"
typedef const TessoraPrinterModule* (*TessoraPrinterModuleEntry)(void);
}
