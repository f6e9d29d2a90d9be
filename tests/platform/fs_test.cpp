#include "platform/fs.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

TEST(Fs, PathHelpers) {
    EXPECT_EQ(fs::join("/a", "b"), "/a/b");
    EXPECT_EQ(fs::join("/a/", "/b"), "/a/b");
    EXPECT_EQ(fs::join("", "b"), "b");
    EXPECT_EQ(fs::parentOf("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(fs::parentOf("/c.txt"), "/");
    EXPECT_EQ(fs::parentOf("c.txt"), "");
    EXPECT_EQ(fs::fileNameOf("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(fs::absolutePath("/a/./b//c/../d/"), "/a/b/d");
    EXPECT_EQ(fs::absolutePath("/.."), "/");
    EXPECT_EQ(fs::absolutePath("x/y"),
              fs::absolutePath(std::filesystem::current_path().string()) + "/x/y");
}

TEST(Fs, AtomicWriteReplacesContentWithTheGivenModeAndLeavesNoTemporaryFile) {
    test::TempDir dir;
    const std::string path = dir.file("store.ini");
    ASSERT_TRUE(fs::writeFileAtomic(path, "first", 0600));
    ASSERT_TRUE(fs::writeFileAtomic(path, "second, longer", 0600));
    EXPECT_EQ(test::readAll(path), "second, longer");
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(fs::listDir(dir.path())->size(), 1u);

    std::string error;
    EXPECT_FALSE(fs::writeFileAtomic(dir.file("no/such/folder/x"), "x", 0600, &error));
    EXPECT_FALSE(error.empty());
}

TEST(Fs, MakeDirsAppendAndDeleteFilesIn) {
    test::TempDir dir;
    const std::string deep = dir.file("a/b/c");
    ASSERT_TRUE(fs::makeDirs(deep));
    EXPECT_TRUE(fs::isDirectory(deep));
    EXPECT_TRUE(fs::makeDirs(deep));  // already there
    EXPECT_FALSE(fs::makeDirs(dir.write("file", "x") + "/sub"));

    const std::string log = fs::join(deep, "log");
    ASSERT_TRUE(fs::appendToFile(log, "a", 0644));
    ASSERT_TRUE(fs::appendToFile(log, "b", 0644));
    EXPECT_EQ(test::readAll(log), "ab");

    dir.write("a/one", "1");
    dir.write("a/two", "2");
    ASSERT_TRUE(fs::deleteFilesIn(dir.file("a")));
    auto left = fs::listDir(dir.file("a"));
    ASSERT_TRUE(left);
    EXPECT_EQ(*left, std::vector<std::string>{"b"});  // sub-folders stay
    EXPECT_FALSE(fs::listDir(dir.file("missing")));
}

}  // namespace
}  // namespace kestrel
