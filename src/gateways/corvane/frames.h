// The runtime socket's one exchange: the gateway asks where the runtime lives, the runtime answers
// a file path in its directory. Pure builder and parser.
//
//   query:   78 56 34 12                      the word 0x12345678, little-endian
//   answer:  len(u16 LE) path[len]            len 0: the runtime has no path to give
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tsr::corvane {

// The name of the runtime's socket in the runtime directory.
constexpr std::string_view kRuntimeSocketName = "orvo8_xfs_wclass";
// The library beside the runtime that holds the entry point.
constexpr std::string_view kLibraryName = "orvo8.so";
constexpr uint32_t kRuntimeQuery = 0x12345678;
// The longest path the gateway takes (the system's path limit, terminating zero excluded).
constexpr size_t kMaxRuntimePath = 4095;

// The 4 bytes of the query.
std::array<uint8_t, 4> BuildRuntimeQuery();

struct RuntimeAnswer {
    enum class Kind {
        NeedMore,   // not all of the answer has arrived: `needed` bytes in all
        NoPath,     // the length is 0
        Path,       // `path` holds the path; `consumed` bytes were used
        Malformed,  // the length is beyond kMaxRuntimePath, or the path holds a zero byte
    };
    Kind kind = Kind::NeedMore;
    size_t needed = 2;
    size_t consumed = 0;
    std::string path;
};

// Parses the bytes received so far of the runtime's answer.
RuntimeAnswer ParseRuntimeAnswer(std::span<const uint8_t> received);

// The library's path: `runtimePath` cut at its last "/" with "/orvo8.so" appended. Empty when
// the path holds no "/".
std::string LibraryPathFor(std::string_view runtimePath);

// Whether the opened library file (its mode and owner, as fstat gives them) may be loaded by a
// program running as `self`: a regular file owned by that user or by the system, that no other
// user may change. Loading it runs its code in this program.
bool IsSafeLibraryFile(mode_t mode, uid_t owner, uid_t self);

}  // namespace tsr::corvane
