#include "gateways/kx/shm_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tsr::kx {
namespace {

// The object's current size, or -1 when it cannot be asked.
off_t ObjectSize(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return st.st_size;
}

}  // namespace

const char* ShmErrorText(ShmError error) {
    switch (error) {
        case ShmError::None:
            return "ok";
        case ShmError::NotFound:
            return "no such shared memory";
        case ShmError::TooShort:
            return "the shared memory is too short";
        case ShmError::MapFailed:
            return "the shared memory cannot be mapped";
    }
    return "unknown shared memory error";
}

ShmError SharedBlock::Open(const std::string& name, size_t size) {
    Close();
    const int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return ShmError::NotFound;
    const off_t have = ObjectSize(fd);
    if (have < 0 || static_cast<unsigned long long>(have) < size) {
        close(fd);
        return ShmError::TooShort;
    }
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
        close(fd);
        return ShmError::MapFailed;
    }
    fd_ = fd;
    data_ = static_cast<uint8_t*>(p);
    size_ = size;
    return ShmError::None;
}

bool SharedBlock::StillWhole() const {
    if (fd_ < 0) return false;
    const off_t have = ObjectSize(fd_);
    return have >= 0 && static_cast<unsigned long long>(have) >= size_;
}

void SharedBlock::Close() {
    if (data_ != nullptr) munmap(data_, size_);
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    data_ = nullptr;
    size_ = 0;
}

}  // namespace tsr::kx
