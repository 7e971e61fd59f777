// The per-pass state of the generator.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tsr {

struct GenerationContext {
    uint32_t itemCounter = 1;       // inserted by "[ICOUNT]"
    std::string currentPageName;    // the page being emitted, inserted by "[CURPAGE]"
    int32_t seriesCounter = 0;      // series index of table links within one plot
    std::string mouseUpActions;     // run on every mouse-up / touch-end of the document
    std::array<std::string, 6> scriptText;  // the six script collections
    std::string documentEnd;        // the project's closing text, written last
    std::string shownPageName;      // the page opened when the document loads; kept across passes

    // Resets every field for a new pass, except shownPageName and currentPageName.
    void Reset() {
        itemCounter = 1;
        seriesCounter = 0;
        mouseUpActions.clear();
        for (std::string& s : scriptText) s.clear();
        documentEnd.clear();
    }
};

}  // namespace tsr
