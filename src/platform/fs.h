// Small POSIX file-system helpers that never follow symbolic links unless told to.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tsr {

// Removes everything inside the directory open as `dirFd` (which stays open and in place), at
// any nesting depth, holding one more descriptor at a time. Symbolic links are removed, never
// followed; sub-directories are made writable first. Returns false when something could not be
// removed.
bool RemoveDirectoryContents(int dirFd);

// Removes the directory `path` (not following a final symbolic link) with everything inside it.
// Returns true when nothing is left at `path`.
bool RemoveTree(const std::string& path);

// The user's temporary directory: $TMPDIR when it names a directory, else /tmp when that is one;
// empty when neither is.
std::string TemporaryDirectory();

// Reads the whole regular file `path` into `out`; false when it cannot be opened or read, or is
// not a regular file (a FIFO or a device is refused at once, never waited on).
bool ReadFile(const std::string& path, std::string& out);

// Writes all of `data` to the open descriptor `fd`, retrying after interrupts and short
// writes; false on any error.
bool WriteAllToFd(int fd, std::string_view data);

// Writes `data` to `path` (created or truncated, mode 0666 less the umask); false on any error.
bool WriteFile(const std::string& path, std::string_view data);

// Writes `data` to a temporary file beside `path` and renames it over `path`, so that `path`
// holds either its old or its new content, never a part. An existing file keeps its mode.
// False on any error (then `path` is unchanged).
bool WriteFileReplacing(const std::string& path, std::string_view data);

// Joins two path parts with one '/'.
std::string JoinPath(std::string_view dir, std::string_view name);

// The directory part of `path`: "." for a bare name, "/" for a name in the root.
std::string DirectoryOf(const std::string& path);

// The part of `path` after its last '/' (the whole path when it has none).
std::string FileNameOf(const std::string& path);

// The names in directory `path` other than "." and "..", sorted; empty when it cannot be read.
std::vector<std::string> ListDirectory(const std::string& path);

// The same for the directory open as `dirFd` (which stays open).
std::vector<std::string> ListDirectoryAt(int dirFd);

}  // namespace tsr
