#include "core/settings.h"

#include <gtest/gtest.h>

#include "support/test_context.h"

namespace kestrel {
namespace {

TEST(Settings, DefaultsWhenAbsentOrEmptyAndABlankSaveDeletes) {
    test::TestContext t;
    Settings& s = t.ctx->settings;
    t.dir.write("settings.ini", "[Backup\\General Settings]\nLanguage=\nRunAsService=1\n");
    EXPECT_EQ(s.general("Language", "english"), "english");
    EXPECT_EQ(s.GetSetting("Backup", "General Settings", "Missing"), "");
    t.ctx->settings.loadStartupValues(t.ctx->paths);
    EXPECT_EQ(s.RunAsService, 1);
    EXPECT_EQ(s.languageFilePath, "");  // no language files in a bare folder

    EXPECT_TRUE(s.SaveSetting("Backup", "General Settings", "bkpIndex", "7"));
    EXPECT_EQ(s.GetSetting("Backup", "General Settings", "BKPINDEX"), "7");
    EXPECT_TRUE(s.SaveSetting("Backup", "General Settings", "bkpIndex", " "));
    EXPECT_EQ(s.GetSetting("Backup", "General Settings", "bkpIndex", "0"), "0");
    // Keys of one section are not found in another.
    EXPECT_TRUE(s.SaveSetting("Backup", "masks", "imask01", "*.doc"));
    EXPECT_EQ(s.GetSetting("Backup", "General Settings", "imask01"), "");
}

}  // namespace
}  // namespace kestrel
