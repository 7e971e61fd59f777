// The printer gateway: text laid out into PDF pages, printed to a file or to a CUPS queue. The
// printed documents are read back with poppler's pdfinfo and pdftotext; a small scheduler on
// 127.0.0.1 stands in for CUPS.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gateways/printer/cups_queue.h"
#include "gateways/printer/printer_gateway.h"
#include "gateways/printer/text_pages.h"
#include "test_support.h"

namespace tsr {
namespace {

using test::RunCommand;
using test::ScratchDir;

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

double Mm(double millimetres) {
    return millimetres * kPointsPerMm;
}

// ---------------------------------------------------------------------------------------------
// Reading printed documents back.

std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The value of line "FIELD:   value" of pdfinfo's report; empty when there is none.
std::string PdfInfoField(const std::string& path, const std::string& field) {
    const std::string info = "\n" + RunCommand("pdfinfo " + Quoted(path) + " 2>/dev/null");
    size_t at = info.find("\n" + field + ":");
    if (at == std::string::npos) return {};
    at = info.find_first_not_of(' ', at + field.size() + 2);
    return info.substr(at, info.find('\n', at) - at);
}

// The number after `attribute="` in `text` from `from` on; -1 when there is none.
double NumberAttribute(const std::string& text, const std::string& attribute, size_t from = 0) {
    const size_t at = text.find(attribute + "=\"", from);
    return at == std::string::npos ? -1 : std::stod(text.substr(at + attribute.size() + 2));
}

int PdfPageCount(const std::string& path) {
    const std::string pages = PdfInfoField(path, "Pages");
    return pages.empty() ? -1 : std::stoi(pages);
}

// {width, height} of the first page in points; {-1, -1} when unknown.
std::pair<double, double> PdfPageSize(const std::string& path) {
    const std::string size = PdfInfoField(path, "Page size");  // "595.276 x 841.89 pts (A4)"
    const size_t by = size.find(" x ");
    if (by == std::string::npos) return {-1, -1};
    return {std::stod(size), std::stod(size.substr(by + 3))};
}

// The text of the document, or of page `page` (from 1) only, in drawing order.
std::string PdfText(const std::string& path, int page = 0) {
    std::string range;
    if (page > 0) range = " -f " + std::to_string(page) + " -l " + std::to_string(page);
    return RunCommand("pdftotext -raw -enc UTF-8" + range + " " + Quoted(path) + " - 2>/dev/null");
}

// Where the first word of the document starts: {left, top} in points.
std::pair<double, double> FirstWordCorner(const std::string& path) {
    const std::string html =
        RunCommand("pdftotext -bbox -f 1 -l 1 " + Quoted(path) + " - 2>/dev/null");
    const size_t word = html.find("<word ");
    if (word == std::string::npos) return {-1, -1};
    return {NumberAttribute(html, "xMin", word), NumberAttribute(html, "yMin", word)};
}

// The {left, top} corner of each word `word` on page `page` (from 1), in drawing order.
std::vector<std::pair<double, double>> WordCorners(const std::string& path, int page,
                                                   const std::string& word) {
    const std::string range = " -f " + std::to_string(page) + " -l " + std::to_string(page);
    const std::string html = RunCommand("pdftotext -bbox" + range + " " + Quoted(path) + " -");
    std::vector<std::pair<double, double>> corners;
    const std::string end = ">" + word + "</word>";
    for (size_t at = html.find(end); at != std::string::npos; at = html.find(end, at + 1)) {
        const size_t start = html.rfind("<word ", at);
        corners.push_back(
            {NumberAttribute(html, "xMin", start), NumberAttribute(html, "yMin", start)});
    }
    return corners;
}

// The text without any white space: every printed character, in order. (A wrapped line or a
// word broken at the line's end comes back from the PDF with a line break inside.)
std::string WithoutSpace(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') out += c;
    }
    return out;
}

// The byte offsets after each UTF-8 character of `s`.
std::vector<size_t> CharacterEnds(std::string_view s) {
    std::vector<size_t> ends;
    for (size_t i = 1; i <= s.size(); ++i) {
        if (i == s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) ends.push_back(i);
    }
    return ends;
}

// ---------------------------------------------------------------------------------------------
// Texts.

std::string Repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// Rows of "Row N" with tab-separated columns; every tenth row is a long line of ordinary words
// that wraps over several lines.
std::string TableText(int rows) {
    std::string text;
    for (int i = 1; i <= rows; ++i) {
        text += "Row " + std::to_string(i) + "\tvalve V" + std::to_string(i % 17) + "\t" +
                std::to_string(i * 7 % 100) + " %\topen";
        if (i % 10 == 0) {
            for (int w = 0; w < 40; ++w) text += " pressure" + std::to_string(w);
        }
        text += "\n";
    }
    return text;
}

// Short rows that never wrap, "row 1\n" to "row N\n".
std::string ShortRows(int rows) {
    std::string text;
    for (int i = 1; i <= rows; ++i) text += "row " + std::to_string(i) + "\n";
    return text;
}

std::string Paragraphs() {
    std::string text;
    for (int p = 0; p < 12; ++p) {
        text += Repeat("The operator checked the valves, the pumps and the tank levels. ", 9);
        text += "\n\n";
    }
    return text;
}

// ---------------------------------------------------------------------------------------------
// Invalid UTF-8.

TEST(PrinterText, SanitizeUtf8ReplacesEachIllFormedPart) {
    struct Case {
        const char* name;
        std::string input;
        std::string expected;
    };
    const std::string r = kReplacement;
    const Case cases[] = {
        {"empty", "", ""},
        {"ascii with controls", "a\tb\r\nc", "a\tb\r\nc"},
        {"valid two to four bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"stray continuation byte", "a\x80z", "a" + r + "z"},
        {"latin-1 byte", "caf\xE9!", "caf" + r + "!"},
        {"sequence cut by ascii", "\xE2\x82x", r + "x"},
        {"sequence cut by the end", "ok\xF0\x9F\x98", "ok" + r},
        {"overlong slash", "\xC0\xAF", r + r},
        {"overlong three bytes", "\xE0\x80\xAF", r + r + r},
        {"surrogate", "\xED\xA0\x80", r + r + r},
        {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
        {"bytes that never occur", "\xFE\xFF", r + r},
        {"NUL", std::string("a\0b", 3), "a" + r + "b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SanitizeUtf8(c.input), c.expected) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Page fitting.

PageFormat SmallFormat() {
    PageFormat format;
    format.width = Mm(100);
    format.height = Mm(60);
    return format;  // 60 x 20 mm printable: a handful of lines
}

// US Letter with one-inch margins.
PageFormat LetterFormat() {
    return PageFormatForMedia("na_letter_8.5x11in", {2540, 2540, 2540, 2540});
}

// Every page fits alone, the pages tile the text, and laying out the rest of the text afresh
// from any page's start gives that page again (the text is laid out once per run of pages).
TEST(PrinterPages, PagesTileTheTextAndEachFits) {
    struct Case {
        const char* name;
        std::string text;
        PageFormat format;
    };
    const Case cases[] = {
        {"one word", "Hello", PageFormat{}},
        {"table with tabs and long lines", TableText(150), PageFormat{}},
        {"paragraphs", Paragraphs(), SmallFormat()},
        {"word longer than many lines", Repeat("x", 4000), SmallFormat()},
        {"blank lines only", Repeat("\n", 60), SmallFormat()},
        {"CR LF line ends", Repeat("line\r\n", 40), SmallFormat()},
        {"accented words", Repeat("\xC3\xA9t\xC3\xA9 na\xC3\xAFve ", 500), SmallFormat()},
        {"letter paper", TableText(80), LetterFormat()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<size_t> ends;
        ASSERT_TRUE(PaginateText(c.text, c.format, ends));
        ASSERT_FALSE(ends.empty());
        EXPECT_EQ(ends.back(), c.text.size());
        const std::vector<size_t> boundaries = CharacterEnds(c.text);
        size_t start = 0;
        for (size_t i = 0; i < ends.size(); ++i) {
            ASSERT_GT(ends[i], start) << "page " << i + 1 << " is empty";
            EXPECT_TRUE(std::binary_search(boundaries.begin(), boundaries.end(), ends[i]))
                << "page " << i + 1 << " ends inside a character";
            std::vector<size_t> alone;
            ASSERT_TRUE(PaginateText(std::string_view(c.text).substr(start, ends[i] - start),
                                     c.format, alone));
            EXPECT_EQ(alone.size(), 1u) << "page " << i + 1 << " does not fit one page";
            std::vector<size_t> rest;
            ASSERT_TRUE(PaginateText(std::string_view(c.text).substr(start), c.format, rest));
            EXPECT_EQ(rest.front(), ends[i] - start) << "page " << i + 1;
            start = ends[i];
        }
    }
}

// With lines that never wrap, a page is full: one more line would not fit on it.
TEST(PrinterPages, EveryPageButTheLastIsFull) {
    struct Case {
        const char* name;
        PageFormat format;
        int rows;
    };
    const Case cases[] = {
        {"A4", PageFormat{}, 200},
        {"small page", SmallFormat(), 30},
        {"letter with one-inch margins", LetterFormat(), 120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = ShortRows(c.rows);
        std::vector<size_t> ends;
        ASSERT_TRUE(PaginateText(text, c.format, ends));
        ASSERT_GE(ends.size(), 2u);
        size_t start = 0;
        for (size_t i = 0; i + 1 < ends.size(); ++i) {
            const size_t nextRowEnd = text.find('\n', ends[i]) + 1;
            std::vector<size_t> longer;
            ASSERT_TRUE(PaginateText(std::string_view(text).substr(start, nextRowEnd - start),
                                     c.format, longer));
            EXPECT_EQ(longer.size(), 2u) << "page " << i + 1 << " could take one more row";
            EXPECT_EQ(text[ends[i] - 1], '\n') << "page " << i + 1 << " ends inside a row";
            start = ends[i];
        }
    }
}

TEST(PrinterPages, APageTooLowForALineTakesOneCharacter) {
    PageFormat format;
    format.height = format.marginTop + format.marginBottom + 2;  // 2 pt printable
    const std::string texts[] = {"abc", "\xC3\xA9\xE2\x82\xAC!", "a\nb", "\t "};
    for (const std::string& text : texts) {
        std::vector<size_t> ends;
        ASSERT_TRUE(PaginateText(text, format, ends)) << text;
        EXPECT_EQ(ends, CharacterEnds(text)) << text;
    }
}

TEST(PrinterPages, EmptyTextHasNoPage) {
    std::vector<size_t> ends{1, 2};
    EXPECT_TRUE(PaginateText("", PageFormat{}, ends));
    EXPECT_TRUE(ends.empty());
    std::string pdf = "old";
    EXPECT_EQ(RenderTextPdf("", PageFormat{}, pdf), 0);
    EXPECT_TRUE(pdf.empty());
}

TEST(PrinterPages, UnusableFormatsAreRefused) {
    struct Case {
        const char* name;
        PageFormat format;
    };
    PageFormat noWidth, marginsTooWide, negativeMargin, noPrintableHeight;
    noWidth.width = 0;
    marginsTooWide.marginLeft = marginsTooWide.width / 2;
    marginsTooWide.marginRight = marginsTooWide.width / 2;
    negativeMargin.marginTop = -1;
    noPrintableHeight.height = noPrintableHeight.marginTop + noPrintableHeight.marginBottom;
    const Case cases[] = {{"no width", noWidth},
                          {"margins as wide as the page", marginsTooWide},
                          {"negative margin", negativeMargin},
                          {"no printable height", noPrintableHeight}};
    for (const Case& c : cases) {
        std::vector<size_t> ends{1};
        EXPECT_FALSE(PaginateText("text", c.format, ends)) << c.name;
        EXPECT_TRUE(ends.empty()) << c.name;
        std::string pdf = "old";
        EXPECT_EQ(RenderTextPdf("text", c.format, pdf), -1) << c.name;
        EXPECT_TRUE(pdf.empty()) << c.name;
    }
}

TEST(PrinterPages, PageFormatForMedia) {
    struct Mms {
        double left, top, right, bottom;
    };
    struct Case {
        const char* name;
        const char* media;
        MediaMargins printerMargins;  // hundredths of a millimetre
        double widthMm, heightMm;
        Mms marginsMm;
    };
    const double m = kPrintMarginMm;
    // clang-format off
    const Case cases[] = {
        {"PWG A4", "iso_a4_210x297mm", {}, 210, 297, {m, m, m, m}},
        {"PWG letter", "na_letter_8.5x11in", {}, 215.9, 279.4, {m, m, m, m}},
        {"PPD name", "Letter", {}, 215.9, 279.4, {m, m, m, m}},
        {"legacy name", "iso-a5", {}, 148, 210, {m, m, m, m}},
        {"no media", "", {}, 210, 297, {m, m, m, m}},
        {"unknown media", "paper-of-the-house", {}, 210, 297, {m, m, m, m}},
        {"narrow margins", "iso_a4_210x297mm", {300, 420, 300, 900}, 210, 297, {m, m, m, m}},
        {"wide printer margins", "iso_a4_210x297mm", {2540, 2100, 0, 3000}, 210, 297,
         {25.4, 21, m, 30}},
        {"label: printer margins only", "custom_label_50x30mm", {100, 200, 100, 200}, 50, 30,
         {1, 2, 1, 2}},
        {"paper smaller than its printer's margins", "custom_tiny_10x10mm", {600, 600, 600, 600},
         210, 297, {m, m, m, m}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PageFormat f = PageFormatForMedia(c.media, c.printerMargins);
        EXPECT_NEAR(f.width, Mm(c.widthMm), 0.01);
        EXPECT_NEAR(f.height, Mm(c.heightMm), 0.01);
        EXPECT_NEAR(f.marginLeft, Mm(c.marginsMm.left), 0.01);
        EXPECT_NEAR(f.marginTop, Mm(c.marginsMm.top), 0.01);
        EXPECT_NEAR(f.marginRight, Mm(c.marginsMm.right), 0.01);
        EXPECT_NEAR(f.marginBottom, Mm(c.marginsMm.bottom), 0.01);
    }
}

// The lines start at the top margin and fill the printable height: one more would pass the
// bottom margin. Measured on the drawn page, where the distance between two rows is the line
// height.
TEST(PrinterPages, LinesFillThePrintableArea) {
    struct Case {
        const char* name;
        PageFormat format;
    };
    const Case cases[] = {
        {"A4", PageFormat{}},
        {"letter with one-inch margins", LetterFormat()},
        {"small page", SmallFormat()},
    };
    ScratchDir dir;
    const std::string path = dir / "rows.pdf";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string pdf;
        ASSERT_GE(RenderTextPdf(ShortRows(200), c.format, pdf), 2);
        ASSERT_TRUE(WriteFile(path, pdf));
        const auto rows = WordCorners(path, 1, "row");
        ASSERT_GE(rows.size(), 2u);
        const double lineHeight = (rows.back().second - rows.front().second) / (rows.size() - 1);
        EXPECT_GT(lineHeight, 10.0);  // 10 pt type
        EXPECT_LT(lineHeight, 13.0);
        EXPECT_NEAR(rows.front().second, c.format.marginTop, 0.5);
        EXPECT_NEAR(rows.front().first, c.format.marginLeft, 0.5);
        const double printable = c.format.PrintableHeight();
        EXPECT_LE(rows.size() * lineHeight, printable + 0.01);
        EXPECT_GT((rows.size() + 1) * lineHeight, printable);
        const auto [width, height] = PdfPageSize(path);
        EXPECT_NEAR(width, c.format.width, 0.01);
        EXPECT_NEAR(height, c.format.height, 0.01);
    }
}

// A long line breaks between words, never inside one; only a word wider than the line is
// broken, and then nothing of it is lost.
TEST(PrinterPages, LongLinesWrapBetweenWords) {
    std::vector<std::string> words;
    std::string text;
    for (int i = 0; i < 150; ++i) {
        words.push_back((i % 3 ? "valve" : "pressure") + std::to_string(i));
        text += words.back() + " ";
    }
    const std::string longWord = Repeat("x", 300);
    text += "\n" + longWord;
    ScratchDir dir;
    const std::string path = dir / "wrap.pdf";
    std::string pdf;
    ASSERT_EQ(RenderTextPdf(text, PageFormat{}, pdf), 1);
    ASSERT_TRUE(WriteFile(path, pdf));

    std::vector<std::string> printedLines;
    const std::string printed = PdfText(path);
    for (size_t at = 0, end; at < printed.size(); at = end + 1) {
        end = printed.find('\n', at);
        if (end == std::string::npos) end = printed.size();
        printedLines.push_back(printed.substr(at, end - at));
    }
    std::vector<std::string> printedWords;
    int wordLines = 0;
    for (const std::string& line : printedLines) {
        if (line.empty() || line[0] == 'x' || line[0] == '\f') continue;
        ++wordLines;
        for (size_t at = 0, end; at < line.size(); at = end + 1) {
            end = line.find(' ', at);
            if (end == std::string::npos) end = line.size();
            if (end > at) printedWords.push_back(line.substr(at, end - at));
        }
    }
    EXPECT_GE(wordLines, 3);         // the words took several lines
    EXPECT_EQ(printedWords, words);  // each whole, in order
    EXPECT_NE(WithoutSpace(printed).find(longWord), std::string::npos);
    EXPECT_GE(std::count(printed.begin(), printed.end(), '\n'), wordLines + 2);
}

// Tabs advance to common stops, so tab-separated columns line up.
TEST(PrinterPages, TabsAlignColumns) {
    struct Case {
        const char* line;
        int stop;  // the tab stop the word "mark" reaches, from 1
    };
    const Case cases[] = {
        {"\tmark", 1},       {"a\tmark", 1},   {"abc\tmark", 1},
        {"abcdef\tmark", 1}, {"a\t\tmark", 2}, {"abcdefghij\tmark", 2},
    };
    ScratchDir dir;
    const std::string path = dir / "tabs.pdf";
    const PageFormat format;
    std::string text;
    for (const Case& c : cases) text += std::string(c.line) + "\n";
    std::string pdf;
    ASSERT_EQ(RenderTextPdf(text, format, pdf), 1);
    ASSERT_TRUE(WriteFile(path, pdf));
    const auto marks = WordCorners(path, 1, "mark");
    ASSERT_EQ(marks.size(), std::size(cases));
    const double stop = marks[0].first - format.marginLeft;
    EXPECT_GT(stop, 8 * 2.5);  // wider than eight narrow characters
    for (size_t i = 0; i < marks.size(); ++i) {
        EXPECT_NEAR(marks[i].first - format.marginLeft, cases[i].stop * stop, 0.1) << cases[i].line;
    }
}

// ---------------------------------------------------------------------------------------------
// Printing to a file.

// Checks the document at `path` holds `text` on pages cut where PaginateText cuts it.
void ExpectDocumentOf(const std::string& path, const std::string& text, const PageFormat& format) {
    std::vector<size_t> ends;
    ASSERT_TRUE(PaginateText(text, format, ends));
    ASSERT_EQ(PdfPageCount(path), static_cast<int>(ends.size()));
    EXPECT_EQ(WithoutSpace(PdfText(path)), WithoutSpace(text));
    size_t start = 0;
    for (size_t i = 0; i < ends.size(); ++i) {
        EXPECT_EQ(WithoutSpace(PdfText(path, static_cast<int>(i) + 1)),
                  WithoutSpace(text.substr(start, ends[i] - start)))
            << "page " << i + 1;
        start = ends[i];
    }
}

TEST(PrinterGatewayFile, PrintsTheTextAsPdfPages) {
    struct Case {
        const char* name;
        std::string text;
        int pages;
    };
    const Case cases[] = {
        {"one line", "Tank 1\tlevel 42 %\tOK", 1},
        {"table of rows with tabs and long lines", TableText(120), 3},
    };
    ScratchDir dir;
    const std::string path = dir / "x.pdf";
    PrinterGateway printer;
    ASSERT_TRUE(printer.Open("file:" + path));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(printer.Print(c.text), c.pages);
        EXPECT_EQ(PdfPageCount(path), c.pages);
        ExpectDocumentOf(path, c.text, PageFormat{});
        EXPECT_EQ(PdfInfoField(path, "Page size"), "595.276 x 841.89 pts (A4)");
        EXPECT_EQ(PdfInfoField(path, "Title"), "Tsr");
        const auto [left, top] = FirstWordCorner(path);
        EXPECT_NEAR(left, Mm(kPrintMarginMm), 1.0);
        EXPECT_GE(top, Mm(kPrintMarginMm));
        EXPECT_LT(top, Mm(kPrintMarginMm) + 5);
    }
    EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"x.pdf"});  // no temporary left
}

// A file: destination never overwrites a file this gateway did not write: a document that is
// already there stays as it was and the PDF goes to the next free numbered name; the gateway's
// own PDF is replaced by the next print, keeping the mode it was given.
TEST(PrinterGatewayFile, NeverReplacesAFileItDidNotWrite) {
    ScratchDir dir;
    const std::string path = dir / "notes.txt";
    ASSERT_TRUE(WriteFile(path, "keep me\n"));
    ASSERT_TRUE(WriteFile(dir / "notes-2.txt", "and me\n"));
    PrinterGateway printer;
    ASSERT_TRUE(printer.Open("file:" + path));
    ASSERT_EQ(printer.Print("first"), 1);
    std::string kept;
    ASSERT_TRUE(ReadFile(path, kept));
    EXPECT_EQ(kept, "keep me\n");
    ASSERT_TRUE(ReadFile(dir / "notes-2.txt", kept));
    EXPECT_EQ(kept, "and me\n");
    const std::string pdf = dir / "notes-3.txt";
    EXPECT_EQ(WithoutSpace(PdfText(pdf)), "first");
    ASSERT_EQ(chmod(pdf.c_str(), 0640), 0);

    ASSERT_EQ(printer.Print("second"), 1);  // replaces its own document
    EXPECT_EQ(WithoutSpace(PdfText(pdf)), "second");
    struct stat st;
    ASSERT_EQ(stat(pdf.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // Someone else's file put in place of the gateway's document is left alone too.
    ASSERT_EQ(unlink(pdf.c_str()), 0);
    ASSERT_TRUE(WriteFile(pdf, "theirs"));
    ASSERT_EQ(printer.Print("third"), 1);
    ASSERT_TRUE(ReadFile(pdf, kept));
    EXPECT_EQ(kept, "theirs");
    EXPECT_EQ(WithoutSpace(PdfText(dir / "notes-4.txt")), "third");
    EXPECT_EQ(ListDirectory(dir.path()),
              (std::vector<std::string>{"notes-2.txt", "notes-3.txt", "notes-4.txt", "notes.txt"}));
}

TEST(PrinterGatewayFile, EmptyTextPrintsNothing) {
    ScratchDir dir;
    PrinterGateway printer;
    ASSERT_TRUE(printer.Open("file:" + (dir / "x.pdf")));
    EXPECT_EQ(printer.Print(""), 0);
    EXPECT_TRUE(ListDirectory(dir.path()).empty());
    EXPECT_TRUE(printer.IsOpen());
}

TEST(PrinterGatewayFile, InvalidUtf8PrintsReplacementCharacters) {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"latin-1 accents", "caf\xE9 cr\xE8me br\xFBl\xE9"},
        {"NUL bytes", std::string("before\0after\0", 13)},
        {"sequence cut by the end", "level \xE2\x82"},
        {"only garbage", "\xFF\xFE\x80\xC0"},
    };
    ScratchDir dir;
    const std::string path = dir / "x.pdf";
    PrinterGateway printer;
    ASSERT_TRUE(printer.Open("file:" + path));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(printer.Print(c.text), 1);
        const std::string printed = PdfText(path);
        EXPECT_EQ(WithoutSpace(printed), WithoutSpace(SanitizeUtf8(c.text)));
        EXPECT_NE(printed.find(kReplacement), std::string::npos);
    }
}

TEST(PrinterGatewayFile, OpenChecksTheFileName) {
    ScratchDir dir;
    mkdir((dir / "sub").c_str(), 0755);
    struct Case {
        const char* name;
        std::string printerName;
        bool opens;
    };
    const Case cases[] = {
        {"file in an existing directory", "file:" + (dir / "x.pdf"), true},
        {"file in a sub-directory", "file:" + (dir / "sub/y.pdf"), true},
        {"missing directory", "file:" + (dir / "missing/x.pdf"), false},
        {"no path", "file:", false},
        {"a directory", "file:" + (dir / "sub"), false},
        {"a path ending with a slash", "file:" + (dir / "x.pdf/"), false},
    };
    for (const Case& c : cases) {
        PrinterGateway printer;
        EXPECT_EQ(printer.Open(c.printerName), c.opens) << c.name;
        EXPECT_EQ(printer.IsOpen(), c.opens) << c.name;
        EXPECT_EQ(printer.Destination(), c.opens ? c.printerName : "") << c.name;
        EXPECT_EQ(printer.Print("text") == 1, c.opens) << c.name;
    }
}

TEST(PrinterGatewayFile, OpenCloseAndReopen) {
    ScratchDir dir;
    const std::string a = dir / "a.pdf", b = dir / "b.pdf";
    PrinterGateway printer;
    EXPECT_FALSE(printer.IsOpen());
    EXPECT_EQ(printer.Print("text"), kPrintNotOpen);

    ASSERT_TRUE(printer.Open("file:" + a));
    EXPECT_EQ(printer.Print("first"), 1);
    ASSERT_TRUE(printer.Open("file:" + b));  // replaces a
    EXPECT_EQ(printer.Destination(), "file:" + b);
    EXPECT_EQ(printer.Print("second"), 1);
    EXPECT_EQ(WithoutSpace(PdfText(a)), "first");
    EXPECT_EQ(WithoutSpace(PdfText(b)), "second");

    EXPECT_FALSE(printer.Open("file:" + (dir / "missing/c.pdf")));  // closes b
    EXPECT_FALSE(printer.IsOpen());
    EXPECT_EQ(printer.Print("third"), kPrintNotOpen);

    ASSERT_TRUE(printer.Open("file:" + a));
    printer.Close();
    EXPECT_FALSE(printer.IsOpen());
    EXPECT_EQ(printer.Destination(), "");
    EXPECT_EQ(printer.Print("fourth"), kPrintNotOpen);
    printer.Close();  // twice is harmless
    EXPECT_EQ(WithoutSpace(PdfText(a)), "first");
}

TEST(PrinterGatewayFile, AVanishedDirectoryFailsThePrintOnly) {
    ScratchDir dir;
    const std::string sub = dir / "sub";
    mkdir(sub.c_str(), 0755);
    PrinterGateway printer;
    ASSERT_TRUE(printer.Open("file:" + sub + "/x.pdf"));
    rmdir(sub.c_str());
    EXPECT_EQ(printer.Print("text"), kPrintFileFailed);
    EXPECT_TRUE(printer.IsOpen());
    mkdir(sub.c_str(), 0755);
    EXPECT_EQ(printer.Print("text"), 1);
}

TEST(PrinterGatewayFile, PrintsWhileAnotherThreadOpensAndCloses) {
    ScratchDir dir;
    const std::string name = "file:" + (dir / "x.pdf");
    PrinterGateway printer;
    std::atomic<bool> done{false};
    std::vector<int> results;
    std::thread printing([&] {
        for (int i = 0; i < 30; ++i) results.push_back(printer.Print("line " + std::to_string(i)));
        done = true;
    });
    while (!done) {
        printer.Open(name);
        printer.Close();
    }
    printing.join();
    for (int result : results) EXPECT_TRUE(result == 1 || result == kPrintNotOpen) << result;
}

// ---------------------------------------------------------------------------------------------
// Printing through CUPS.

// A stand-in for the CUPS scheduler on 127.0.0.1. It knows one queue, "office" (the default
// destination too), with US Letter paper and one-inch margins, takes jobs for it and keeps
// what the last job sent. It can be told never to answer, to refuse jobs, or to drop the
// connection when a document comes.
class FakeScheduler {
public:
    enum class Behaviour { Serve, Silent, RefuseJobs, DropDocuments };

    // What the jobs brought.
    struct Received {
        int jobs = 0;
        int cancelled = 0;
        std::string jobName;
        std::string format;
        std::string document;
    };

    explicit FakeScheduler(Behaviour behaviour) : behaviour_(behaviour) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        if (behaviour_ != Behaviour::Silent) thread_ = std::thread([this] { Run(); });
    }

    ~FakeScheduler() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        close(listener_);
    }

    // "127.0.0.1:PORT", as cupsSetServer takes it.
    std::string Server() const { return "127.0.0.1:" + std::to_string(port_); }

    Received Got() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

private:
    using IppPtr = std::unique_ptr<ipp_t, decltype(&ippDelete)>;

    void Run() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            http_t* http = httpAcceptConnection(listener_, 1);
            if (!http) continue;
            while (!stop_) {
                if (!httpWait(http, 50)) continue;
                if (!AnswerRequest(http)) break;
            }
            httpClose(http);
        }
    }

