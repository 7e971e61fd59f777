// Fuzzes reading a project document, then walks it as the program does. A document that reads
// must write and read back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "generator/template.h"
#include "model/document_text.h"
#include "model/project_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pugi::xml_document parsed;
    std::string text(reinterpret_cast<const char*>(data), size);
    if (!tsr::ReadDocumentText(text, parsed)) return 0;

    tsr::ProjectDocument doc;
    doc.Adopt(parsed);
    doc.RecountTypes();
    int count = 0;
    tsr::GenerationContext context;
    doc.ForEachObject([&](pugi::xml_node n, int) {
        // Serial lookups are linear: cross-check the first objects only, keeping runs fast.
        if (count < 64 && (doc.FindObjectBySerial(count) != n || doc.SerialOf(n) != count)) abort();
        ++count;
        std::string html = tsr::GetPropertyWithDefault(n, "htmlh", tsr::ObjectTypeOf(n));
        tsr::expandTemplate(html, n, doc.typeCounters(), context);
        return true;
    });
    if (doc.FindObjectBySerial(count)) abort();

    const std::string written = tsr::WriteDocumentText(doc.xml());
    pugi::xml_document again;
    if (!tsr::ReadDocumentText(written, again)) abort();
    if (tsr::WriteDocumentText(again) != written) abort();
    return 0;
}
