// The per-user settings file: a small INI file of "[Section]" and "key=value" lines.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"

namespace tsr {

// Where the settings file lives: $XDG_CONFIG_HOME/tessora/profile.ini, or
// $HOME/.config/tessora/profile.ini when XDG_CONFIG_HOME is unset or empty.
std::string ProfilePath();
// The directory of ProfilePath(), where the program keeps its other per-user files.
std::string ProfileDirectory();
// Makes ProfileDirectory() (mode 0700) when missing; an empty string, else why.
std::string EnsureProfileDirectory();

// Status codes of Profile::SetString.
inline constexpr int kProfileWriteFailed = -1;  // the file or its directory could not be written
inline constexpr int kProfileBadEntry = -2;     // the section, key or value cannot be stored

// Reads and writes settings in one INI file. Section and key names are compared without regard to
// ASCII case; surrounding blanks around them are ignored. Lines starting with ';' or '#' are
// comments. The first matching key of the first matching section wins. Every call reads the file
// again, so several Profile objects on the same file always agree.
class Profile {
public:
    explicit Profile(std::string path = ProfilePath());

    const std::string& path() const { return path_; }

    // The value of `key` in `section` as stored (everything after the '=', without the '\r' of a
    // CRLF file); `fallback` when the file, the section or the key is missing.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view fallback) const;

    // The value read as an int: leading blanks, an optional sign, then decimal digits (text
    // without digits reads as 0); `fallback` when the key is missing.
    int GetInt(std::string_view section, std::string_view key, int fallback) const;

    // Stores `value` under `key` in `section`: the key's line is rewritten in place, or the key is
    // added at the end of its section, or the section is added at the end of the file. All other
    // lines are kept as they are. Missing directories are created (mode 0700) and the file is
    // replaced atomically, so a failure leaves the previous file untouched. A value holding a line
    // break, an empty key, a key holding '=' or a section holding ']' is refused.
    Status SetString(std::string_view section, std::string_view key, std::string_view value);

private:
    std::string path_;
};

}  // namespace tsr
