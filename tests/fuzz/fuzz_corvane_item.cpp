// Fuzzes the Corvane read and write items: the input is an item as a page sends it. The item
// parser, the print-format check and the formatter run on it, and an accepted format is checked
// against an independent reading of what a safe format is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gateways/corvane/items.h"

namespace {

using namespace tsr::corvane;

void Check(bool condition) {
    if (!condition) abort();
}

// An independent reading of an accepted format: exactly one "%" that is not part of "%%", which
// is followed only by flag, digit and "." characters and then one conversion that fits.
void CheckSafeFormat(std::string_view text, bool floating) {
    Check(text.size() <= kMaxFormatLength);
    int conversions = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        Check(static_cast<unsigned char>(text[i]) >= 0x20 && text[i] != 0x7F);
        if (text[i] != '%') continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
            continue;
        }
        ++conversions;
        size_t j = i + 1;
        while (j < text.size() &&
               std::string_view("-+ #0123456789.").find(text[j]) != std::string_view::npos)
            ++j;
        Check(j < text.size());
        const std::string_view allowed = floating ? "feEgG" : "diuxXo";
        Check(allowed.find(text[j]) != std::string_view::npos);
        i = j;
    }
    Check(conversions == 1);
}

void CheckFormatted(const ValueFormat& format, const std::string& text) {
    Check(text.size() <= format.prefix.size() + format.suffix.size() + 256);
    Check(text.compare(0, format.prefix.size(), format.prefix) == 0);
}

void CheckFormat(std::string_view text, bool floating) {
    const std::optional<ValueFormat> format = ParseValueFormat(text, floating);
    if (!format) return;
    CheckSafeFormat(text, floating);
    Check(format->width <= kMaxWidth && format->precision <= kMaxPrecision);
    if (floating) {
        for (double v : {0.0, -1.5, 3.4028234663852886e38, -1e-45, 1e300})
            CheckFormatted(*format, FormatFloat(*format, v));
        return;
    }
    for (int32_t v : {0, -1, 2147483647, -2147483647 - 1, 4096})
        CheckFormatted(*format, FormatInteger(*format, v));
}

void CheckReadItem(std::string_view item) {
    const ReadItemResult result = ParseReadItem(item);
    Check(result.request.has_value() == result.error.empty());
    if (!result.request) {
        Check(result.error.starts_with("[error : bad syntax : ") && result.error.ends_with("]"));
        return;
    }
    const ReadRequest& r = *result.request;
    Check(r.count >= 1 && r.count <= kMaxCount && r.first.index + r.count - 1 <= kMaxIndex);
    Check(r.first.type <= kLong);
    for (uint32_t raw : {0u, 1u, 0xFFFFu, 0x3FC00000u, 0xFFFFFFFFu, 0x7F800001u}) {
        const std::string text = FormatValue(r.first.type, raw, r.format);
        Check(text.size() <= kMaxFormatLength + 256);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view item(reinterpret_cast<const char*>(data), size);
    CheckReadItem(item);
    CheckFormat(item, false);
    CheckFormat(item, true);
    const ReadItemParts parts = SplitReadItem(item);
    if (parts.hasFormat) {
        CheckFormat(parts.format, false);
        CheckFormat(parts.format, true);
    }
    const auto write = ParseWriteItem(item);
    if (write) Check(write->variable.type <= kLong && write->variable.index <= kMaxIndex);
    return 0;
}
