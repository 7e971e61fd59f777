// The files the web server serves: opened only inside the site (no symbolic link followed, no
// ".." segment, regular files only), and kept in memory between generations so a busy panel does
// not read them from disk for every request.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tsr {

// Opens the regular file `relative` (a '/'-separated name, no leading '/') below the directory
// `root` for reading, one component at a time without following a symbolic link anywhere below
// `root`. Returns the descriptor, or -1 when a component is missing, is a link, is "..", or the
// last one is not a regular file.
int OpenServedFile(const std::string& root, std::string_view relative);

// Whole answers (header and content) of the small files served, keyed by file and content type.
// An entry is used only while the file keeps its size and modification time and no generation
// pass has written the site since it was made. Thread-safe.
class FileCache {
public:
    // Files larger than this are streamed from disk, never kept.
    static constexpr off_t kMaxFileSize = 1 << 20;
    // When the entries would hold more than this, the cache is emptied and starts again.
    static constexpr size_t kMaxTotal = 64u << 20;

    struct Key {
        std::string path;         // the full local file name
        std::string_view type;    // one of the fixed content types
    };

    // The kept answer for `key` when the file at `path` still has the size and time recorded
    // (checked with one lstat); empty otherwise.
    std::shared_ptr<const std::string> Find(const Key& key);
    // Keeps `answer` for `key`, made from a file of `size` bytes last changed at `mtimeNs`.
    void Insert(const Key& key, off_t size, int64_t mtimeNs,
                std::shared_ptr<const std::string> answer);
    // Forgets every entry (a generation pass rewrote the site).
    void Invalidate();

private:
    struct Entry {
        off_t size;
        int64_t mtimeNs;
        uint64_t generation;
        std::shared_ptr<const std::string> answer;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
    size_t total_ = 0;
    uint64_t generation_ = 0;
};

// The modification time of `st` in nanoseconds.
int64_t ModificationTimeNs(const struct stat& st);

}  // namespace tsr
