// The per-pass state of the generator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace tsr {

// A link whose gateway id names no gateway of the project: its widget is marked as having no
// communication instead of calling an address function that does not exist.
struct OrphanLink {
    std::string widget;    // the widget's id (a radio button's group name)
    std::string variable;  // the link's variable
    std::string gateway;   // the gateway id it names
};

// What one generation pass may spend on expanding templates, whatever the project holds: the
// bytes the replacement steps move (the work) and the bytes of expanded text they put in the
// document. A value that reproduces its own form, copied on many objects, would otherwise make
// a small project expand into a document of gigabytes.
inline constexpr size_t kMaxPassExpansionWork = size_t{1} << 30;
inline constexpr size_t kMaxPassExpandedBytes = size_t{64} << 20;

struct ExpansionBudget {
    size_t work = 0;
    size_t output = 0;
    bool exceeded = false;      // some text was left out (said once in the log)
    std::string firstExceeded;  // the first text left out, named for the log

    // Counts `bytes` of work; false (and exceeded from then on) once the pass's work passes
    // its bound.
    bool ChargeWork(size_t bytes) {
        work += bytes;
        if (work > kMaxPassExpansionWork) exceeded = true;
        return !exceeded;
    }
    // Counts `bytes` of expanded text for the document; false when they would pass the bound.
    bool ChargeOutput(size_t bytes) {
        if (output + bytes > kMaxPassExpandedBytes) {
            exceeded = true;
            return false;
        }
        output += bytes;
        return true;
    }
    void LeftOut(const std::string& what) {
        exceeded = true;
        if (firstExceeded.empty()) firstExceeded = what;
    }
};

struct GenerationContext {
    uint32_t itemCounter = 1;       // inserted by "[ICOUNT]"
    std::string currentPageName;    // the page being emitted, inserted by "[CURPAGE]"
    int32_t seriesCounter = 0;      // series index of table links within one plot
    std::string mouseUpActions;     // run on every mouse-up / touch-end of the document
    bool linkReads = false;         // some link reads a variable: the page needs the link state
    std::array<std::string, 6> scriptText;  // the six script collections
    std::string documentEnd;        // the project's closing text, written last
    std::string shownPageName;      // the page opened when the document loads; kept across passes
    ExpansionBudget budget;         // what the pass may still spend on expansion
    std::set<std::string> gatewayIds;     // the ids of the project's gateways
    std::vector<OrphanLink> orphanLinks;  // links whose gateway is missing, in document order

    // Resets every field for a new pass, except shownPageName and currentPageName.
    void Reset() {
        itemCounter = 1;
        seriesCounter = 0;
        mouseUpActions.clear();
        linkReads = false;
        for (std::string& s : scriptText) s.clear();
        documentEnd.clear();
        budget = ExpansionBudget{};
        gatewayIds.clear();
        orphanLinks.clear();
    }
};

}  // namespace tsr
