// Helpers shared by the unit tests.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zip.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "platform/fs.h"

namespace tsr::test {

// A fresh directory under the system temporary directory, removed with its contents at the end.
class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = TemporaryDirectory() + "/tessora-test.XXXXXX";
        path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~ScratchDir() { RemoveTree(path_); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return JoinPath(path_, name); }

private:
    std::string path_;
};

// True when something (a link included, not followed) stands at `path`.
inline bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Sets (or with nullopt removes) an environment variable, restoring it at the end.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Runs a shell command and returns its standard output; `status` receives the exit status.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

inline std::string ReadAll(const std::string& path) {
    std::string s;
    ReadFile(path, s);
    return s;
}

// The entries of the archive at `path`, name -> content.
inline std::map<std::string, std::string> ReadZip(const std::string& path) {
    std::map<std::string, std::string> out;
    int error = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!za) return out;
    for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(za, i, 0, &st);
        std::string content(st.size, '\0');
        zip_file_t* f = zip_fopen_index(za, i, 0);
        if (f && st.size) zip_fread(f, content.data(), st.size);
        if (f) zip_fclose(f);
        out[st.name] = content;
    }
    zip_discard(za);
    return out;
}

}  // namespace tsr::test
