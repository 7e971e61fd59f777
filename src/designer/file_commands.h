// The File menu (New, Open, Save, Save as) and the prompt that protects unsaved changes, as a
// controller over the open project. What needs the user (the prompt, the file dialog, message
// boxes) and the running services goes through FileCommandHost, so the rules run without a
// window.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/strings.h"
#include "model/project_file.h"
#include "platform/profile.h"

namespace tsr::designer {

enum class SaveAnswer { Yes, No, Cancel };

enum class FileDialogMode { Open, Save };

struct FileFilter {
    std::string label;    // "Tessora files", or the all-files text of string 61442
    std::string pattern;  // "*.tsr", "*.*"
};

// The project file dialog: what the window shows and how it behaves.
struct FileDialogOptions {
    FileDialogMode mode = FileDialogMode::Open;
    std::string title;                // "Load" for Open, "Save" for Save and Save as
    std::vector<FileFilter> filters;  // Tessora files first, then all files
    std::string defaultExtension;     // "tsr", added to a typed name without extension
    bool fileMustExist = false;       // Open only
    bool overwritePrompt = true;      // asked before replacing an existing file
};

// The project file dialog for `mode`, with its texts in `language`.
FileDialogOptions ProjectFileDialog(FileDialogMode mode, Language language = SystemLanguage());

// `path` with ".tsr" appended when its last component has no extension; "" stays "".
std::string WithDefaultExtension(const std::string& path);

// What the commands need from the window and the running program.
class FileCommandHost {
public:
    virtual ~FileCommandHost() = default;
    // Asks "Project changed, save modifications?" with Yes, No and Cancel.
    virtual SaveAnswer AskSaveChanges() = 0;
    // Shows the project file dialog; the chosen path, or nullopt when the user cancelled.
    virtual std::optional<std::string> AskProjectPath(const FileDialogOptions& dialog) = 0;
    // Shows a failure in a message box ("Error while saving"...).
    virtual void ShowError(const std::string& text) = 0;
    // Stops the web server when it runs, and every gateway of the project.
    virtual void StopServing() = 0;
    // Asks whether to trust a project that reaches outside its own files: `question` names
    // everything it would open; true for Yes.
    virtual bool AskTrust(const std::string& question) = 0;
    // Starts the gateways that reach outside the project (true) or keeps them stopped (false)
    // from the next generation on.
    virtual void SetProjectTrusted(bool trusted) = 0;
    // New built a project, or a file was loaded: what could be undone belongs to the old one.
    virtual void ProjectReplaced() {}
    // The project was saved: the saved state is the one without unsaved changes.
    virtual void ProjectSaved() {}
    // Writes a line to the log in red: a value of the opened file that was corrected.
    virtual void LogWarning(const std::string& text) { (void)text; }
};

// What the window does after a command.
enum class CommandResult {
    Nothing,  // the project is as it was (cancelled, or a failure already shown)
    Rebuild,  // run the rebuild cycle: generation, project-tree rebuild, preview refresh
};

class FileCommands {
public:
    // The decisions to trust projects are remembered in the settings file `profilePath`.
    FileCommands(Project& project, FileCommandHost& host, std::string profilePath = ProfilePath())
        : project_(project), host_(host), profilePath_(std::move(profilePath)) {}

    // True when the caller may go on (discard the project): nothing unsaved, the answer No, or
    // the answer Yes and a save that succeeded. Cancel, a cancelled Save-as dialog or a failed
    // save return false and leave the project as it was.
    bool ConfirmDiscardChanges();

    // After ConfirmDiscardChanges: stops serving, forgets the current path and starts a new
    // project (which counts as changed). Nothing when the user kept the project.
    CommandResult New();

    // After ConfirmDiscardChanges, asks for a file; once one is chosen, stops serving and loads
    // it. A failed load is shown and leaves the project unchanged, but still rebuilds so that the
    // generation pass restarts what the project's settings ask for. A cancelled dialog changes
    // nothing and keeps the services running; it still rebuilds when the prompt saved the
    // project (the title shows the new path).
    CommandResult Open();

    // An entry of the recent projects: like Open, with `path` instead of the dialog. A file
    // that cannot be loaded any more is shown and taken out of the list.
    CommandResult OpenRecent(const std::string& path);

    // The projects last opened or saved, most recent first (at most five, from the profile).
    std::vector<std::string> RecentProjects() const;

    // Saves to the current path without asking; without one, asks for a path like SaveAs.
    CommandResult Save();

    // Asks for a path and saves there; success makes it the current path and puts it at the head
    // of the recent projects.
    CommandResult SaveAs();

    // Loads the project file `path` (a failure is shown and keeps the project as it was), then
    // decides whether it is trusted: a project that reaches outside its own files is, when the
    // user trusted this file with this content before or answers Yes now (remembered).
    // A loaded file heads the recent projects. False when the file could not be loaded.
    bool LoadProjectFile(const std::string& path);

    // False while the open project came from a file the user did not trust.
    bool trusted() const { return trusted_; }

    // The closing of the main window: the same prompt as New and Open.
    bool MayClose() { return ConfirmDiscardChanges(); }

private:
    CommandResult SaveTo(const std::string& path);
    void SetTrusted(bool trusted);
    // Rebuild when the prompt saved the project (its path and title changed), else Nothing.
    CommandResult AfterPrompt() const;

    Project& project_;
    FileCommandHost& host_;
    std::string profilePath_;
    bool savedOnPrompt_ = false;  // the last prompt was answered Yes and the save succeeded
    bool trusted_ = true;
};

}  // namespace tsr::designer
