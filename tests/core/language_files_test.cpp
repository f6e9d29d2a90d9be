// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "core/language_file.h"
#include "core/messages.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "support/process_state.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

std::multiset<std::string> placeholders(const std::string& text) {
    static const std::regex kMarker("%[dsi12tphf]");
    std::multiset<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kMarker);
         it != std::sregex_iterator(); ++it) {
        found.insert(it->str());
    }
    return found;
}

TEST(ShippedLanguages, EnglishIsTheTableAndEveryLanguageTranslatesEveryKey) {
    const LanguageFile english(test::sourceLanguagesDir() + "/english.lng");
    for (const MessageDefault& row : defaultMessages()) {
        EXPECT_EQ(english.profileString("msgStrings", row.key), row.text) << row.key;
    }
    auto files = fs::listDir(test::sourceLanguagesDir());
    ASSERT_TRUE(files);
    int languages = 0;
    for (const std::string& name : *files) {
        if (name.size() < 4 || name.substr(name.size() - 4) != ".lng") {
            continue;
        }
        ++languages;
        const std::string path = test::sourceLanguagesDir() + "/" + name;
        const LanguageFile lng(path);
        IniFile raw;
        ASSERT_EQ(raw.load(path), IniFile::LoadResult::Loaded);
        EXPECT_EQ(raw.sectionLines("msgStrings")->size(), defaultMessages().size()) << name;
        for (const MessageDefault& row : defaultMessages()) {
            const std::string translated = lng.profileString("msgStrings", row.key);
            EXPECT_FALSE(translated.empty()) << name << ": " << row.key;
            EXPECT_EQ(placeholders(translated), placeholders(row.text)) << name << ": " << row.key;
        }
    }
    EXPECT_GE(languages, 2);
}

// Until a language is chosen, the locale's language file, matched by its "strMsgLocale".
TEST(ShippedLanguages, TheLocaleChoosesUntilASettingIsStored) {
    struct Case {
        const char* all;
        const char* messages;
        const char* lang;
        const char* file;
    };
    const Case cases[] = {
        {"", "", "de_DE.UTF-8", "german.lng"}, {"", "de_AT@euro", "en_GB", "german.lng"},
        {"", "", "DE", "german.lng"},          {"C", "de_DE", "de_DE", "english.lng"},
        {"POSIX", "", "de", "english.lng"},    {"", "", "", "english.lng"},
        {"", "", "xx_YY", "english.lng"},      {"", "", "C.UTF-8", "english.lng"},
        {"", "", "_DE.UTF-8", "english.lng"},  {"", "", "de_DE", "german.lng"},
    };
    test::TestContext t;
    for (const char* name : {"english.lng", "german.lng"}) {
        t.dir.write("Languages/" + std::string(name),
                    test::readAll(test::sourceLanguagesDir() + "/" + name));
    }
    test::ScopedEnv variables[] = {{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.all) + "|" + c.messages + "|" + c.lang);
        const char* values[] = {c.all, c.messages, c.lang};
        for (int i = 0; i < 3; ++i) {
            variables[i].set(values[i]);
        }
        t.ctx->settings.loadStartupValues(t.ctx->paths);
        EXPECT_EQ(fs::fileNameOf(t.ctx->settings.languageFilePath), c.file);
    }
    // A stored choice wins over the locale, whose language the last case was.
    ASSERT_TRUE(t.ctx->settings.saveGeneral("Language", "English"));
    t.ctx->settings.loadStartupValues(t.ctx->paths);
    EXPECT_EQ(fs::fileNameOf(t.ctx->settings.languageFilePath), "english.lng");
}

}  // namespace
}  // namespace kestrel
