#include "core/messages.h"

#include <gtest/gtest.h>

#include <set>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

TEST(Messages, EveryKeyIsInTheTableOnceWithAText) {
    const Messages messages;
    std::set<std::string> seen;
    for (const clsString& m : messages.table()) {
        EXPECT_TRUE(seen.insert(m.Nam).second) << m.Nam;
        EXPECT_FALSE(m.Txt.empty()) << m.Nam;
    }
}

TEST(Messages, LookupIsExactAndCaseSensitive) {
    const Messages messages;
    EXPECT_EQ(messages.GetMessage("strMsgNever"), "Never");
    EXPECT_EQ(messages.GetMessage("strMsgTomorrowAt"), "Tomorrow at ");
    EXPECT_EQ(messages.GetMessage("strMsgFilesStored"), "Backup files stored:  ");
    EXPECT_EQ(messages.GetMessage("strmsgnever"), "");
    EXPECT_EQ(messages.GetMessage("strMsgNoSuchKey"), "");
}

TEST(Messages, FormatFillsPlaceholdersOnce) {
    const Messages messages;
    EXPECT_EQ(messages.format("strMsgTermNormally", {{"%d", "Daily"}, {"%t", "19:30"}}),
              "Backup Daily terminated normally at 19:30!");
    // A name that itself holds a placeholder is not replaced again.
    EXPECT_EQ(messages.format("strMsgTermNormally", {{"%d", "odd%t"}, {"%t", "19:30"}}),
              "Backup odd%t terminated normally at 19:30!");
    EXPECT_EQ(messages.format("strMsgNrRestoredFiles", {{"%1", "3"}, {"%2", "4"}, {"%d", "/r"}}),
              "3/4 files restored to /r!");
}

TEST(Messages, LanguageFileOverridesOnlyNonEmptyValues) {
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
    EXPECT_EQ(messages.GetMessage("strMsgNever"), "Never");
    EXPECT_EQ(messages.GetMessage("strMsgFull"), "Voll");
    EXPECT_EQ(messages.GetMessage("strMsgTodayAt"), "  Heute ");
    // No 1,024-character limit on a translated text.
    EXPECT_EQ(messages.GetMessage("strMsgPause"), longText);
    // Keys in the file match without case.
    EXPECT_EQ(messages.GetMessage("strMsgContinue"), "Weiter");
    EXPECT_EQ(messages.GetMessage("strMsgPaused"), "Halt");

    messages.FillMessages(dir.file("Languages/missing.lng"));
    EXPECT_EQ(messages.GetMessage("strMsgFull"), "Full");
}

}  // namespace
}  // namespace kestrel
