#include "model/document_text.h"

#include <algorithm>

#include <cstdio>

#include "model/project_document.h"

namespace tsr {
namespace {

void AppendStartTag(std::string& out, pugi::xml_node element, int depth) {
    out.append(static_cast<size_t>(depth), '\t');
    out += '<';
    out += element.name();
    for (pugi::xml_attribute a : element.attributes()) {
        out += ' ';
        out += *a.name() ? a.name() : ":anonymous";
        out += "=\"";
        out += EscapeAttributeValue(a.value());
        out += '"';
    }
}

pugi::xml_node NextSiblingElement(pugi::xml_node n) {
    for (pugi::xml_node c = n.next_sibling(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element) return c;
    }
    return {};
}

void AppendEndTag(std::string& out, pugi::xml_node element, int depth) {
    out.append(static_cast<size_t>(depth), '\t');
    out += "</";
    out += element.name();
    out += ">\n";
}

}  // namespace

std::string EscapeAttributeValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        unsigned char b = static_cast<unsigned char>(c);
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                if (b < 32 && c != '\t') {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "&#%02u;", static_cast<unsigned>(b));
                    out += buf;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

std::string WriteDocumentText(const pugi::xml_document& doc) {
    std::string out = "<?xml version=\"1.0\"?>\n";
    // Iterative pre-order walk over elements: start tag on the way down, end tag on the way up.
    pugi::xml_node n = FirstChildElement(doc);
    int depth = 0;
    while (n) {
        AppendStartTag(out, n, depth);
        pugi::xml_node child = FirstChildElement(n);
        if (child) {
            out += ">\n";
            n = child;
            ++depth;
            continue;
        }
        out += " />\n";
        pugi::xml_node next = NextSiblingElement(n);
        while (!next) {
            n = n.parent();
            if (!n || n.type() != pugi::node_element) return out;
            --depth;
            AppendEndTag(out, n, depth);
            next = NextSiblingElement(n);
        }
        n = next;
    }
    return out;
}

bool ReadDocumentText(std::string_view text, pugi::xml_document& doc, std::string* why) {
    doc.reset();
    // The library's default options, except that white space inside attribute values is kept:
    // tabs are written raw, and turning them into spaces would change every script with tabs
    // each time its project is opened.
    const unsigned options = pugi::parse_default & ~pugi::parse_wconv_attribute;
    pugi::xml_parse_result result = doc.load_buffer(text.data(), text.size(), options);
    auto fail = [&](std::string reason) {
        doc.reset();
        if (why) *why = std::move(reason);
        return false;
    };
    if (!result) {
        const size_t offset = std::min(static_cast<size_t>(result.offset < 0 ? 0 : result.offset), text.size());
        const size_t line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
        return fail("XML error at line " + std::to_string(line) + ": " + result.description());
    }
    pugi::xml_node root = doc.document_element();
    if (std::string_view(root.name()) != "tsr") return fail("the root element is not \"tsr\"");
    if (NextSiblingElement(root)) return fail("more than one root element");
    // Depth check without recursion.
    int depth = 0;
    for (pugi::xml_node n = root; n;) {
        if (n.first_child()) {
            n = n.first_child();
            if (++depth > kMaxObjectDepth) return fail("elements nested too deep");
            continue;
        }
        while (n && !n.next_sibling()) {
            n = n.parent();
            --depth;
        }
        if (n) n = n.next_sibling();
    }
    return true;
}

}  // namespace tsr
