// The places the designer hands to other programs: the preview's and the browser's URLs, the
// HTML editor's command line and the manual's files. Pure functions of the run's state.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tsr::designer {

// "http://localhost" on port 80, else "http://localhost:PORT"; with `https`, "https://localhost"
// on port 443, else "https://localhost:PORT".
std::string LocalServerUrl(unsigned port, bool https = false);

// The file URL of the generated page in `outputDirectory` (an absolute path); bytes that
// cannot stand in a URL path are percent-encoded.
std::string GeneratedFileUrl(const std::string& outputDirectory);

// What the preview shows: the local server while it runs, else the generated file.
std::string PreviewUrl(bool serverRunning, unsigned port, const std::string& outputDirectory);

// After a generation: whether the preview loads its page again. It does when the page shown is
// another (`shownUrl` differs from `url`), when the generated document changed, or when the last
// load failed (the server did not answer); a regeneration that wrote the same document to the
// same place leaves the page as it is, with what it has drawn since.
bool PreviewNeedsReload(const std::string& shownUrl, const std::string& url, bool documentChanged,
                        bool lastLoadFailed);

// The HTML editor's command line for the generated page: "scite/scite" beside the program when
// it exists, else the editor found on the PATH (`sciteOnPath`), else the desktop's default
// application through xdg-open.
std::vector<std::string> HtmlEditorCommand(const std::string& programDirectory,
                                           const std::string& outputDirectory,
                                           const std::optional<std::string>& sciteOnPath);

enum class HelpDocument { Help, Manual };

// The manual beside the program: "tsr_e" or "tsr_f" by language, ".html" for Help and ".pdf"
// for Manual.
std::string HelpFilePath(const std::string& programDirectory, bool french, HelpDocument document);

}  // namespace tsr::designer
