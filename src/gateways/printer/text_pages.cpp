#include "gateways/printer/text_pages.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <climits>
#include <memory>
#include <new>

namespace tsr {
namespace {

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kFontFamily[] = "Liberation Sans";
constexpr double kFontSizePoints = 10.0;
constexpr char kDocumentTitle[] = "Tsr";
constexpr int kTabStopCharacters = 8;  // a tab stop every eight average character widths

template <auto Free>
struct Releaser {
    template <class T>
    void operator()(T* p) const {
        Free(p);
    }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, Releaser<cairo_surface_destroy>>;
using CairoPtr = std::unique_ptr<cairo_t, Releaser<cairo_destroy>>;
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, Releaser<cairo_font_options_destroy>>;
using ContextPtr = std::unique_ptr<PangoContext, Releaser<g_object_unref>>;
using LayoutPtr = std::unique_ptr<PangoLayout, Releaser<g_object_unref>>;
using LayoutIterPtr = std::unique_ptr<PangoLayoutIter, Releaser<pango_layout_iter_free>>;
using FontDescriptionPtr =
    std::unique_ptr<PangoFontDescription, Releaser<pango_font_description_free>>;
using FontMetricsPtr = std::unique_ptr<PangoFontMetrics, Releaser<pango_font_metrics_unref>>;
using TabArrayPtr = std::unique_ptr<PangoTabArray, Releaser<pango_tab_array_free>>;
using AttrListPtr = std::unique_ptr<PangoAttrList, Releaser<pango_attr_list_unref>>;

// Number of continuation bytes after lead byte `c`, with the allowed range of the first one;
// -1 when `c` cannot start a sequence.
int SequenceShape(unsigned char c, unsigned char& low, unsigned char& high) {
    low = 0x80;
    high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) return 1;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;  // no UTF-16 surrogates
    if (c >= 0xE0 && c <= 0xEF) return 2;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    if (c >= 0xF0 && c <= 0xF4) return 3;
    return -1;
}

// Length of the valid sequence at `pos` (lead byte at least 0x80), or 0 when it is ill-formed;
// `next` receives the offset after the maximal ill-formed part or the valid sequence.
size_t ValidSequenceAt(std::string_view s, size_t pos, size_t& next) {
    unsigned char low, high;
    int need = SequenceShape(static_cast<unsigned char>(s[pos]), low, high);
    next = pos + 1;
    if (need < 0) return 0;
    for (int k = 0; k < need; ++k, ++next) {
        if (next >= s.size()) return 0;
        unsigned char b = static_cast<unsigned char>(s[next]);
        if (b < low || b > high) return 0;
        low = 0x80;
        high = 0xBF;
    }
    return next - pos;
}

// One line of a page: where Pango put it, relative to the page's printable area (Pango units).
struct PlacedLine {
    PangoLayoutLine* line;
    int x;
    int baseline;
};

// The lines that fit one page, and where the text continues.
struct PageLines {
    std::vector<PlacedLine> lines;
    bool reachedEnd = false;  // the layout's last line is on this page
    int nextStart = 0;        // otherwise: byte index (in the layout) of the first line left over
};

// Walks from the iterator's line while the lines stacked from it fit `limit`; leaves the
// iterator on the first line that does not fit.
PageLines CollectFittingLines(PangoLayoutIter* it, int limit) {
    PageLines page;
    int pageTop = 0;
    pango_layout_iter_get_line_yrange(it, &pageTop, nullptr);
    for (;;) {
        int bottom = 0;
        pango_layout_iter_get_line_yrange(it, nullptr, &bottom);
        PangoLayoutLine* line = pango_layout_iter_get_line_readonly(it);
        if (bottom - pageTop > limit) {
            page.nextStart = line->start_index;
            return page;
        }
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(it, nullptr, &logical);
        page.lines.push_back({line, logical.x, pango_layout_iter_get_baseline(it) - pageTop});
        if (!pango_layout_iter_next_line(it)) {
            page.reachedEnd = true;
            return page;
        }
    }
}

// Lays text out with the print font across the printable width and draws it page by page.
class PageComposer {
public:
    PageComposer(cairo_t* cr, const PageFormat& format) : cr_(cr), format_(format) {
        context_.reset(pango_cairo_create_context(cr));
        pango_cairo_context_set_resolution(context_.get(), 72.0);
        FontOptionsPtr options(cairo_font_options_create());
        cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
        pango_cairo_context_set_font_options(context_.get(), options.get());
        pango_context_set_round_glyph_positions(context_.get(), FALSE);
        font_.reset(pango_font_description_new());
        pango_font_description_set_family(font_.get(), kFontFamily);
        pango_font_description_set_absolute_size(font_.get(), kFontSizePoints * PANGO_SCALE);
        tabs_.reset(pango_tab_array_new_with_positions(1, FALSE, PANGO_TAB_LEFT, TabStopWidth()));
        // A word broken inside gets no hyphen: the printed characters are exactly the text's.
        attributes_.reset(pango_attr_list_new());
        pango_attr_list_insert(attributes_.get(), pango_attr_insert_hyphens_new(FALSE));
    }

