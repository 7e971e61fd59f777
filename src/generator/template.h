// The template language of object properties, and the placeholders of link scripts.
//
// Forms, each between "$$$" markers, resolved one at a time from the start of the text, so that
// text brought in by a replacement is expanded by later steps:
//   $$$?P$$$THEN$$$ELSE$$$      THEN when property P reads as a non-zero integer, else ELSE
//   $$$!T$$$THEN$!$$ELSE!$$$    THEN when the parent's type key is T, else ELSE
//   $$$:T$$$TEXT:$$$            TEXT when the parent's type key is T
//   $$$=T$$$TEXT=$$$            TEXT when the project holds an object of type T
//   $$$%P$$$TEXT%$$$            TEXT when property P is not empty
//   $$$**$$$                    a '#'
//   $$$*CP$$$                   property P (a 0x00BBGGRR colour) as "#RRGGBB"
//   $$$*SP$$$                   property P with double quotes turned into apostrophes
//   $$$[ICOUNT]$$$              the item counter        $$$[CURPAGE]$$$  the current page name
//   $$$P$$$                     the value of property P
#pragma once

#include <cstddef>
#include <pugixml.hpp>
#include <string>

#include "generator/generation_context.h"
#include "model/project_document.h"

namespace tsr {

// Expansion stops after this many steps, or before a step that would make the text longer than
// kMaxExpandedBytes: a value that reproduces its own form would otherwise never end.
inline constexpr int kMaxExpansionSteps = 10000;
inline constexpr size_t kMaxExpandedBytes = 4u << 20;

enum class ExpandOutcome {
    Done,       // no form left (a lone "$$$" may remain)
    Malformed,  // a form without its end marker; the text from that form on is left as it was
    Limited,    // a step, size or pass bound was reached; the remaining forms are left unexpanded
};

// Expands every form of `text` in place against `object`. Only a Done expansion that used
// "[ICOUNT]" raises context.itemCounter (all its uses insert the same number).
ExpandOutcome expandTemplate(std::string& text, pugi::xml_node object, const TypeCounters& counters,
                             GenerationContext& context);

// Replaces "{{{name}}}" by the link's property `name` and then "(((name)))" by the widget's,
// each read with its catalogue default (a missing attribute is added to the object). Returns 0,
// or -1 when a placeholder is not terminated (the text then stays as far as it got) or a bound
// was reached: the step and size bounds, and the pass's `budget` when given (the text is then
// emptied, so that no partial expansion reaches the document).
int expandLinkPlaceholders(std::string& text, int linkType, int widgetType, pugi::xml_node link,
                           pugi::xml_node widget, ExpansionBudget* budget = nullptr);

// The colour text of a 0x00BBGGRR value given as decimal text: "#RRGGBB".
std::string HtmlColour(const std::string& value);

}  // namespace tsr
