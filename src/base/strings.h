// The program's string table: message texts keyed by their ids, in English and French.
#pragma once

#include <string>

namespace tsr {

enum class Language { English, French };

// The user-interface language: French when the first of LC_ALL, LC_MESSAGES and LANG that is
// set and not empty names a French locale ("fr", "fr_FR.UTF-8"...), else English.
Language SystemLanguage();

// The text of string `id` in `language`, or the empty text when the table has no such entry.
std::string LoadString(int id, Language language);

// The text of string `id` in the system's language.
std::string LoadString(int id);

// Message ids used by the core.
enum StringId : int {
    kMsgErrorSaving = 102,
    kMsgErrorLoading = 103,
    kMsgCannotCreateWebServer = 104,
    kMsgCannotLaunchPreview = 105,
    kMsgSavingProject = 106,
    kMsgProjectChanged = 107,
    kMsgAllFiles = 61442,
};

}  // namespace tsr
