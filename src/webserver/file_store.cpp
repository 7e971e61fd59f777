#include "webserver/file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tsr {
namespace {

std::string CacheKey(const FileCache::Key& key) {
    std::string k = key.path;
    k += '\0';
    k += key.type;
    return k;
}

}  // namespace

int64_t ModificationTimeNs(const struct stat& st) {
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

int OpenServedFile(const std::string& root, std::string_view relative) {
    int dir = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return -1;
    for (;;) {
        const size_t slash = relative.find('/');
        const std::string component(relative.substr(0, slash));
        if (slash != std::string_view::npos && component.empty()) {
            relative.remove_prefix(1);  // "a//b" names a/b
            continue;
        }
        if (component.empty() || component == "." || component == "..") break;
        const bool last = slash == std::string_view::npos;
        const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (last ? O_NONBLOCK : O_DIRECTORY);
        int next = openat(dir, component.c_str(), flags);
        close(dir);
        if (next < 0) return -1;
        if (!last) {
            dir = next;
            relative.remove_prefix(slash + 1);
            continue;
        }
        struct stat st;
        if (fstat(next, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(next);
            return -1;
        }
        // Regular file: reads need no O_NONBLOCK (it only kept a FIFO from blocking the open).
        fcntl(next, F_SETFL, fcntl(next, F_GETFL) & ~O_NONBLOCK);
        return next;
    }
    close(dir);
    return -1;
}

std::shared_ptr<const std::string> FileCache::Find(const Key& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(CacheKey(key));
    if (it == entries_.end() || it->second.generation != generation_) return nullptr;
    struct stat st;
    if (lstat(key.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size != it->second.size || ModificationTimeNs(st) != it->second.mtimeNs)
        return nullptr;
    return it->second.answer;
}

void FileCache::Insert(const Key& key, off_t size, int64_t mtimeNs,
                       std::shared_ptr<const std::string> answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (total_ + answer->size() > kMaxTotal) {
        entries_.clear();
        total_ = 0;
    }
    std::string k = CacheKey(key);
    auto it = entries_.find(k);
    if (it != entries_.end()) {
        total_ -= it->second.answer->size();
        entries_.erase(it);
    }
    total_ += answer->size();
    entries_.emplace(std::move(k), Entry{size, mtimeNs, generation_, std::move(answer)});
}

void FileCache::Invalidate() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
    entries_.clear();
    total_ = 0;
}

}  // namespace tsr
