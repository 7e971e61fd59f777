#include "designer/property_grid.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/strings.h"
#include "base/text.h"
#include "generator/link_scripts.h"
#include "model/property_ranges.h"

namespace tsr::designer {
namespace {

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The leading floating-point number of `s` as the C `atof` reads it in the "C" locale: leading
// white space, an optional sign, then a decimal or hexadecimal number, "inf" or "nan"; 0 when
// there is none.
double AtoF(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    std::string_view rest = s.substr(i);
    auto format = std::chars_format::general;
    if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        rest.remove_prefix(2);
        format = std::chars_format::hex;
    }
    // from_chars takes no sign of its own: a second sign is not a number.
    if (!rest.empty() && (rest[0] == '-' || rest[0] == '+')) return 0.0;
    double value = 0.0;
    auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value, format);
    if (error == std::errc::invalid_argument) return 0.0;
    (void)end;
    return negative ? -value : value;
}

std::string FormatReal(double value, std::chars_format format, int precision) {
    char buffer[512];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, format, precision);
    if (error != std::errc()) return {};
    return std::string(buffer, end);
}

// True when `text` equals `pattern`, where each '#' of the pattern matches one or more digits.
bool MatchesNumbered(std::string_view text, std::string_view pattern) {
    size_t t = 0;
    for (size_t p = 0; p < pattern.size(); ++p) {
        if (pattern[p] != '#') {
            if (t >= text.size() || text[t] != pattern[p]) return false;
            ++t;
            continue;
        }
        if (t >= text.size() || !IsDigit(text[t])) return false;
        while (t < text.size() && IsDigit(text[t])) ++t;
    }
    return t == text.size();
}

bool IsTyped(PropertyKind kind) {
    switch (kind) {
        case PropertyKind::Boolean:
        case PropertyKind::UInt16:
        case PropertyKind::Real:
        case PropertyKind::Colour:
        case PropertyKind::UInt32:
            return true;
        default:
            return false;
    }
}

// Catalogue labels the grid shows corrected.
struct LabelFix {
    std::string_view catalogue, shown;
};
constexpr LabelFix kLabelFixes[] = {
    {"Alignement", "Alignment"},
    {"Backfround color", "Background color"},
};

GridRow MakeRow(pugi::xml_node element, int typeId, int serial, int index, bool expert) {
    const PropertyDef& def = *Property(typeId, index);
    GridRow row;
    row.ref = {typeId, serial, index};
    row.kind = def.kind;
    row.label = GridLabel(typeId, index);
    if (expert && def.kind != PropertyKind::Colour) row.label += std::string(" (") + def.key + ")";
    if (def.kind != PropertyKind::Colour) row.description = def.description;
    if (def.kind == PropertyKind::Choice) row.options = ChoiceOptions(def.options);
    row.typing = def.kind == PropertyKind::Text || def.kind == PropertyKind::UInt16 ||
                 def.kind == PropertyKind::Real || def.kind == PropertyKind::UInt32;
    row.button = def.kind == PropertyKind::Template || def.kind == PropertyKind::Script;
    const std::string text = GetPropertyOr(element, def.key, def.defaultText);
    row.value = ParseRowValue(def.kind, text);
    row.differsFromDefault = DiffersFromDefault(def.kind, text, def.defaultText);
    return row;
}

}  // namespace

std::string GridLabel(int typeId, int index) {
    const std::string_view label = PropertyLabel(typeId, index);
    for (const LabelFix& fix : kLabelFixes) {
        if (label == fix.catalogue) return std::string(fix.shown);
    }
    return std::string(label);
}

std::vector<std::string> ChoiceOptions(std::string_view list) {
    std::vector<std::string> options;
    while (!list.empty()) {
        size_t end = list.find(';');
        std::string_view field = list.substr(0, end);
        if (field.empty()) break;
        options.emplace_back(field);
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);
    }
    return options;
}

RowValue ParseRowValue(PropertyKind kind, std::string_view text) {
    RowValue value;
    switch (kind) {
        case PropertyKind::Boolean:
            value.boolean = AtoI(text) != 0;
            break;
        case PropertyKind::UInt16:
            value.number = static_cast<uint32_t>(AtoI(text)) & 0xFFFFu;
            break;
        case PropertyKind::UInt32:
        case PropertyKind::Colour:
            value.number = static_cast<uint32_t>(AtoI(text));
            break;
        case PropertyKind::Real:
            value.real = AtoF(text);
            break;
        default:
            value.text = std::string(text);
            break;
    }
    return value;
}

std::string FormatRowValue(PropertyKind kind, const RowValue& value) {
    switch (kind) {
        case PropertyKind::Boolean:
            return value.boolean ? "1" : "0";
        case PropertyKind::UInt16:
            return std::to_string(value.number & 0xFFFFu);
        case PropertyKind::UInt32:
        case PropertyKind::Colour:
            return std::to_string(value.number);
        case PropertyKind::Real:
            return FormatReal(value.real, std::chars_format::general, 6);
        default:
            return value.text;
    }
}

std::string RealDisplayText(double value) {
    return RangeNumberText(value);
}

std::string RowDisplayText(PropertyKind kind, const RowValue& value) {
    switch (kind) {
        case PropertyKind::UInt16:
        case PropertyKind::UInt32:
            return std::to_string(value.number);
        case PropertyKind::Real:
            return RealDisplayText(value.real);
        case PropertyKind::Boolean:
            return value.boolean ? "True" : "False";
        default:
            return value.text;
    }
}

