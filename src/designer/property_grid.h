// The property grid: the rows shown for the selected object, the value each row displays and
// the text an edit writes back into the project document.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/catalogue.h"
#include "model/project_document.h"

namespace tsr::designer {

// A row's typed value. Only the field that belongs to the row's kind is meaningful:
//   Text, Choice, Template, Script -> text     Boolean -> boolean
//   UInt16, UInt32, Colour (0x00BBGGRR) -> number     Real -> real
struct RowValue {
    std::string text;
    bool boolean = false;
    uint32_t number = 0;
    double real = 0.0;

    bool operator==(const RowValue&) const = default;
};

// Identifies a row for its write-back: the object (type and serial) and the property index in
// the type's catalogue record.
struct RowRef {
    int typeId = -1;
    int serial = -1;
    int propertyIndex = -1;

    bool operator==(const RowRef&) const = default;
};

struct GridRow {
    RowRef ref;
    PropertyKind kind = PropertyKind::Text;
    std::string label;        // catalogue label; in expert mode followed by " (key)", not on Colour
    std::string description;  // catalogue description; empty for Colour rows
    std::vector<std::string> options;  // Choice rows: the choices in order
    bool typing = false;               // edited by typing in place (Text, UInt16, Real, UInt32)
    bool button = false;  // shows a button that opens the script editor (Template, Script)
    RowValue value;       // the value shown
    bool differsFromDefault = false;  // shown in bold

    bool operator==(const GridRow&) const = default;
};

struct PropertyGrid {
    std::string caption;  // the group row: the display name of the object's type
    std::vector<GridRow> rows;

    bool operator==(const PropertyGrid&) const = default;
};

// The label the grid shows for property `index` of `typeId`: the catalogue's, with its spelling
// mistakes corrected ("Alignement" shows "Alignment", "Backfround color" "Background color");
// "" when there is no such property. The catalogue keeps the reference's labels.
std::string GridLabel(int typeId, int index);

// The choices of option list `list`: its ';'-separated fields in order, up to the first empty
// field ("Left;;Right" offers only "Left"; "" offers none).
std::vector<std::string> ChoiceOptions(std::string_view list);

// Reads stored text as a row of `kind` shows it: Boolean is true when the leading decimal value
// (as atoi) is non-zero; UInt16 keeps the low 16 bits of that value; UInt32 and Colour take it as
// unsigned 32 bits; Real reads the leading floating-point number (as atof, independent of the
// locale); every other kind keeps the text.
RowValue ParseRowValue(PropertyKind kind, std::string_view text);

// The text written back for `value` of a row of `kind`: Boolean "1"/"0"; UInt16 "%u" of the low
// 16 bits; UInt32 and Colour "%u"; Real "%g" (six significant digits, '.' as decimal point);
// every other kind the text unchanged.
std::string FormatRowValue(PropertyKind kind, const RowValue& value);

// The grid's display of a Real value: the shortest text that reads back as the same value, so a
// whole number shows as one ("150", not "150.000000") and 0.2 as "0.2".
std::string RealDisplayText(double value);

// The grid's display of a row's value while it is not being edited: UInt16 and UInt32 rows show
// their number in decimal, Real rows RealDisplayText, Boolean rows "True" or "False", every other
// kind its text.
std::string RowDisplayText(PropertyKind kind, const RowValue& value);

// What a number typed into a row becomes.
struct NumericEntry {
    bool accepted = false;
    RowValue value;     // the value to store, when accepted
    std::string error;  // when refused: the row's label and the range, in the system's language
};

// Checks `text` typed into row `ref` of `kind` against the property's range (NumericRange):
// UInt16 and UInt32 rows take a whole decimal number, Real rows any decimal number; blanks
// around it and a leading '+' are allowed. Text that is no such number, or a number outside the
// range, is refused with a message that names the row and the range ("Web server port number:
// enter a whole number from 1 to 65535"). Any other kind is accepted as ParseRowValue reads it.
NumericEntry CheckNumericEntry(const RowRef& ref, PropertyKind kind, std::string_view text);

// True when stored `text` shows a value other than the catalogue default `defaultText` for a
// row of `kind`. Typed kinds compare the values they show; text kinds compare the text, where a
// '#' of the default (numbered on creation) stands for any run of decimal digits.
bool DiffersFromDefault(PropertyKind kind, std::string_view text, std::string_view defaultText);

// The rows of the object at `serial`, in catalogue order. Template rows are left out unless
// `expert`; in expert mode every label but Colour ones ends with " (key)". A missing attribute
// is added with its catalogue default (not counted as a change of the project). nullopt when
// there is no such object.
std::optional<PropertyGrid> BuildPropertyGrid(ProjectDocument& doc, int serial, bool expert);

// The value a double click on a Choice or Boolean row commits: the next choice in list order,
// wrapping from the last to the first, or the other boolean. nullopt (nothing changes) when the
// row's current text is not among its choices, or for any other kind.
std::optional<RowValue> NextValueOnDoubleClick(const GridRow& row);

// What an edit leaves to the window.
struct EditOutcome {
    bool stored = false;   // the text reached the document
    bool refresh = false;  // run the refresh cycle: generation and preview, no tree rebuild
    std::string text;      // the text written back (when stored)
};

// Writes the edited `value` of row `ref` back into the document and marks the project changed.
// The text (FormatRowValue) replaces the element's existing attribute; a missing attribute is not
// added. A Choice value that is none of the row's choices is refused: nothing changes and nothing
// is refreshed. A missing object still refreshes; an unknown type neither stores nor refreshes.
EditOutcome ApplyPropertyEdit(ProjectDocument& doc, const RowRef& ref, const RowValue& value);

// True for the project's rows that decide whether and where the web server runs ("Activate web
// server", "Web server port number"): an edit of either asks for a new start of the server,
// even with the settings of a start that failed.
bool IsServerSettingRow(const RowRef& ref);

// Shows the web server's real state on `row`: the project's "Activate web server" row shows True
// only while the project's switch is on and the server runs, so that a server that could not
// start does not read as running. Any other row is left as it is.
void ShowServerState(const ProjectDocument& doc, GridRow& row, bool serverRunning);

// The line the designer logs once when the page has links that read and the web server is
// switched off: the widgets then show no live values. nullopt when there is nothing to say.
std::optional<std::string> LiveValuesHint(bool pageHasLinks, bool serverSwitchOn);

}  // namespace tsr::designer
