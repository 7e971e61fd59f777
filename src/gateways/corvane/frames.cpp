#include "gateways/corvane/frames.h"

#include <sys/stat.h>

namespace tsr::corvane {

std::array<uint8_t, 4> BuildRuntimeQuery() {
    return {static_cast<uint8_t>(kRuntimeQuery & 0xFF),  // the query word, little-endian
            static_cast<uint8_t>((kRuntimeQuery >> 8) & 0xFF),
            static_cast<uint8_t>((kRuntimeQuery >> 16) & 0xFF),
            static_cast<uint8_t>((kRuntimeQuery >> 24) & 0xFF)};
}

RuntimeAnswer ParseRuntimeAnswer(std::span<const uint8_t> received) {
    RuntimeAnswer answer;
    if (received.size() < 2) return answer;  // the length is not complete yet
    const size_t length = static_cast<size_t>(received[0] | (received[1] << 8));  // u16 LE
    if (length == 0) {
        answer.kind = RuntimeAnswer::Kind::NoPath;
        answer.consumed = 2;
        return answer;
    }
    if (length > kMaxRuntimePath) {
        answer.kind = RuntimeAnswer::Kind::Malformed;
        return answer;
    }
    answer.needed = 2 + length;
    if (received.size() < answer.needed) return answer;
    const std::string_view path(reinterpret_cast<const char*>(received.data() + 2), length);
    if (path.find('\0') != std::string_view::npos) {
        answer.kind = RuntimeAnswer::Kind::Malformed;
        return answer;
    }
    answer.kind = RuntimeAnswer::Kind::Path;
    answer.consumed = answer.needed;
    answer.path = std::string(path);
    return answer;
}

std::string LibraryPathFor(std::string_view runtimePath) {
    const size_t slash = runtimePath.rfind('/');
    if (slash == std::string_view::npos) return {};
    return std::string(runtimePath.substr(0, slash)) + "/" + std::string(kLibraryName);
}

bool IsSafeLibraryFile(mode_t mode, uid_t owner, uid_t self) {
    if (!S_ISREG(mode)) return false;
    if (owner != self && owner != 0) return false;
    return (mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace tsr::corvane
