#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace tsr {
namespace {

bool IsDirectory(const char* path) {
    struct stat st;
    return path && *path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// Removes the contents of `rootFd` depth first while holding one directory descriptor at a time
// (the path down is kept as names), so that no nesting depth exhausts the descriptors. Going back
// up, ".." is checked to be the directory that was left, so a directory moved meanwhile stops the
// walk instead of deleting elsewhere.
bool RemoveDirectoryContents(int rootFd) {
    struct Level {
        std::string name;            // of the directory below, in this level's directory
        dev_t dev;                   // this level's directory
        ino_t ino;
        std::vector<std::string> skipped;  // entries that could not be removed
    };
    int cur = dup(rootFd);
    if (cur < 0) return false;
    struct stat here;
    if (fstat(cur, &here) != 0) {
        close(cur);
        return false;
    }
    std::vector<Level> path;  // the levels above `cur`
    std::vector<std::string> skipped;
    bool ok = true;
    for (;;) {
        std::string next;
        bool isDir = false;
        {
            int listFd = dup(cur);
            DIR* dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
            if (!dir) {
                if (listFd >= 0) close(listFd);
                ok = false;
            } else {
                rewinddir(dir);
                while (dirent* e = readdir(dir)) {
                    std::string_view name = e->d_name;
                    if (name == "." || name == "..") continue;
                    if (std::find(skipped.begin(), skipped.end(), name) != skipped.end()) continue;
                    next.assign(name);
                    break;
                }
                closedir(dir);
            }
        }
        if (!next.empty()) {
            struct stat st;
            if (fstatat(cur, next.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT) {
                    ok = false;
                    skipped.push_back(next);
                }
                continue;
            }
            isDir = S_ISDIR(st.st_mode);
            if (!isDir) {
                if (unlinkat(cur, next.c_str(), 0) != 0) {
                    ok = false;
                    skipped.push_back(next);
                }
                continue;
            }
            int sub = openat(cur, next.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) {
                ok = false;
                skipped.push_back(next);
                continue;
            }
            fchmod(sub, 0700);
            path.push_back({next, here.st_dev, here.st_ino, std::move(skipped)});
            skipped.clear();
            close(cur);
            cur = sub;
            fstat(cur, &here);
            continue;
        }
        // `cur` is as empty as it can be made: go back up and remove it.
        if (path.empty()) break;
        const bool emptied = skipped.empty();
        int parent = openat(cur, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(cur);
        cur = parent;
        Level up = std::move(path.back());
        path.pop_back();
        if (cur < 0 || fstat(cur, &here) != 0 || here.st_dev != up.dev || here.st_ino != up.ino) {
            ok = false;  // the tree was moved while it was being removed
            if (cur >= 0) close(cur);
            return false;
        }
        skipped = std::move(up.skipped);
        if (!emptied || unlinkat(cur, up.name.c_str(), AT_REMOVEDIR) != 0) {
            ok = false;
            skipped.push_back(up.name);
        }
    }
    close(cur);
    return ok;
}

bool RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    fchmod(fd, 0700);
    bool ok = RemoveDirectoryContents(fd);
    close(fd);
    return rmdir(path.c_str()) == 0 && ok;
}

std::string TemporaryDirectory() {
    const char* env = std::getenv("TMPDIR");
    if (IsDirectory(env)) return env;
    if (IsDirectory("/tmp")) return "/tmp";
    return {};
}

bool ReadFile(const std::string& path, std::string& out) {
    out.clear();
    // Non-blocking, so that a FIFO or a device given by mistake is refused at once.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // Room for the whole file at once (a file that grows meanwhile grows the text as usual).
    if (st.st_size > 0 && st.st_size < (off_t{1} << 30))
        out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

bool WriteAllToFd(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool WriteFile(const std::string& path, std::string_view data) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool written = WriteAllToFd(fd, data);
    return close(fd) == 0 && written;
}

bool WriteFileReplacing(const std::string& path, std::string_view data) {
    std::string temp = JoinPath(DirectoryOf(path), "." + FileNameOf(path) + ".XXXXXX");
    int fd = mkstemp(temp.data());
    if (fd < 0) return false;
    struct stat st;
    mode_t mode = 0666;
    if (stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;  // an existing file keeps its permissions
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode &= ~mask;
    }
    bool ok = WriteAllToFd(fd, data) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
    unlink(temp.c_str());
    return false;
}

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (!out.empty() && out.back() != '/') out += '/';
    out += name;
    return out;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> ListDirectoryAt(int dirFd) {
    std::vector<std::string> names;
    int listFd = dup(dirFd);
    if (listFd < 0) return names;
    DIR* dir = fdopendir(listFd);
    if (!dir) {
        close(listFd);
        return names;
    }
    rewinddir(dir);
    while (dirent* e = readdir(dir)) {
        std::string_view name = e->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ListDirectory(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir) return names;
    while (dirent* e = readdir(dir)) {
        std::string_view name = e->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tsr
