// Build to Arduino: the sketch of the generated page, written into the working directory, then
// compiled and uploaded with arduino-cli when it is installed (the board and its port asked once
// and kept in the profile), else the user is told where the sketch is and how to upload it, and
// offered to keep a copy of it and of the page it carries (the working directory is removed when
// the program ends).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"

namespace tsr {
class Profile;
}

namespace tsr::designer {

// What the command asks of the window.
class ArduinoHost {
  public:
    virtual ~ArduinoHost() = default;
    // The warning that the board's application is overwritten; true to go on.
    virtual bool AskContinue(const std::string& text) = 0;
    virtual void ShowError(const std::string& text) = 0;
    virtual void ShowInfo(const std::string& text) = 0;
    // A question answered Yes or No; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // Asks for a directory, starting at `initial`; nullopt when cancelled.
    virtual std::optional<std::string> AskDirectory(const std::string& prompt,
                                                    const std::string& initial) = 0;
    // Asks for one line of text, offering `initial`; nullopt when cancelled.
    virtual std::optional<std::string> AskText(const std::string& prompt,
                                               const std::string& initial) = 0;
    // Runs `work` (which may take minutes) while showing `text` as progress; returns when done.
    virtual void RunWithProgress(const std::string& text, const std::function<void()>& work) = 0;
    // A line of arduino-cli's output, from any thread.
    virtual void LogLine(std::string_view line) = 0;
};

enum class ArduinoOutcome {
    Declined,       // the user answered no, or cancelled a question
    SketchFailed,   // the sketch could not be written or the page read
    SketchOnly,     // no arduino-cli: the sketch was written and the user told where it is
    SketchSaved,    // no arduino-cli: besides, the sketch and its page were copied where asked
    SaveFailed,     // no arduino-cli: the copy to the chosen directory failed (and was shown)
    Uploaded,       // compiled and uploaded
    UploadFailed,   // arduino-cli failed; the kept board and port are cleared, to be asked again
};

// Copies the sketch file `sketch` and the page `page` it was made from into `directory` as
// "arduinosdwrite.c" and "index.htm" (replacing older copies) and hands back their paths.
// Fails with -2 (a file cannot be read) or -1 (a copy cannot be written) and a message naming the
// file.
Status SaveSketchCopy(const std::string& sketch, const std::string& page,
                      const std::string& directory, std::string* sketchCopy,
                      std::string* pageCopy);

// `cli` is arduino-cli's path, or nullopt when it is not installed.
ArduinoOutcome BuildToArduino(ArduinoHost& host, Profile& profile,
                              const std::string& workingDirectory,
                              const std::string& outputDirectory,
                              const std::optional<std::string>& cli);

}  // namespace tsr::designer
