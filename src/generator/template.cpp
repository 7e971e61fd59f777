#include "generator/template.h"

#include <cstdio>
#include <string_view>

#include "base/text.h"
#include "model/catalogue.h"

namespace tsr {
namespace {

constexpr std::string_view kMarker = "$$$";
constexpr size_t npos = std::string::npos;

// One resolved form: the text [begin, end) is to be replaced by `replacement`.
struct Step {
    size_t end = 0;
    std::string replacement;
    bool malformed = false;
};

std::string QuotesToApostrophes(std::string value) {
    for (char& c : value) {
        if (c == '"') c = '\'';
    }
    return value;
}

// The form whose name N = text[B - n.size(), B) starts at A; `afterName` is B + 3.
Step ResolveForm(const std::string& text, std::string_view name, size_t afterName,
                 pugi::xml_node object, std::string_view parentType, const TypeCounters& counters,
                 const GenerationContext& context, bool* usedCounter) {
    Step step;
    const std::string_view rest = name.substr(1);
    auto section = [&](size_t from, size_t to) { return text.substr(from, to - from); };
    // The forms that end with a two-part closing marker such as ":$$$".
    auto closed = [&](std::string_view endMarker, bool keep) {
        size_t c = text.find(endMarker, afterName);
        if (c == npos) {
            step.malformed = true;
            return;
        }
        step.end = c + endMarker.size();
        if (keep) step.replacement = section(afterName, c);
    };
    switch (name.front()) {
        case '?': {
            size_t c = text.find(kMarker, afterName);
            size_t d = c == npos ? npos : text.find(kMarker, c + 3);
            if (d == npos) {
                step.malformed = true;
                break;
            }
            bool on = AtoI(GetProperty(object, rest)) != 0;
            step.replacement = on ? section(afterName, c) : section(c + 3, d);
            step.end = d + 3;
            break;
        }
        case '!': {
            size_t c = text.find("$!$$", afterName);
            size_t d = c == npos ? npos : text.find("!$$$", c + 3);
            if (d == npos) {
                step.malformed = true;
                break;
            }
            step.replacement = parentType == rest ? section(afterName, c) : section(c + 4, d);
            step.end = d + 4;
            break;
        }
        case ':':
            closed(":$$$", parentType == rest);
            break;
        case '=': {
            int type = FindTypeByKey(rest);
            closed("=$$$", type >= 0 && counters[static_cast<size_t>(type)] > 0);
            break;
        }
        case '%':
            closed("%$$$", !GetProperty(object, rest).empty());
            break;
        case '*':
            step.end = afterName;
            if (name.size() >= 2 && name[1] == '*') {
                step.replacement = "#";
            } else if (name.size() >= 2 && name[1] == 'C') {
                step.replacement = HtmlColour(GetProperty(object, name.substr(2)));
            } else if (name.size() >= 2 && name[1] == 'S') {
                step.replacement = QuotesToApostrophes(GetProperty(object, name.substr(2)));
            } else {
                step.malformed = true;
            }
            break;
        default:
            step.end = afterName;
            if (name == "[ICOUNT]") {
                step.replacement = UToA(context.itemCounter);
                *usedCounter = true;
            } else if (name == "[CURPAGE]") {
                step.replacement = context.currentPageName;
            } else {
                step.replacement = GetProperty(object, name);
            }
    }
    return step;
}

}  // namespace

std::string HtmlColour(const std::string& value) {
    unsigned v = static_cast<unsigned>(AtoI(value));
    unsigned rgb = ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
    char buf[16];
    std::snprintf(buf, sizeof buf, "#%6.6X", rgb);
    return buf;
}

ExpandOutcome expandTemplate(std::string& text, pugi::xml_node object, const TypeCounters& counters,
                             GenerationContext& context) {
    const std::string_view parentType = object.parent().name();
    bool usedCounter = false;
    // No marker starts before `from`: the text before the last replaced form is unchanged and
    // held none, so the next one can start at most two characters before the replacement.
    size_t from = 0;
    for (int steps = 0;; ++steps) {
        size_t a = text.find(kMarker, from);
        size_t b = a == npos ? npos : text.find(kMarker, a + 4);
        if (b == npos) break;
        if (steps >= kMaxExpansionSteps) return ExpandOutcome::Limited;
        std::string_view name(text.data() + a + 3, b - a - 3);
        Step step =
            ResolveForm(text, name, b + 3, object, parentType, counters, context, &usedCounter);
        if (step.malformed) return ExpandOutcome::Malformed;
        if (text.size() - (step.end - a) + step.replacement.size() > kMaxExpandedBytes)
            return ExpandOutcome::Limited;
        // The step moves the text after the form and scanned it for the form's end.
        if (!context.budget.ChargeWork(text.size() - a + step.replacement.size()))
            return ExpandOutcome::Limited;
        text.replace(a, step.end - a, step.replacement);
        from = a >= 2 ? a - 2 : 0;
    }
    if (usedCounter) ++context.itemCounter;
    return ExpandOutcome::Done;
}

int expandLinkPlaceholders(std::string& text, int linkType, int widgetType, pugi::xml_node link,
                           pugi::xml_node widget, ExpansionBudget* budget) {
    struct Pass {
        std::string_view open, close;
        pugi::xml_node object;
        int type;
    };
    const Pass passes[] = {{"{{{", "}}}", link, linkType}, {"(((", ")))", widget, widgetType}};
    int steps = 0;
    for (const Pass& pass : passes) {
        size_t from = 0;
        for (;;) {
            size_t a = text.find(pass.open, from);
            if (a == npos) break;
            size_t c = text.find(pass.close, a + 3);
            if (c == npos) return -1;
            if (++steps > kMaxExpansionSteps) {
                text.clear();  // bounded: the partial expansion is not kept
                return -1;
            }
            std::string name = text.substr(a + 3, c - a - 3);
            std::string value = GetPropertyWithDefault(pass.object, name, pass.type);
            if (text.size() - (c + 3 - a) + value.size() > kMaxExpandedBytes ||
                (budget && !budget->ChargeWork(text.size() - a + value.size()))) {
                // Bounded: the partial expansion is not kept.
                text.clear();
                return -1;
            }
            text.replace(a, c + 3 - a, value);
            from = a >= 2 ? a - 2 : 0;
        }
    }
    if (budget && !budget->ChargeOutput(text.size())) {
        text.clear();
        return -1;
    }
    return 0;
}

}  // namespace tsr