    // Draws all pages of `text`, appending each page's end offset to `ends`.
    void ComposeAll(std::string_view text, std::vector<size_t>& ends) {
        size_t base = 0;
        while (base < text.size()) base = ComposeFrom(text, base, ends);
    }

private:
    // The distance between tab stops, in Pango units (repeated across the line).
    int TabStopWidth() const {
        FontMetricsPtr metrics(pango_context_get_metrics(context_.get(), font_.get(), nullptr));
        return kTabStopCharacters * pango_font_metrics_get_approximate_char_width(metrics.get());
    }

    LayoutPtr NewLayout(std::string_view text) const {
        LayoutPtr layout(pango_layout_new(context_.get()));
        pango_layout_set_font_description(layout.get(), font_.get());
        pango_layout_set_tabs(layout.get(), tabs_.get());
        pango_layout_set_attributes(layout.get(), attributes_.get());
        pango_layout_set_width(layout.get(), pango_units_from_double(format_.PrintableWidth()));
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
        pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
        return layout;
    }

    // Lays out the text from `base` once and draws pages from it until the text ends or a page
    // cannot hold a whole line; returns where the text continues.
    size_t ComposeFrom(std::string_view text, size_t base, std::vector<size_t>& ends) {
        LayoutPtr layout = NewLayout(text.substr(base));
        LayoutIterPtr it(pango_layout_get_iter(layout.get()));
        const int limit = pango_units_from_double(format_.PrintableHeight());
        for (;;) {
            PageLines page = CollectFittingLines(it.get(), limit);
            if (page.lines.empty()) {
                return ComposeOneCharacterPage(text, base + page.nextStart, ends);
            }
            DrawLines(page.lines);
            cairo_show_page(cr_);
            size_t end = page.reachedEnd ? text.size() : base + page.nextStart;
            ends.push_back(end);
            if (end >= text.size()) return text.size();
        }
    }

    // A page on which not even one line fits takes the single character at `start`.
    size_t ComposeOneCharacterPage(std::string_view text, size_t start, std::vector<size_t>& ends) {
        size_t end = start + 1;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
        LayoutPtr layout = NewLayout(text.substr(start, end - start));
        cairo_move_to(cr_, format_.marginLeft, format_.marginTop);
        pango_cairo_show_layout(cr_, layout.get());
        cairo_show_page(cr_);
        ends.push_back(end);
        return end;
    }

    void DrawLines(const std::vector<PlacedLine>& lines) {
        for (const PlacedLine& placed : lines) {
            cairo_move_to(cr_, format_.marginLeft + pango_units_to_double(placed.x),
                          format_.marginTop + pango_units_to_double(placed.baseline));
            pango_cairo_show_layout_line(cr_, placed.line);
        }
    }

    cairo_t* cr_;
    PageFormat format_;
    ContextPtr context_;
    FontDescriptionPtr font_;
    TabArrayPtr tabs_;
    AttrListPtr attributes_;
};

cairo_status_t AppendToString(void* closure, const unsigned char* data, unsigned int length) {
    try {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
    } catch (const std::bad_alloc&) {
        return CAIRO_STATUS_WRITE_ERROR;
    }
}

cairo_status_t Discard(void*, const unsigned char*, unsigned int) {
    return CAIRO_STATUS_SUCCESS;
}

// Composes the pages of non-empty `text` into a PDF stream written through `write`; false when
// Cairo reports an error.
bool ComposePdf(std::string_view text, const PageFormat& format, cairo_write_func_t write,
                void* closure, std::vector<size_t>& ends) {
    SurfacePtr surface(
        cairo_pdf_surface_create_for_stream(write, closure, format.width, format.height));
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, kDocumentTitle);
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "Tessora");
    CairoPtr cr(cairo_create(surface.get()));
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return false;
    cairo_set_source_rgb(cr.get(), 0, 0, 0);
    PageComposer(cr.get(), format).ComposeAll(text, ends);
    bool drawn = cairo_status(cr.get()) == CAIRO_STATUS_SUCCESS;
    cr.reset();
    cairo_surface_finish(surface.get());
    return drawn && cairo_surface_status(surface.get()) == CAIRO_STATUS_SUCCESS;
}

bool CanLayOut(std::string_view text, const PageFormat& format) {
    return format.IsUsable() && text.size() <= static_cast<size_t>(INT_MAX);
}

}  // namespace

std::string SanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) {
        unsigned char c = static_cast<unsigned char>(bytes[pos]);
        if (c != 0 && c < 0x80) {
            out += static_cast<char>(c);
            ++pos;
            continue;
        }
        size_t next = pos + 1;
        size_t length = c == 0 ? 0 : ValidSequenceAt(bytes, pos, next);
        if (length) {
            out.append(bytes.substr(pos, length));
        } else {
            out += kReplacementCharacter;
        }
        pos = next;
    }
    return out;
}

bool PaginateText(std::string_view text, const PageFormat& format, std::vector<size_t>& ends) {
    ends.clear();
    if (!CanLayOut(text, format)) return false;
    if (text.empty()) return true;
    if (ComposePdf(text, format, Discard, nullptr, ends)) return true;
    ends.clear();
    return false;
}

int RenderTextPdf(std::string_view text, const PageFormat& format, std::string& pdf) {
    pdf.clear();
    if (!CanLayOut(text, format)) return -1;
    if (text.empty()) return 0;
    std::vector<size_t> ends;
    if (ComposePdf(text, format, AppendToString, &pdf, ends)) return static_cast<int>(ends.size());
    pdf.clear();
    return -1;
}

}  // namespace tsr
