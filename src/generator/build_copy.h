// The build copy: copies the generated application from the output directory to a directory of
// the user's choice, optionally giving every file an 8.3 short name (at most eight characters, a
// dot and at most three characters) and rewriting the references between the copied files so
// that a small web server that only knows 8.3 names can serve the copy.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tsr {

// Outcome of CopyBuild. The first failure stops the whole copy.
enum BuildCopyCode : int {
    kBuildCopyOk = 0,
    kBuildCopyTargetDirectory = -1,    // a target directory is missing and cannot be created
    kBuildCopySourceUnreadable = -2,   // a source file (or directory) cannot be opened
    kBuildCopyTargetUnwritable = -3,   // a target file cannot be opened or put in place
    kBuildCopyNoMemory = -4,           // no memory for a file's content
    kBuildCopyIncomplete = -5,         // a file cannot be read, or its copy written, completely
    kBuildCopyNoMemoryReplacing = -6,  // no memory while replacing names in a file's content
};

// The files of one build, index-aligned: entry i of each list belongs to the same file.
struct BuildFileLists {
    std::vector<std::string> longPaths;   // full path of the file in the output directory
    std::vector<std::string> longNames;   // the part of the long path after its last '/'
    std::vector<std::string> shortPaths;  // the long path with its name replaced by the short name
    std::vector<std::string> shortNames;  // the name the file gets in the copy (see ShortNames83)
};

// True when `name` already has the 8.3 form: a base of 1 to 8 characters, at most one dot, and
// then an extension of 1 to 3 characters, made only of letters (either case), digits and
// ! # $ % & ' ( ) - @ ^ _ ` { } ~. Bytes above 0x7F are not accepted.
bool IsValid83Name(std::string_view name);

// The short names of the files of one directory, given in listing order (index-aligned):
//   - a name ending with ".html" (case-sensitive) loses its last character ("x.html" -> "x.htm");
//   - a name valid in 8.3 form (IsValid83Name) stays as it is;
//   - any other name gets an alias: up to 6 upper-case characters of its base (the part before
//     its last dot, a leading dot not counting as one) with spaces, dots and characters not valid
//     in 8.3 names removed, then "~N", then '.' and up to 3 upper-case extension characters
//     taken the same way from after the last dot (no dot when none remain). N counts from 1 and
//     is the lowest that gives a name not yet taken in the directory; the base part shrinks to
//     keep 8 characters once N has two digits or more.
// Taken names, compared without regard to case, are the names of the first two rules (reserved
// before any alias is made) and the aliases given to earlier names of the list, so the result
// is unique within the directory apart from two names that keep theirs, and is the same for the
// same input order.
std::vector<std::string> ShortNames83(const std::vector<std::string>& names);

// Lists the files below `outputDir` depth-first, in byte order of the names at every level:
// a sub-directory's files come at the place of its name. A sub-directory whose name begins with
// '.' is skipped, and so is a link to a directory that is already being walked (a loop); every
// entry that is not a directory counts as a file. Fills the four lists; with `use83` off the
// short paths and names equal the long ones, with it on the short names are those ShortNames83
// gives for each directory (directory names are never shortened). A directory that cannot be
// read contributes no files.
BuildFileLists ListBuildFiles(const std::string& outputDir, bool use83);

// The name under which a file called `name` is copied with the 8.3 option: the short name of the
// first entry, in list order, whose long name equals `name` without regard to (ASCII) case; so
// files of the same name in different directories all get the short name of the first listed.
// A name found in no entry stays as it is.
std::string MapToShortName(const BuildFileLists& lists, std::string_view name);

// For each index i in list order: the first byte-exact, case-sensitive occurrence of long name i
// in `content` is replaced by short name i, unless both have the same length; later occurrences
// stay. A replacement made for one index is seen by the later ones. Returns false when memory
// ran out (`content` is then partly replaced).
bool ReplaceLongNames(std::string& content, const BuildFileLists& lists);

// Copies the tree below `outputDir` to `targetDir`, whose parent must exist (one level is
// created; sub-directories are created as needed and keep their names). Files are copied byte
// for byte; with `use83` on, each under MapToShortName of its name and with ReplaceLongNames
// applied to its content (whatever its type). Each target file is written under a temporary name
// in its directory and renamed over any existing file once complete, so a failed file leaves
// neither a partial file nor a changed target behind; files copied before a failure stay.
// A copy whose target lies inside the output directory does not copy the target into itself.
// The tree is listed (as ListBuildFiles does) before anything is copied; a source directory that
// cannot be listed fails with -2 before any file is copied. Returns kBuildCopyOk or the first
// failure's code; `failedFile` (may be null) then receives the path concerned: the target
// directory for -1, the source file or directory for -2, the source file for -4, -6 and a short
// read (-5), the target file for -3 and a short write (-5). It is cleared on success.
int CopyBuild(const std::string& outputDir, const std::string& targetDir, bool use83,
              std::string* failedFile);

}  // namespace tsr
