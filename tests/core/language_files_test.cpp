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

TEST(ShippedLanguages, EnglishFileMatchesTheBuiltInTable) {
    const LanguageFile english(test::sourceLanguagesDir() + "/english.lng");
    for (const MessageDefault& row : defaultMessages()) {
        EXPECT_EQ(english.profileString("msgStrings", row.key), row.text) << row.key;
    }
}

TEST(ShippedLanguages, EveryLanguageTranslatesEveryKeyWithTheSamePlaceholders) {
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

TEST(ShippedLanguages, GermanReplacesTheTable) {
    Messages messages;
    messages.FillMessages(test::sourceLanguagesDir() + "/german.lng");
    EXPECT_EQ(messages.GetMessage("strMsgNever"), "Nie");
    EXPECT_EQ(messages.GetMessage("strMsgTomorrowAt"), "Morgen um ");
}

TEST(LanguageFiles, FoundWithoutCaseAndFallingBackToEnglish) {
    test::TempDir home;
    test::TempDir shipped;
    shipped.write("Languages/english.lng", "[msgStrings]\n");
    shipped.write("Languages/german.lng", "[msgStrings]\n");
    const ProgramFolder folder(home.path(), {shipped.path()});
    EXPECT_EQ(findLanguageFile(folder, "German"), shipped.file("Languages/german.lng"));
    EXPECT_EQ(findLanguageFile(folder, "ENGLISH"), shipped.file("Languages/english.lng"));
    // A setting naming a missing file falls back to English, whatever it was.
    EXPECT_EQ(findLanguageFile(folder, "klingon"), shipped.file("Languages/english.lng"));
    EXPECT_EQ(findLanguageFile(folder, "../german"), shipped.file("Languages/english.lng"));
    // The program folder's own copy comes first.
    home.write("Languages/german.lng", "[msgStrings]\n");
    EXPECT_EQ(findLanguageFile(folder, "german"), home.file("Languages/german.lng"));
    const ProgramFolder bare(home.path(), {});
    EXPECT_EQ(findLanguageFile(bare, "klingon"), "");
}

TEST(LanguageFiles, CaptionsOfWindowsAndControlArrays) {
    test::TempDir dir;
    const LanguageFile lng(dir.write("x.lng",
                                     "[frmMain]\nCaption=Hauptfenster\nLabel1|2=Zweites\n"
                                     "Label1=Einzeln\nEmpty=\n"));
    EXPECT_EQ(lng.caption("frmMain", "Caption"), "Hauptfenster");
    EXPECT_EQ(lng.caption("frmMain", "Label1", 2), "Zweites");
    EXPECT_EQ(lng.caption("frmMain", "Label1"), "Einzeln");
    EXPECT_FALSE(lng.caption("frmMain", "Label1", 3));
    EXPECT_FALSE(lng.caption("frmMain", "Empty"));
    EXPECT_FALSE(lng.caption("frmOther", "Caption"));
}

TEST(LanguageFiles, TextInMemoryReadsAsTheFileWould) {
    using namespace std::string_literals;
    // A NUL ends a value, as the profile reader reads it.
    const std::string text =
        "[frmMain]\r\nCaption = \"Haupt fenster\" \r\nLabel1|2=Zweites\r\nCut=ab\0cd\r\n"s;
    test::TempDir dir;
    const LanguageFile fromFile(dir.write("x.lng", text));
    const LanguageFile fromText = LanguageFile::parse(text);
    for (const char* key : {"Caption", "Label1|2", "Cut", "Missing"}) {
        EXPECT_EQ(fromText.profileString("FRMMAIN", key), fromFile.profileString("frmMain", key))
            << key;
    }
    EXPECT_EQ(fromText.caption("frmMain", "Caption"), "Haupt fenster");
    EXPECT_EQ(fromText.caption("frmMain", "Label1", 2), "Zweites");
    EXPECT_EQ(fromText.caption("frmMain", "Cut"), "ab");
}

TEST(LanguageFiles, StartupPicksTheConfiguredLanguage) {
    test::TestContext t;
    test::TempDir assets;
    assets.write("Languages/german.lng", test::readAll(test::sourceLanguagesDir() + "/german.lng"));
    assets.write("Languages/english.lng",
                 test::readAll(test::sourceLanguagesDir() + "/english.lng"));
    ASSERT_TRUE(t.ctx->settings.saveGeneral("Language", "German"));
    AppContext ctx(ProgramFolder(t.home(), {assets.path()}), t.clock, t.host);
    ASSERT_TRUE(ctx.initialise());
    EXPECT_EQ(ctx.msg("strMsgFull"), "Vollständig");
}

}  // namespace
}  // namespace kestrel
