// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

TEST(IniFile, SectionsAndKeysMatchWithoutCaseAndValuesKeepTheirBytes) {
    const IniFile ini = IniFile::parse(
        "[General Settings]\r\nLanguage=german\r\nPath = /a=b/c \r\n[Other]\nkey=1\nmac=a\rb\r\n");
    EXPECT_EQ(ini.value("general settings", "LANGUAGE"), "german");
    // Blanks after "=" go, blanks at the end stay: a path may end in one.
    EXPECT_EQ(ini.value("General Settings", "path"), "/a=b/c ");
    EXPECT_EQ(ini.value("OTHER", "Key"), "1");
    EXPECT_EQ(ini.value("Other", "mac"), "a\rb");  // only CR LF or LF ends a line
    EXPECT_FALSE(ini.value("Other", "missing"));
    EXPECT_FALSE(ini.value("Missing", "key"));
    EXPECT_EQ(ini.sectionNames(), (std::vector<std::string>{"General Settings", "Other"}));
}

TEST(IniFile, SectionNamesMayHoldBracketsAndValuesHaveNoLengthLimit) {
    const std::string longValue(5000, 'v');
    IniFile ini;
    ini.writeValue("job [2] ]", "k", longValue);
    const IniFile back = IniFile::parse(ini.serialize());
    EXPECT_EQ(back.value("job [2] ]", "k"), longValue);
    std::vector<std::string> many;
    for (int i = 0; i < 3000; ++i) {
        many.push_back("Dir" + std::to_string(i) + "=/some/fairly/long/path/" + std::to_string(i));
    }
    ini.writeSection("Big", many);
    EXPECT_EQ(IniFile::parse(ini.serialize()).sectionLines("big")->size(), 3000u);
}

TEST(SettingsStore, WritesAPrivateFileThatAnotherStoreSeesAtOnce) {
    test::TempDir dir;
    SettingsStore store(dir.file("settings.ini"));
    ASSERT_TRUE(store.write("Backup\\General Settings", "bkpIndex", "7"));
    EXPECT_EQ(test::readAll(store.path()), "[Backup\\General Settings]\r\nbkpIndex=7\r\n");
    EXPECT_EQ(std::filesystem::status(store.path()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // A second store on the same file (another process) sees the change at once.
    SettingsStore other(dir.file("settings.ini"));
    ASSERT_TRUE(other.write("Backup\\General Settings", "BkpIndex", "8"));
    EXPECT_EQ(store.read("Backup\\General Settings", "bkpindex"), "8");
}

TEST(SettingsStore, RefusesValuesTheFileCannotHold) {
    test::TempDir dir;
    SettingsStore store(dir.file("settings.ini"));
    EXPECT_FALSE(store.write("K", "name", "two\nlines"));
    EXPECT_FALSE(store.write("K", "na=me", "v"));
    EXPECT_FALSE(store.write("K", "", "v"));
    EXPECT_FALSE(std::filesystem::exists(store.path()));
    SettingsStore nowhere(dir.file("missing/folder/settings.ini"));
    EXPECT_FALSE(nowhere.write("K", "name", "v"));
    EXPECT_EQ(nowhere.createKey("K"), SettingsStore::KeyDisposition::Failed);
}

}  // namespace
}  // namespace kestrel
