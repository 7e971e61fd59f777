// The text form of the project document ("tsr.tsr"): written by us byte for byte, read back so
// that every value comes back exactly as it was written.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace tsr {

// The document as text: the declaration line, then one element per line indented with one tab
// per depth, attributes in document order with &amp; &lt; &gt; &quot; and &#NN; for control
// bytes other than the tab, line feeds only. Nodes other than elements are not written.
std::string WriteDocumentText(const pugi::xml_document& doc);

// Escapes one attribute value as WriteDocumentText does.
std::string EscapeAttributeValue(std::string_view value);

// Parses `text` into `doc` (replacing its content). Succeeds only for a well-formed document whose
// root element is "tsr" and whose elements nest at most kMaxObjectDepth deep; on failure `doc`
// is left empty and `why` says what was wrong.
bool ReadDocumentText(std::string_view text, pugi::xml_document& doc, std::string* why = nullptr);

}  // namespace tsr
