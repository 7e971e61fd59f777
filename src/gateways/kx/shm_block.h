// The transport of the KX family: one named POSIX shared-memory object mapped read-write. It
// only opens, maps, checks and unmaps; the layout inside is block.h's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tsr::kx {

enum class ShmError : int {
    None = 0,
    NotFound = -1,   // no object of that name (the KX program is not running), or no access
    TooShort = -2,   // the object is smaller than the mapping would be
    MapFailed = -3,  // the object could not be mapped
};

// A short English text for `error` ("ok" for None).
const char* ShmErrorText(ShmError error);

// One mapped shared-memory object. Not thread-safe: the family's lock serialises the calls.
class SharedBlock {
public:
    SharedBlock() = default;
    ~SharedBlock() { Close(); }
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;

    // Opens the existing object `name` (never creates one) and maps its first `size` bytes.
    // An object shorter than `size` is refused and not mapped. Closes an open block first.
    ShmError Open(const std::string& name, size_t size);
    // True while the object still holds the whole mapping: another program can shorten it, and
    // touching a mapped page beyond its new end would fault. False when nothing is open.
    bool StillWhole() const;
    // The mapped bytes; empty when nothing is open.
    std::span<uint8_t> bytes() const { return {data_, size_}; }
    bool IsOpen() const { return data_ != nullptr; }
    // Unmaps and closes; nothing when nothing is open.
    void Close();

private:
    int fd_ = -1;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace tsr::kx
