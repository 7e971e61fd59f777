// Fuzzes the template language: input = "value\0template\0placeholder text", with the first
// byte choosing the parent type and whether knobs count as present.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "generator/template.h"
#include "model/catalogue.h"

namespace {

std::string NextPart(const uint8_t*& data, size_t& size) {
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    size_t n = end ? static_cast<size_t>(end - data) : size;
    std::string part(reinterpret_cast<const char*>(data), n);
    size_t used = end ? n + 1 : n;
    data += used;
    size -= used;
    return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t selector = data[0];
    ++data;
    --size;
    const std::string value = NextPart(data, size);
    const std::string text = NextPart(data, size);
    const std::string links = NextPart(data, size);

    pugi::xml_document doc;
    const char* parentKey = tsr::TypeKey(selector % tsr::kTypeCount);
    pugi::xml_node parent = doc.append_child("tsr").append_child("project").append_child(parentKey);
    pugi::xml_node object = parent.append_child("knob");
    for (const char* key : {"text", "id", "readonly", "script", "c"})
        object.append_attribute(key).set_value(value.c_str());

    tsr::TypeCounters counters{};
    counters[tsr::kTypeKnob] = selector & 0x80 ? 1 : 0;
    tsr::GenerationContext context;
    context.currentPageName = value;
    std::string out = text;
    tsr::ExpandOutcome outcome = tsr::expandTemplate(out, object, counters, context);
    if (out.size() > tsr::kMaxExpandedBytes + text.size()) abort();
    if (outcome != tsr::ExpandOutcome::Done && context.itemCounter != 1) abort();
    if (out.find("$$$") == std::string::npos && outcome != tsr::ExpandOutcome::Done) abort();

    std::string linkText = links;
    tsr::expandLinkPlaceholders(linkText, tsr::FindTypeByKey("cvnlink"), tsr::kTypeKnob, object,
                                parent);
    return 0;
}
