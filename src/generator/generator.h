// The generator: turns the project into the web application in the output directory, one
// "index.html" holding every page and script, beside the web libraries.
#pragma once

#include <cstdint>
#include <optional>
#include <pugixml.hpp>
#include <string>

#include "base/log_sink.h"
#include "generator/generation_context.h"
#include "model/project_file.h"

namespace tsr {

// The project's server settings, read by every generation pass.
struct ServerSettings {
    bool on = false;             // `webserveron`
    uint16_t port = 80;          // `webserverport`, truncated to 16 bits
    bool debugMessages = false;  // `webdebugmsg`
    std::string webRoot;         // the output directory followed by '/'
};

// What a generation pass asks of the rest of the program once the document is written. The
// default does nothing: no server, no gateways (generating without serving).
class GenerationHooks {
public:
    virtual ~GenerationHooks() = default;
    // Starts, restarts or stops the web server for `settings`, then stops the gateways and, when
    // the server runs, starts them again. Returns the host address text when the server runs
    // afterwards, else "". May change `settings` to what was applied (the port served on).
    virtual std::string ApplyServerSettings(ServerSettings& settings) {
        (void)settings;
        return {};
    }
    // Shows the new window title.
    virtual void SetTitle(const std::string& title) { (void)title; }
};

// Copies `source` into `target` recursively, keeping files that already exist in the target and
// skipping sub-directories whose name begins with '.'. Failures are ignored.
void copyDirectoryTree(const std::string& source, const std::string& target);

class Generator {
public:
    // `libraryDirectory` is the program library directory copied beside every document.
    Generator(Project& project, LogSink& log, GenerationHooks& hooks, std::string libraryDirectory);

    // One generation pass. `pageName`, when given, becomes the page shown when the document loads
    // (kept for later passes). Returns true when the document was written completely.
    bool generateApplication(const std::optional<std::string>& pageName = std::nullopt);

    // Emits `object` and its descendants into `out`; `parentType` is the type id of `parent`
    // (-1 when it is none). Elements that are not objects are skipped with their contents.
    int emitObject(pugi::xml_node object, int parentType, pugi::xml_node parent, std::string& out);

    // Emits a span with its contents; does nothing for any other object.
    int emitSpan(pugi::xml_node object, std::string& out);

    // The document of the project as the last complete pass wrote it (also without writing).
    std::string BuildDocument();

    // Writes into `directory` instead of the working directory's output directory.
    void SetOutputDirectory(std::string directory) { outputDirectory_ = std::move(directory); }
    const std::string& outputDirectory() const;

    // True when the last complete pass wrote a document other than the pass before it (the
    // first pass always does).
    bool documentChanged() const { return documentChanged_; }

    GenerationContext& context() { return context_; }
    const std::string& title() const { return title_; }
    const ServerSettings& settings() const { return settings_; }

private:
    std::string ExpandedProperty(pugi::xml_node object, int type, const char* key);
    void EmitChildren(pugi::xml_node object, int type, std::string& out);
    void ReadSettings();

    Project& project_;
    LogSink& log_;
    GenerationHooks& hooks_;
    std::string libraryDirectory_;
    std::string outputDirectory_;  // empty: the working directory's output directory
    std::string s7Library_;  // text of the S7-1200 script library, read once per pass
    GenerationContext context_;
    ServerSettings settings_;
    std::string title_;
    std::string lastDocument_;  // what the last complete pass wrote
    bool documentChanged_ = true;
};

}  // namespace tsr
