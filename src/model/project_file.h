// The project file: a zip archive of the working directory whose entry "tsr.tsr" holds the
// project document. A file that is not an archive is read as a plain "tsr.tsr" document.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "model/project_document.h"
#include "model/working_directory.h"

namespace tsr {

// True when an archive entry name stays inside the directory it is extracted to: not empty, not
// absolute, and without a ".." segment.
bool IsSafeEntryName(std::string_view name);

// Writes the document as "tsr.tsr" into the working directory, then archives every file of the
// working directory (except the output directory "WEB") into a temporary file beside `path` that
// replaces `path` only once complete. On success clears the changed flag and returns 0; on
// failure returns -1 with "Error while saving" and leaves the file at `path` as it was.
// Replace: an existing file at the path is replaced (keeping its mode); CreateNew: it is never
// replaced, and the save fails with kSaveExists.
enum class SaveMode { Replace, CreateNew };
inline constexpr int kSaveExists = -2;
Status SaveProject(ProjectDocument& doc, const WorkingDirectory& wd, const std::string& path,
                   SaveMode mode = SaveMode::Replace);

// Reads the project at `path`. An archive is extracted into a staging directory first; only when
// every entry name is safe, every entry was extracted and "tsr.tsr" parses are its files moved
// into the working directory and the document replaced (the changed flag cleared). A file that is
// not an archive is parsed as a plain document (the changed flag keeps its value). On failure
// returns -1 with "Error while loading : " and the path, and changes nothing.
Status LoadProject(ProjectDocument& doc, const WorkingDirectory& wd, const std::string& path);

// The open project of a run: its document, its working directory and its current path.
class Project {
public:
    // Makes the working directory (see WorkingDirectory) and a new project document.
    int Start(const std::string& tempDir = {});

    ProjectDocument& document() { return doc_; }
    const ProjectDocument& document() const { return doc_; }
    WorkingDirectory& workingDirectory() { return wd_; }
    const WorkingDirectory& workingDirectory() const { return wd_; }

    // The path of the project file; empty until the first successful save or load, and after New.
    const std::string& currentPath() const { return currentPath_; }
    void ClearCurrentPath() { currentPath_.clear(); }

    // SaveProject / LoadProject on this project; success makes `path` the current path. A
    // loaded document's out-of-range numbers are brought into range (ClampOutOfRangeValues);
    // loadCorrections() then says which, one line each, until the next load.
    Status Save(const std::string& path, SaveMode mode = SaveMode::Replace);
    Status Load(const std::string& path);
    const std::vector<std::string>& loadCorrections() const { return loadCorrections_; }

  private:
    ProjectDocument doc_;
    WorkingDirectory wd_;
    std::string currentPath_;
    std::vector<std::string> loadCorrections_;
};

}  // namespace tsr
