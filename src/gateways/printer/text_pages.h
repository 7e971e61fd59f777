// Plain text laid out into printed pages: 10 pt Liberation Sans (the metrics of Arial), tabs
// expanded (a stop every eight average character widths), lines wrapped at word boundaries (a
// word wider than the line is broken between characters, without a hyphen). Each page takes the
// longest prefix of the remaining text that fits its printable height, cut at the end of a laid
// out line: the remaining text is laid out once and the page ends after the last line whose
// bottom is within the printable area, so no character is lost or printed twice at a page break
// and no line is split between two pages. The pages are drawn with Pango into a Cairo PDF
// document titled "Tsr".
//
//   +-------------------------------+  <- page (width x height)
//   |   marginTop                   |
//   |  +-------------------------+  |
//   |  | printable area: lines   |  |
//   |  | are laid out this wide  |  |
//   |  | and stacked this high   |  |
//   |  +-------------------------+  |
//   |   marginBottom                |
//   +-------------------------------+
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

// Points (1/72 inch) per millimetre.
inline constexpr double kPointsPerMm = 72.0 / 25.4;

// The margin kept on every side of a page unless the printer needs more.
inline constexpr double kPrintMarginMm = 20.0;

// A page and its printable area, in points.
struct PageFormat {
    double width = 210.0 * kPointsPerMm;  // ISO A4
    double height = 297.0 * kPointsPerMm;
    double marginLeft = kPrintMarginMm * kPointsPerMm;
    double marginTop = kPrintMarginMm * kPointsPerMm;
    double marginRight = kPrintMarginMm * kPointsPerMm;
    double marginBottom = kPrintMarginMm * kPointsPerMm;

    double PrintableWidth() const { return width - marginLeft - marginRight; }
    double PrintableHeight() const { return height - marginTop - marginBottom; }
    // True when the page and its printable area both have a positive size.
    bool IsUsable() const {
        return width > 0 && height > 0 && marginLeft >= 0 && marginTop >= 0 && marginRight >= 0 &&
               marginBottom >= 0 && PrintableWidth() > 0 && PrintableHeight() > 0;
    }
};

// `bytes` as valid UTF-8: each maximal ill-formed sequence (stray continuation byte, truncated or
// overlong sequence, surrogate, value above U+10FFFF) and each NUL becomes U+FFFD; everything
// else is kept byte for byte. Empty input gives empty output.
std::string SanitizeUtf8(std::string_view bytes);

// The end offset (in bytes) of each page `text` fills, in order: page i holds the bytes from the
// end of page i-1 (0 for the first) to ends[i]; the last end is text.size(). A page ends after
// the last laid-out line that fits the printable height; when not even the first line fits, the
// page takes one character. `text` must be valid UTF-8 without NUL (see SanitizeUtf8). Empty
// text has no page. Returns false (and no ends) when the format is not usable or the layout
// could not be made.
bool PaginateText(std::string_view text, const PageFormat& format, std::vector<size_t>& ends);

// Draws the pages of `text` (as PaginateText cuts them) into a PDF document stored in `pdf` and
// returns the number of pages. Empty text gives 0 and an empty `pdf`: there is no document
// without a page. Returns -1 (and an empty `pdf`) when the format is not usable or Cairo fails.
int RenderTextPdf(std::string_view text, const PageFormat& format, std::string& pdf);

}  // namespace tsr
