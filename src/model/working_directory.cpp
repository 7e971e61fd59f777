#include "model/working_directory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/fs.h"

namespace tsr {

WorkingDirectory::~WorkingDirectory() { DeleteWorkingDirectory(); }

std::string WorkingDirectory::CandidateName(int i) {
    if (i == 0) return "TSR10.TMP";
    return "TSR" + std::to_string(i) + "N10.TMP";
}

int WorkingDirectory::CreateWorkingDirectory(const std::string& tempDir) {
    DeleteWorkingDirectory();
    std::string temp = tempDir.empty() ? TemporaryDirectory() : tempDir;
    struct stat st;
    if (temp.empty() || stat(temp.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return kWdNoTempDirectory;
    char resolved[PATH_MAX];
    if (!realpath(temp.c_str(), resolved)) return kWdNoLongName;
    int parentFd = open(resolved, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) return kWdNoLongName;
    for (int i = 0; i <= 100; ++i) {
        const std::string name = CandidateName(i);
        if (!TryCandidate(parentFd, name)) continue;
        close(parentFd);
        parent_ = resolved;
        path_ = JoinPath(parent_, name);
        outputPath_ = JoinPath(path_, "WEB");
        return 0;
    }
    close(parentFd);
    return kWdNoCandidate;
}

// Takes the candidate `name` under `parentFd`: on success fd_ holds the locked directory.
bool WorkingDirectory::TryCandidate(int parentFd, const std::string& name) {
    const char* n = name.c_str();
    struct stat st;
    if (fstatat(parentFd, n, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) return false;  // never follow, never touch
        if (!S_ISDIR(st.st_mode) && unlinkat(parentFd, n, 0) != 0) return false;
        if (S_ISDIR(st.st_mode) && st.st_uid != geteuid()) return false;
    } else if (errno != ENOENT) {
        return false;
    }
    if (mkdirat(parentFd, n, 0700) != 0 && errno != EEXIST) return false;
    int fd = openat(parentFd, n, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    // A live instance holds the lock on its directory for as long as it runs.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
        close(fd);
        return false;
    }
    if (fchmod(fd, 0700) != 0 || !RemoveDirectoryContents(fd) || mkdirat(fd, "WEB", 0700) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void WorkingDirectory::DeleteWorkingDirectory() {
    if (fd_ < 0) return;
    RemoveDirectoryContents(fd_);
    rmdir(path_.c_str());
    close(fd_);  // releases the lock
    fd_ = -1;
    path_.clear();
    outputPath_.clear();
    parent_.clear();
}

}  // namespace tsr
