// The JavaScript that gateways and links contribute to the generated page: each gateway's
// address function, and for each link the polling read function, the write handlers and the
// declarations of its widget.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "generator/generation_context.h"

namespace tsr {

// Replaces each "%s" and "%u" of `format`, in order, by the next of `args`; every other byte is
// copied unchanged. Missing arguments read as empty.
std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args);
// The same, appended to `out` without a text of its own in between.
void AppendFormatted(std::string& out, std::string_view format,
                     std::initializer_list<std::string_view> args);

// Appends `option` to the knob initialisation call open at the end of scriptText[1], with a
// comma before it when the call already holds an option, so that a knob with several event
// scripts and links still gets a valid option list.
void AppendKnobOption(GenerationContext& context, std::string_view option);

// True for the gateway and the link types.
bool IsGatewayType(int type);
bool IsLinkType(int type);

// Appends the address function of `gateway` (of type `gatewayType`) to scriptText[2]. For an
// S7-1200 gateway `s7LibraryText` (the text of the S7-1200 script library, empty when it is
// missing) is appended to scriptText[1] as well.
void EmitGateway(int gatewayType, pugi::xml_node gateway, std::string_view s7LibraryText,
                 GenerationContext& context);

// Emits the texts of `link` (of type `linkType`) for its widget `widget` of type `widgetType`:
// attribute text into `document` (the widget's start tag is still open there) and script text
// into the context's collections. A link under a widget kind it does not serve emits nothing.
void EmitLink(int linkType, pugi::xml_node link, int widgetType, pugi::xml_node widget,
              GenerationContext& context, std::string& document);

// True when a link of type `linkType` emits texts for a widget of type `widgetType`.
bool LinkServesWidget(int linkType, int widgetType);

// For `link` (of type `linkType`) whose gateway is missing from the project: when the link
// serves its widget, appends to the start scripts the call that marks the widget as having no
// communication, and records the link in the context's orphanLinks. Nothing refers to the
// missing gateway's address function, so the page's other scripts run.
void EmitOrphanLink(int linkType, pugi::xml_node link, int widgetType, pugi::xml_node widget,
                    GenerationContext& context);

// The script that marks the widgets of orphaned links (see EmitOrphanLink).
extern const char* const kOrphanLinkState;

}  // namespace tsr
