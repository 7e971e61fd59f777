// The working directory of a running program: a private directory in the user's temporary
// directory holding "tsr.tsr", the output directory "WEB" and the user's resource files.
// While it exists it is locked, so that another instance never empties or reuses it.
#pragma once

#include <string>

namespace tsr {

// Result codes of CreateWorkingDirectory.
enum WorkingDirectoryError : int {
    kWdNoTempDirectory = -1,   // no temporary directory
    kWdNoLongName = -2,        // its full path could not be resolved
    kWdNoCandidate = -3,       // none of the 101 candidate names could be used
};

class WorkingDirectory {
public:
    WorkingDirectory() = default;
    ~WorkingDirectory();  // deletes the directory if it still exists
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

    // Makes the working directory under `tempDir` (the user's temporary directory when empty),
    // trying the names TSR10.TMP, TSR1N10.TMP ... TSR100N10.TMP in turn. A candidate that is a
    // symbolic link, belongs to another user, or is locked by a live instance is skipped; a stale
    // one of ours is emptied and reused; a plain file of that name is removed. Creates "WEB"
    // inside. Returns 0, or one of the WorkingDirectoryError codes.
    int CreateWorkingDirectory(const std::string& tempDir = {});

    // Removes the directory with everything in it and releases the lock.
    void DeleteWorkingDirectory();

    bool exists() const { return fd_ >= 0; }
    // Full path without a trailing '/'; empty before a successful create.
    const std::string& path() const { return path_; }
    // The output directory, "WEB" inside the working directory.
    const std::string& outputDirectory() const { return outputPath_; }
    // The resolved temporary directory that holds the working directory.
    const std::string& parentDirectory() const { return parent_; }
    // An open descriptor of the directory (valid while exists()).
    int fd() const { return fd_; }

    // The candidate name number `i` (0 to 100).
    static std::string CandidateName(int i);

private:
    bool TryCandidate(int parentFd, const std::string& name);

    int fd_ = -1;
    std::string path_;
    std::string outputPath_;
    std::string parent_;
};

}  // namespace tsr
