// Where the program's own files are.
#pragma once

#include <string>

namespace tsr {

// The directory of the running executable, without a trailing '/'; empty when unknown.
std::string ProgramDirectory();

// The program library directory (the web libraries the generated pages load): "libs" beside the
// executable (build tree), else "../share/tessora/libs" relative to it (installed tree). Returns
// the first that exists, else the first candidate.
std::string ProgramLibraryDirectory();

}  // namespace tsr
