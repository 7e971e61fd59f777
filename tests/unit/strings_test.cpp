#include "base/strings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace tsr {
namespace {

TEST(Strings, LanguageFollowsTheLocaleVariables) {
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        Language expected;
    } cases[] = {
        {nullptr, nullptr, "fr_FR.UTF-8", Language::French},
        {nullptr, nullptr, "en_US.UTF-8", Language::English},
        {nullptr, nullptr, nullptr, Language::English},
        {"", "fr_CA", "en_GB", Language::French},
        {"C", "fr_FR", "fr_FR", Language::English},
        {nullptr, nullptr, "fr", Language::French},
        {nullptr, nullptr, "fro_XX", Language::English},
    };
    for (const Case& c : cases) {
        auto set = [](const char* name, const char* value) {
            if (value) setenv(name, value, 1);
            else unsetenv(name);
        };
        set("LC_ALL", c.lcAll);
        set("LC_MESSAGES", c.lcMessages);
        set("LANG", c.lang);
        EXPECT_EQ(SystemLanguage(), c.expected)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lang ? c.lang : "-");
    }
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
}

TEST(Strings, TextsByIdAndLanguage) {
    EXPECT_EQ(LoadString(kMsgErrorSaving, Language::English), "Error while saving");
    EXPECT_EQ(LoadString(kMsgErrorLoading, Language::English), "Error while loading");
    EXPECT_EQ(LoadString(133, Language::English), "Diseconnected from KX");
    EXPECT_EQ(LoadString(kMsgAllFiles, Language::French), "Tous les fichiers (*.*)");
    EXPECT_EQ(LoadString(109, Language::French), "Connecté à CORVANE");
    EXPECT_EQ(LoadString(129, Language::English), "");
    EXPECT_EQ(LoadString(1, Language::French), "");
}

}  // namespace
}  // namespace tsr