NumericEntry CheckNumericEntry(const RowRef& ref, PropertyKind kind, std::string_view text) {
    NumericEntry entry;
    PropertyRange range;
    const bool whole = kind == PropertyKind::UInt16 || kind == PropertyKind::UInt32;
    if ((!whole && kind != PropertyKind::Real) ||
        !NumericRange(ref.typeId, ref.propertyIndex, range)) {
        entry.accepted = true;
        entry.value = ParseRowValue(kind, text);
        return entry;
    }
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    double number = 0;
    bool read = !text.empty();
    if (read && whole) {
        for (char c : text) read = read && IsDigit(c);
    }
    if (read) {
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        read = error == std::errc() && end == text.data() + text.size() && std::isfinite(number);
    }
    if (read && number >= range.min && number <= range.max) {
        entry.accepted = true;
        if (whole) {
            entry.value.number = static_cast<uint32_t>(number);
        } else {
            entry.value.real = number == 0 ? 0.0 : number;  // "-0" is stored as "0"
        }
        return entry;
    }
    const std::string label = GridLabel(ref.typeId, ref.propertyIndex);
    const std::string low = RangeNumberText(range.min), high = RangeNumberText(range.max);
    if (whole) {
        entry.error = FormatText(LoadString(kTextEnterWholeNumber), {label, low, high});
    } else if (std::isfinite(range.min) && std::isfinite(range.max)) {
        entry.error = FormatText(LoadString(kTextEnterNumberFromTo), {label, low, high});
    } else if (std::isfinite(range.min)) {
        entry.error = FormatText(LoadString(kTextEnterNumberAtLeast), {label, low});
    } else {
        entry.error = FormatText(LoadString(kTextEnterNumber), {label});
    }
    return entry;
}

bool DiffersFromDefault(PropertyKind kind, std::string_view text, std::string_view defaultText) {
    if (IsTyped(kind)) return !(ParseRowValue(kind, text) == ParseRowValue(kind, defaultText));
    return !MatchesNumbered(text, defaultText);
}

std::optional<PropertyGrid> BuildPropertyGrid(ProjectDocument& doc, int serial, bool expert) {
    pugi::xml_node element = doc.FindObjectBySerial(serial);
    const int typeId = ObjectTypeOf(element);
    const ObjectType* type = TypeRecord(typeId);
    if (!element || !type) return std::nullopt;
    PropertyGrid grid;
    grid.caption = type->displayName;
    for (int i = 0; i < type->propertyCount; ++i) {
        if (type->properties[i].kind == PropertyKind::Template && !expert) continue;
        grid.rows.push_back(MakeRow(element, typeId, serial, i, expert));
    }
    return grid;
}

std::optional<RowValue> NextValueOnDoubleClick(const GridRow& row) {
    if (row.kind == PropertyKind::Boolean) {
        RowValue next = row.value;
        next.boolean = !row.value.boolean;
        return next;
    }
    if (row.kind != PropertyKind::Choice || row.options.empty()) return std::nullopt;
    auto it = std::find(row.options.begin(), row.options.end(), row.value.text);
    if (it == row.options.end()) return std::nullopt;
    ++it;
    RowValue next;
    next.text = it == row.options.end() ? row.options.front() : *it;
    return next;
}

EditOutcome ApplyPropertyEdit(ProjectDocument& doc, const RowRef& ref, const RowValue& value) {
    const PropertyDef* def = Property(ref.typeId, ref.propertyIndex);
    if (def && def->kind == PropertyKind::Choice) {
        const std::vector<std::string> options = ChoiceOptions(def->options);
        if (std::find(options.begin(), options.end(), value.text) == options.end()) return {};
    }
    doc.SetProjectChanged(true);
    EditOutcome outcome;
    pugi::xml_node element = doc.FindObjectBySerial(ref.serial);
    if (!element) {
        outcome.refresh = true;
        return outcome;
    }
    if (!TypeRecord(ref.typeId)) return outcome;
    outcome.refresh = true;
    if (!def) return outcome;
    pugi::xml_attribute attribute = element.attribute(def->key);
    if (!attribute) return outcome;
    outcome.text = FormatRowValue(def->kind, value);
    attribute.set_value(outcome.text.c_str());
    outcome.stored = true;
    return outcome;
}

bool IsServerSettingRow(const RowRef& ref) {
    if (ref.typeId != kTypeProject) return false;
    const std::string_view key = PropertyKeyAt(ref.typeId, ref.propertyIndex);
    return key == "webserveron" || key == "webserverport";
}

void ShowServerState(const ProjectDocument& doc, GridRow& row, bool serverRunning) {
    if (row.ref.typeId != kTypeProject ||
        std::string_view(PropertyKeyAt(row.ref.typeId, row.ref.propertyIndex)) != "webserveron")
        return;
    const pugi::xml_node project = doc.FindObjectBySerial(row.ref.serial);
    row.value.boolean = AtoI(GetProperty(project, "webserveron")) != 0 && serverRunning;
}

std::optional<std::string> LiveValuesHint(bool pageHasLinks, bool serverSwitchOn) {
    if (!pageHasLinks || serverSwitchOn) return std::nullopt;
    return LoadString(kTextLiveValuesHint);
}

}  // namespace tsr::designer
