#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

TEST(SettingsStore, WritesReadsAndDeletesValuesInPrivateFile) {
    test::TempDir dir;
    SettingsStore store(dir.file("settings.ini"));
    EXPECT_FALSE(store.read("Backup\\General Settings", "Language"));
    ASSERT_TRUE(store.write("Backup\\General Settings", "bkpIndex", "7"));
    EXPECT_EQ(store.read("backup\\general settings", "BKPINDEX"), "7");
    EXPECT_EQ(test::readAll(store.path()), "[Backup\\General Settings]\r\nbkpIndex=7\r\n");
    EXPECT_EQ(std::filesystem::status(store.path()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // A second store on the same file (another process) sees the change at once.
    SettingsStore other(dir.file("settings.ini"));
    ASSERT_TRUE(other.write("Backup\\General Settings", "BkpIndex", "8"));
    EXPECT_EQ(store.read("Backup\\General Settings", "bkpindex"), "8");

    EXPECT_TRUE(store.remove("Backup\\General Settings", "bkpIndex"));
    EXPECT_FALSE(store.read("Backup\\General Settings", "bkpIndex"));
    EXPECT_TRUE(store.remove("Backup\\General Settings", "bkpIndex"));
}

TEST(SettingsStore, RefusesValuesTheFileCannotHoldAndCreatesKeysOnce) {
    test::TempDir dir;
    SettingsStore store(dir.file("settings.ini"));
    EXPECT_FALSE(store.write("K", "name", "two\nlines"));
    EXPECT_FALSE(store.write("K", "na=me", "v"));
    EXPECT_FALSE(store.write("K", "", "v"));
    EXPECT_FALSE(std::filesystem::exists(store.path()));
    SettingsStore nowhere(dir.file("missing/folder/settings.ini"));
    EXPECT_FALSE(nowhere.write("K", "name", "v"));
    EXPECT_EQ(nowhere.createKey("K"), SettingsStore::KeyDisposition::Failed);
    EXPECT_EQ(store.createKey("Backup\\masks"), SettingsStore::KeyDisposition::Created);
    EXPECT_EQ(store.createKey("BACKUP\\MASKS"), SettingsStore::KeyDisposition::Opened);
}

}  // namespace
}  // namespace kestrel
