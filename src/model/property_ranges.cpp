#include "model/property_ranges.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "base/strings.h"

namespace tsr {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Ranges narrower than the kind's, by property key (the same key means the same thing on every
// type that has it).
struct KeyRange {
    const char* key;
    PropertyRange range;
};
constexpr KeyRange kKeyRanges[] = {
    {"webserverport", {1, 65535}},          // a TCP port; 0 would pick a port at random
    {"refreshperiod", {50, 4294967295.0}},  // ms between reads; less floods the server
    {"length", {1, 4294967295.0}},          // points a plot keeps
    {"len", {1, 4294967295.0}},             // variables of a table link
    {"unit", {0, 255}},                     // a Modbus unit identifier is one byte
    // The knob's sizes.
    {"width", {0, kInfinity}},
    {"thickness", {0, kInfinity}},
    {"cursor", {0, kInfinity}},
    {"dataarc", {0, kInfinity}},
};

// The number `text` holds, whole (leading and trailing blanks allowed); false for any other text.
bool ReadWholeNumber(std::string_view text, double& value) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

}  // namespace

bool NumericRange(int typeId, int index, PropertyRange& range) {
    const PropertyDef* def = Property(typeId, index);
    if (!def) return false;
    switch (def->kind) {
        case PropertyKind::UInt16:
            range = {0, 65535};
            break;
        case PropertyKind::UInt32:
            range = {0, 4294967295.0};
            break;
        case PropertyKind::Real:
            range = {-kInfinity, kInfinity};
            break;
        default:
            return false;
    }
    for (const KeyRange& k : kKeyRanges) {
        if (std::string_view(k.key) == def->key) range = k.range;
    }
    return true;
}

std::string RangeNumberText(double value) {
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc()) return {};
    return std::string(buffer, end);
}

std::vector<std::string> ClampOutOfRangeValues(ProjectDocument& doc) {
    std::vector<std::string> lines;
    doc.ForEachObject([&](pugi::xml_node object, int) {
        const int type = ObjectTypeOf(object);
        for (int i = 0; i < PropertyCount(type); ++i) {
            PropertyRange range;
            if (!NumericRange(type, i, range)) continue;
            pugi::xml_attribute a = object.attribute(PropertyKeyAt(type, i));
            double value = 0;
            if (!a || !ReadWholeNumber(a.value(), value)) continue;
            if (value >= range.min && value <= range.max) continue;
            const double clamped = value < range.min ? range.min : range.max;
            std::string line = LoadString(kTextValueClamped);
            const std::string was = a.value();
            const std::string now = RangeNumberText(clamped);
            a.set_value(now.c_str());
            for (const std::string& part : {was, std::string(PropertyLabel(type, i)),
                                            std::string(TypeDisplayName(type)), now}) {
                const size_t at = line.find("%s");
                if (at == std::string::npos) break;
                line.replace(at, 2, part);
            }
            lines.push_back(line);
        }
        return true;
    });
    return lines;
}

}  // namespace tsr
