#include "designer/recent_projects.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/profile.h"

namespace tsr::designer {
namespace {

constexpr const char* kSection = "Tessora";

std::string KeyOf(size_t index) {
    return "recentproject" + std::to_string(index + 1);
}

std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// Writes the entries that differ from what the profile holds (each write replaces the file).
void Store(Profile& profile, const std::vector<std::string>& list) {
    for (size_t i = 0; i < kRecentProjectCount; ++i) {
        const std::string value = i < list.size() ? list[i] : std::string();
        if (profile.GetString(kSection, KeyOf(i), "") != value)
            profile.SetString(kSection, KeyOf(i), value);
    }
}

}  // namespace

std::vector<std::string> WithRecentProject(std::vector<std::string> list, const std::string& path) {
    list = WithoutRecentProject(std::move(list), path);
    if (!path.empty()) list.insert(list.begin(), path);
    std::erase(list, std::string());
    if (list.size() > kRecentProjectCount) list.resize(kRecentProjectCount);
    return list;
}

std::vector<std::string> WithoutRecentProject(std::vector<std::string> list,
                                              const std::string& path) {
    std::erase(list, path);
    return list;
}

std::vector<std::string> RecentProjects(const Profile& profile) {
    std::vector<std::string> list;
    for (size_t i = 0; i < kRecentProjectCount; ++i) {
        std::string path = profile.GetString(kSection, KeyOf(i), "");
        if (!path.empty() && std::find(list.begin(), list.end(), path) == list.end())
            list.push_back(std::move(path));
    }
    return list;
}

void AddRecentProject(Profile& profile, const std::string& path) {
    if (path.empty()) return;
    Store(profile, WithRecentProject(RecentProjects(profile), Absolute(path)));
}

void RemoveRecentProject(Profile& profile, const std::string& path) {
    Store(profile, WithoutRecentProject(RecentProjects(profile), path));
}

}  // namespace tsr::designer