    // Reads one IPP request and answers it; false when the connection is to end.
    bool AnswerRequest(http_t* http) {
        char uri[1024];
        if (httpReadRequest(http, uri, sizeof uri) != HTTP_STATE_POST) return false;
        http_status_t status;
        while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
        }
        if (status != HTTP_STATUS_OK) return false;
        if (httpGetExpect(http) == HTTP_STATUS_CONTINUE)
            httpWriteResponse(http, HTTP_STATUS_CONTINUE);
        IppPtr request(ippNew(), ippDelete);
        for (ipp_state_t s = IPP_STATE_IDLE; s != IPP_STATE_DATA;) {
            if ((s = ippRead(http, request.get())) == IPP_STATE_ERROR) return false;
        }
        if (behaviour_ == Behaviour::DropDocuments &&
            ippGetOperation(request.get()) == IPP_OP_SEND_DOCUMENT) {
            linger reset{1, 0};  // close with a reset, in the middle of the document
            setsockopt(httpGetFd(http), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            return false;
        }
        std::string body;
        char buffer[8192];
        for (ssize_t n; (n = httpRead2(http, buffer, sizeof buffer)) > 0;) body.append(buffer, n);
        IppPtr response = Answer(request.get(), body);
        httpClearFields(http);
        httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
        httpSetLength(http, ippLength(response.get()));
        if (httpWriteResponse(http, HTTP_STATUS_OK) != 0) return false;
        for (ipp_state_t s = IPP_STATE_IDLE; s != IPP_STATE_DATA;) {
            if ((s = ippWrite(http, response.get())) == IPP_STATE_ERROR) return false;
        }
        return true;
    }

