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

bool RemoveDirectoryContents(int dirFd) {
    const std::vector<std::string> names = ListDirectoryAt(dirFd);
    bool ok = true;
    for (const std::string& name : names) {
        struct stat st;
        if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = ok && errno == ENOENT;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            int sub = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) {
                ok = false;
                continue;
            }
            fchmod(sub, 0700);
            ok = RemoveDirectoryContents(sub) && ok;
            close(sub);
            if (unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) ok = false;
        } else if (unlinkat(dirFd, name.c_str(), 0) != 0) {
            ok = false;
        }
    }
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
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
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
