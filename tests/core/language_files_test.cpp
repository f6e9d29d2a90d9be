#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "core/language_file.h"
#include "core/messages.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/program_folder.h"
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

TEST(Messages, EveryKeyIsInTheTableOnceAndLookupIsExact) {
    const Messages messages;
    std::set<std::string> seen;
    for (const clsString& m : messages.table()) {
        EXPECT_TRUE(seen.insert(m.Nam).second) << m.Nam;
        EXPECT_FALSE(m.Txt.empty()) << m.Nam;
    }
    EXPECT_EQ(messages.GetMessage("strMsgTomorrowAt"), "Tomorrow at ");
    EXPECT_EQ(messages.GetMessage("strmsgnever"), "");
    // A name that itself holds a placeholder is not replaced again.
    EXPECT_EQ(messages.format("strMsgTermNormally", {{"%d", "odd%t"}, {"%t", "19:30"}}),
              "Backup odd%t terminated normally at 19:30!");
}

TEST(Messages, ALanguageFileOverridesOnlyNonEmptyValues) {
    test::TempDir dir;
    const std::string longText(3000, 'x');
    const std::string lng = dir.write(
        "Languages/test.lng",
        "[msgStrings]\r\nstrMsgNever=\r\nstrMsgFull=  Voll  \r\nstrMsgTodayAt=\"  Heute \"\r\n"
        "strMsgPause=" +
            longText + "\r\nstrmsgcontinue=Weiter\r\nstrMsgPaused=Halt" + std::string(1, '\0') +
            "ignored\r\n");
    Messages messages;
    messages.FillMessages(lng);
    const std::pair<const char*, std::string> cases[] = {
        {"strMsgNever", "Never"},  {"strMsgFull", "Voll"},       {"strMsgTodayAt", "  Heute "},
        {"strMsgPause", longText}, {"strMsgContinue", "Weiter"}, {"strMsgPaused", "Halt"},
    };
    for (const auto& [key, text] : cases) {
        EXPECT_EQ(messages.GetMessage(key), text) << key;
    }
    messages.FillMessages(dir.file("Languages/missing.lng"));
    EXPECT_EQ(messages.GetMessage("strMsgFull"), "Full");
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

TEST(LanguageFiles, FoundWithoutCaseAndFallingBackToEnglish) {
    test::TempDir home;
    test::TempDir shipped;
    shipped.write("Languages/english.lng", "[msgStrings]\n");
    shipped.write("Languages/german.lng", "[msgStrings]\n");
    const ProgramFolder folder(home.path(), {shipped.path()});
    EXPECT_EQ(findLanguageFile(folder, "German"), shipped.file("Languages/german.lng"));
    for (const char* missing : {"klingon", "../german"}) {
        EXPECT_EQ(findLanguageFile(folder, missing), shipped.file("Languages/english.lng"));
    }
    // The program folder's own copy comes first.
    home.write("Languages/german.lng", "[msgStrings]\n");
    EXPECT_EQ(findLanguageFile(folder, "german"), home.file("Languages/german.lng"));
    EXPECT_EQ(findLanguageFile(ProgramFolder(home.path(), {}), "klingon"), "");
}

}  // namespace
}  // namespace kestrel