    static std::string StringOf(ipp_t* ipp, const char* name) {
        ipp_attribute_t* attr = ippFindAttribute(ipp, name, IPP_TAG_ZERO);
        const char* value = attr ? ippGetString(attr, 0, nullptr) : nullptr;
        return value ? value : "";
    }

    // The queue named by the request's printer-uri.
    static std::string QueueOf(ipp_t* request) {
        char scheme[32], user[256], host[256], resource[1024];
        int port = 0;
        httpSeparateURI(HTTP_URI_CODING_ALL, StringOf(request, "printer-uri").c_str(), scheme,
                        sizeof scheme, user, sizeof user, host, sizeof host, &port, resource,
                        sizeof resource);
        const std::string path = resource;
        return path.starts_with("/printers/") ? path.substr(10) : "";
    }

    void AddOffice(ipp_t* response) const {
        const std::string uri = "ipp://localhost:" + std::to_string(port_) + "/printers/office";
        ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, "office");
        ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_URI, "printer-uri-supported", nullptr,
                     uri.c_str());
        ippAddInteger(response, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_IDLE);
        ippAddString(response, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "media-default", nullptr,
                     "na_letter_8.5x11in");
        ipp_t* media = ippNew();
        for (const char* margin : {"media-bottom-margin", "media-left-margin", "media-right-margin",
                                   "media-top-margin"}) {
            ippAddInteger(media, IPP_TAG_ZERO, IPP_TAG_INTEGER, margin, 2540);  // one inch
        }
        ippAddCollection(response, IPP_TAG_PRINTER, "media-col-default", media);
        ippDelete(media);
    }

    IppPtr Answer(ipp_t* request, const std::string& body) {
        IppPtr response(ippNewResponse(request), ippDelete);
        std::lock_guard<std::mutex> lock(mutex_);
        switch (ippGetOperation(request)) {
            case IPP_OP_CUPS_GET_DEFAULT:
                AddOffice(response.get());
                break;
            case IPP_OP_GET_PRINTER_ATTRIBUTES:
                if (QueueOf(request) != "office") {
                    ippSetStatusCode(response.get(), IPP_STATUS_ERROR_NOT_FOUND);
                    break;
                }
                AddOffice(response.get());
                break;
            case IPP_OP_CREATE_JOB:
                if (behaviour_ == Behaviour::RefuseJobs) {
                    ippSetStatusCode(response.get(), IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS);
                    break;
                }
                received_.jobName = StringOf(request, "job-name");
                ippAddInteger(response.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id",
                              ++received_.jobs);
                break;
            case IPP_OP_SEND_DOCUMENT:
                received_.format = StringOf(request, "document-format");
                received_.document = body;
                break;
            case IPP_OP_CANCEL_JOB:
                ++received_.cancelled;
                break;
            default:
                ippSetStatusCode(response.get(), IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED);
        }
        return response;
    }

    Behaviour behaviour_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    Received received_;
};

