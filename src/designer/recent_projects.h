// The File menu's list of the projects last opened or saved, kept in the per-user profile so
// that it outlives the run.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tsr {
class Profile;
}

namespace tsr::designer {

inline constexpr size_t kRecentProjectCount = 5;

// `list` with `path` first: an entry naming the same file moves up instead of appearing twice,
// empty entries are dropped, and only the first five are kept.
std::vector<std::string> WithRecentProject(std::vector<std::string> list, const std::string& path);

// `list` without `path`.
std::vector<std::string> WithoutRecentProject(std::vector<std::string> list,
                                              const std::string& path);

// The projects of the profile, most recent first: keys "recentproject1" to "recentproject5" of
// section [Tessora]; empty and repeated entries are skipped.
std::vector<std::string> RecentProjects(const Profile& profile);

// Puts `path` (made absolute, so that it names the same file from any directory) at the head of
// the profile's list.
void AddRecentProject(Profile& profile, const std::string& path);

// Takes `path` out of the profile's list (a file that could not be opened any more).
void RemoveRecentProject(Profile& profile, const std::string& path);

}  // namespace tsr::designer
