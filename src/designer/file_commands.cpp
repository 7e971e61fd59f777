#include "designer/file_commands.h"

#include "designer/recent_projects.h"
#include "gateways/trust.h"

namespace tsr::designer {

FileDialogOptions ProjectFileDialog(FileDialogMode mode, Language language) {
    FileDialogOptions options;
    options.mode = mode;
    const bool open = mode == FileDialogMode::Open;
    options.title = LoadString(open ? kTextLoadTitle : kTextSaveTitle, language);
    options.filters = {{LoadString(kTextTessoraFiles, language), "*.tsr"},
                    {LoadString(kMsgAllFiles, language), "*.*"}};
    options.defaultExtension = "tsr";
    options.fileMustExist = open;
    options.overwritePrompt = true;
    return options;
}

std::string WithDefaultExtension(const std::string& path) {
    if (path.empty()) return path;
    const size_t slash = path.find_last_of('/');
    const std::string_view name =
        std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    // A leading dot names a hidden file, not an extension.
    const size_t dot = name.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0 && dot + 1 < name.size()) return path;
    if (!name.empty() && name.back() == '.') return path + "tsr";
    return path + ".tsr";
}

bool FileCommands::ConfirmDiscardChanges() {
    savedOnPrompt_ = false;
    if (!project_.document().ProjectChanged()) return true;
    switch (host_.AskSaveChanges()) {
        case SaveAnswer::Cancel:
            return false;
        case SaveAnswer::No:
            return true;
        case SaveAnswer::Yes:
            break;
    }
    savedOnPrompt_ = Save() == CommandResult::Rebuild;
    return !project_.document().ProjectChanged();
}

CommandResult FileCommands::AfterPrompt() const {
    return savedOnPrompt_ ? CommandResult::Rebuild : CommandResult::Nothing;
}

CommandResult FileCommands::New() {
    if (!ConfirmDiscardChanges()) return AfterPrompt();
    host_.StopServing();
    project_.ClearCurrentPath();
    project_.document().NewProjectDocument();
    host_.ProjectReplaced();
    SetTrusted(true);  // built here, by the user
    return CommandResult::Rebuild;
}

CommandResult FileCommands::Open() {
    if (!ConfirmDiscardChanges()) return AfterPrompt();
    const std::optional<std::string> path =
        host_.AskProjectPath(ProjectFileDialog(FileDialogMode::Open));
    if (!path || path->empty()) return AfterPrompt();
    host_.StopServing();
    LoadProjectFile(*path);
    return CommandResult::Rebuild;
}

CommandResult FileCommands::OpenRecent(const std::string& path) {
    if (!ConfirmDiscardChanges()) return AfterPrompt();
    host_.StopServing();
    if (!LoadProjectFile(path)) {
        Profile profile(profilePath_);
        RemoveRecentProject(profile, path);
    }
    return CommandResult::Rebuild;
}

std::vector<std::string> FileCommands::RecentProjects() const {
    return designer::RecentProjects(Profile(profilePath_));
}

bool FileCommands::LoadProjectFile(const std::string& path) {
    Status status = project_.Load(path);
    if (!status) {
        host_.ShowError(status.message);
        return false;
    }
    host_.ProjectReplaced();
    for (const std::string& line : project_.loadCorrections()) host_.LogWarning(line);
    {
        Profile profile(profilePath_);
        AddRecentProject(profile, path);
    }
    const std::vector<OutsideReach> reaches =
        FindOutsideReaches(project_.document(), project_.workingDirectory().path());
    if (reaches.empty()) {
        SetTrusted(true);
        return true;
    }
    const std::string fingerprint = TrustFingerprint(path, reaches);
    if (IsTrusted(fingerprint, profilePath_)) {
        SetTrusted(true);
        return true;
    }
    const bool yes = host_.AskTrust(DescribeReaches(path, reaches) + "\n\n" +
                                    LoadString(kTextTrustQuestion));
    if (yes) RememberTrusted(fingerprint, path, profilePath_);
    SetTrusted(yes);
    return true;
}

void FileCommands::SetTrusted(bool trusted) {
    trusted_ = trusted;
    host_.SetProjectTrusted(trusted);
}

CommandResult FileCommands::Save() {
    if (project_.currentPath().empty()) return SaveAs();
    return SaveTo(project_.currentPath());
}

CommandResult FileCommands::SaveAs() {
    const std::optional<std::string> path =
        host_.AskProjectPath(ProjectFileDialog(FileDialogMode::Save));
    if (!path || path->empty()) return CommandResult::Nothing;
    return SaveTo(WithDefaultExtension(*path));
}

CommandResult FileCommands::SaveTo(const std::string& path) {
    Status status = project_.Save(path);
    if (!status) {
        host_.ShowError(status.message);
        return CommandResult::Nothing;
    }
    host_.ProjectSaved();
    {
        Profile profile(profilePath_);
        AddRecentProject(profile, path);
    }
    // A trusted project stays trusted under the name the user saved it as.
    const std::vector<OutsideReach> reaches =
        FindOutsideReaches(project_.document(), project_.workingDirectory().path());
    if (trusted_ && !reaches.empty()) RememberTrusted(TrustFingerprint(path, reaches), path, profilePath_);
    return CommandResult::Rebuild;
}

}  // namespace tsr::designer