// A loopback port on which nothing listens.
std::string ClosedServer() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

// Points this thread's CUPS client at `server` and back at the default at the end.
class ScopedCupsServer {
public:
    explicit ScopedCupsServer(const std::string& server) { cupsSetServer(server.c_str()); }
    ~ScopedCupsServer() { cupsSetServer(nullptr); }
};


TEST(PrinterGatewayCups, OpenFindsTheQueueOrFailsQuickly) {
    using B = FakeScheduler::Behaviour;
    struct Case {
        const char* name;
        std::optional<B> scheduler;  // none: nothing listens on the port
        const char* printerName;
        bool opens;
        const char* destination;
    };
    const Case cases[] = {
        {"no scheduler listening", std::nullopt, "office", false, ""},
        {"scheduler that never answers", B::Silent, "office", false, ""},
        {"scheduler that never answers, default destination", B::Silent, "", false, ""},
        {"queue that does not exist", B::Serve, "no-such-queue", false, ""},
        {"existing queue", B::Serve, "office", true, "office"},
        {"existing queue with an instance", B::Serve, "office/draft", true, "office"},
        {"default destination", B::Serve, "", true, "office"},
    };
    ScratchDir home;  // no lpoptions naming another default
    test::ScopedEnvironment noHomeOptions("HOME", home.path());
    test::ScopedEnvironment noLpdest("LPDEST", std::nullopt);
    test::ScopedEnvironment noPrinter("PRINTER", std::nullopt);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<FakeScheduler> scheduler;
        if (c.scheduler) scheduler.emplace(*c.scheduler);
        ScopedCupsServer server(scheduler ? scheduler->Server() : ClosedServer());
        PrinterGateway printer;
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(printer.Open(c.printerName), c.opens);
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - begin);
        std::cout << "[          ] open (" << c.name << ") took " << elapsed.count() << " ms\n";
        EXPECT_EQ(printer.IsOpen(), c.opens);
        EXPECT_EQ(printer.Destination(), c.destination);
    }
}

