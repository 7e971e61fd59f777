#include "designer/tools.h"

#include <unistd.h>

#include <cstdio>

namespace tsr::designer {

std::string LocalServerUrl(unsigned port, bool https) {
    const std::string scheme = https ? "https://localhost" : "http://localhost";
    if (port == (https ? 443u : 80u)) return scheme;
    return scheme + ":" + std::to_string(port);
}

std::string GeneratedFileUrl(const std::string& outputDirectory) {
    const std::string path = outputDirectory + "/index.html";
    std::string url = "file://";
    for (unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '_' ||
                           c == '.' || c == '~';
        if (plain) {
            url += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

std::string PreviewUrl(bool serverRunning, unsigned port, const std::string& outputDirectory) {
    return serverRunning ? LocalServerUrl(port) : GeneratedFileUrl(outputDirectory);
}

bool PreviewNeedsReload(const std::string& shownUrl, const std::string& url, bool documentChanged,
                        bool lastLoadFailed) {
    return shownUrl != url || documentChanged || lastLoadFailed;
}

std::vector<std::string> HtmlEditorCommand(const std::string& programDirectory,
                                           const std::string& outputDirectory,
                                           const std::optional<std::string>& sciteOnPath) {
    const std::string page = outputDirectory + "/index.html";
    const std::string beside = programDirectory + "/scite/scite";
    if (!programDirectory.empty() && access(beside.c_str(), X_OK) == 0) return {beside, page};
    if (sciteOnPath) return {*sciteOnPath, page};
    return {"xdg-open", page};
}

std::string HelpFilePath(const std::string& programDirectory, bool french, HelpDocument document) {
    return programDirectory + (french ? "/tsr_f" : "/tsr_e") +
           (document == HelpDocument::Help ? ".html" : ".pdf");
}

}  // namespace tsr::designer
