// The values a numeric property may take, and the correction of a document whose values lie
// outside them.
#pragma once

#include <string>
#include <vector>

#include "model/project_document.h"

namespace tsr {

// A closed range of numbers; an unbounded end is an infinity.
struct PropertyRange {
    double min;
    double max;
};

// The range of property `index` of type `typeId`: the property's own range where one is set
// (the web server port 1 to 65535, a refresh period of at least 50 ms, sizes not negative...),
// else the range of its kind (UInt16 0 to 65535, UInt32 0 to 4294967295, Real unbounded).
// False, with `range` untouched, for a property that is not numeric or does not exist.
bool NumericRange(int typeId, int index, PropertyRange& range);

// A whole number as the ranges' texts show it ("65535", "4294967295"); any other number in the
// shortest form that reads back as the same value ("0.2", "1e+30").
std::string RangeNumberText(double value);

// Brings every numeric value of `doc` that lies outside its range to the nearest end of it and
// returns one line per value changed, in the system's language ("The value 70000 of Web server
// port number (Project) is out of range; it is now 65535"). A value that is no number, or an
// empty one, is left as it is. The changed flag is left as it was: the document is as the file
// was meant to be read.
std::vector<std::string> ClampOutOfRangeValues(ProjectDocument& doc);

}  // namespace tsr