TEST(PrinterGatewayCups, PrintSendsAPdfJobOnTheQueuesPaper) {
    FakeScheduler scheduler(FakeScheduler::Behaviour::Serve);
    ScopedCupsServer server(scheduler.Server());
    PrinterGateway printer;
    ASSERT_TRUE(printer.Open("office"));
    const std::string text = TableText(60);
    const int pages = printer.Print(text);
    ASSERT_GT(pages, 0);

    const FakeScheduler::Received got = scheduler.Got();
    EXPECT_EQ(got.jobs, 1);
    EXPECT_EQ(got.cancelled, 0);
    EXPECT_EQ(got.jobName, "Tsr");
    EXPECT_EQ(got.format, "application/pdf");
    ScratchDir dir;
    const std::string path = dir / "job.pdf";
    ASSERT_TRUE(WriteFile(path, got.document));
    EXPECT_EQ(PdfPageCount(path), pages);
    EXPECT_EQ(PdfInfoField(path, "Page size"), "612 x 792 pts (letter)");
    ExpectDocumentOf(path, text, LetterFormat());
    EXPECT_NEAR(FirstWordCorner(path).first, 72.0, 1.0);  // the printer's one-inch margin

    EXPECT_EQ(printer.Print(""), 0);
    EXPECT_EQ(scheduler.Got().jobs, 1);  // an empty text makes no job
}

