#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "core/language_file.h"
#include "core/messages.h"
#include "platform/fs.h"
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

}  // namespace
}  // namespace kestrel
