#include "platform/show_requests.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace tsr {
namespace {

constexpr const char* kSuffix = ".show";

bool FillAddress(const std::string& path, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string SocketPath(const std::string& directory, long id) {
    return directory + "/" + std::to_string(id) + kSuffix;
}

long OwnId(long id) {
    return id >= 0 ? id : static_cast<long>(getpid());
}

}  // namespace

std::string ShowRequestDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/tessora";
    return "/tmp/tessora-" + std::to_string(getuid());
}

ShowRequestListener::ShowRequestListener(std::string directory, long id) {
    // The directory must be ours and private: another user must not be able to plant sockets.
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return;
    struct stat st;
    if (lstat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0)
        return;
    path_ = SocketPath(directory, OwnId(id));
    sockaddr_un address;
    if (!FillAddress(path_, &address)) return;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    unlink(path_.c_str());  // left by an earlier process of the same id
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return;
    }
    fd_ = fd;
}

ShowRequestListener::~ShowRequestListener() {
    if (fd_ < 0) return;
    close(fd_);
    unlink(path_.c_str());
}

bool ShowRequestListener::TakeRequest() {
    if (fd_ < 0) return false;
    bool any = false;
    char buffer[16];
    while (recv(fd_, buffer, sizeof buffer, 0) > 0) any = true;
    return any;
}

int SendShowRequests(const std::string& directory, long ownId) {
    DIR* dir = opendir(directory.c_str());
    if (!dir) return 0;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        closedir(dir);
        return 0;
    }
    const std::string own = std::to_string(OwnId(ownId)) + kSuffix;
    int reached = 0;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == own || name.size() <= std::strlen(kSuffix) ||
            name.compare(name.size() - std::strlen(kSuffix), std::string::npos, kSuffix) != 0)
            continue;
        const std::string path = directory + "/" + name;
        sockaddr_un address;
        if (!FillAddress(path, &address)) continue;
        if (sendto(fd, "show", 4, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&address),
                   sizeof address) == 4) {
            ++reached;
        } else if (errno == ECONNREFUSED) {
            unlink(path.c_str());  // its designer is gone
        }
    }
    close(fd);
    closedir(dir);
    return reached;
}

}  // namespace tsr