TEST(PrinterGatewayCups, AFailedJobIsReportedAndTheQueueStaysOpen) {
    using B = FakeScheduler::Behaviour;
    struct Case {
        const char* name;
        B behaviour;
        int cancelled;
    };
    const Case cases[] = {
        {"queue refuses jobs", B::RefuseJobs, 0},
        {"connection dropped during the document", B::DropDocuments, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeScheduler scheduler(c.behaviour);
        ScopedCupsServer server(scheduler.Server());
        PrinterGateway printer;
        ASSERT_TRUE(printer.Open("office"));
        EXPECT_EQ(printer.Print(TableText(100)), kPrintJobFailed);
        EXPECT_TRUE(printer.IsOpen());
        EXPECT_EQ(scheduler.Got().cancelled, c.cancelled);
    }
}

TEST(PrinterGatewayCups, ASchedulerGoneAfterOpenFailsThePrint) {
    PrinterGateway printer;
    std::string address;
    {
        FakeScheduler scheduler(FakeScheduler::Behaviour::Serve);
        address = scheduler.Server();
        ScopedCupsServer server(address);
        ASSERT_TRUE(printer.Open("office"));
    }
    ScopedCupsServer server(address);
    EXPECT_EQ(printer.Print("text"), kPrintJobFailed);
}

}  // namespace
}  // namespace tsr
