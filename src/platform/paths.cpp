#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "platform/fs.h"

namespace tsr {

std::string ProgramDirectory() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string ProgramLibraryDirectory() {
    const std::string dir = ProgramDirectory();
    const std::string beside = JoinPath(dir, "libs");
    const std::string installed = JoinPath(dir, "../share/tessora/libs");
    struct stat st;
    if (stat(beside.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return beside;
    if (stat(installed.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return installed;
    return beside;
}

}  // namespace tsr
