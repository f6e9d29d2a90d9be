// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/file_handle.h"
#include "platform/fs.h"
#include "platform/safe_dir.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using Policy = SafeDir::LinkPolicy;

// Writes content to finalName as a restore does: a temporary file renamed into place.
void writeThrough(SafeDir& dir, const std::string& finalName, const std::string& content) {
    FileHandle file;
    std::string temp;
    std::string error;
    ASSERT_TRUE(dir.createTemp(finalName, file, &temp, &error)) << error;
    EXPECT_EQ(temp.rfind(finalName + ".kestrel-", 0), 0u) << temp;
    EXPECT_EQ(temp.size(), finalName.size() + 15);
    struct stat st {};
    ASSERT_EQ(::fstatat(dir.fd(), temp.c_str(), &st, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const auto size = static_cast<std::int64_t>(content.size());
    ASSERT_EQ(file.writeAt(content.data(), size, 0), size);
    file.close();
    ASSERT_TRUE(dir.renameInto(temp, finalName, &error)) << error;
    EXPECT_FALSE(fs::exists(fs::join(dir.path(), temp)));
}

TEST(SafeDirTest, ALinkBelowTheRootIsFollowedOnlyWhenThePolicyAllowsIt) {
    test::TempDir root;
    test::TempDir elsewhere;
    root.write("a/keep", "");
    ASSERT_EQ(::symlink(elsewhere.path().c_str(), root.file("a/link").c_str()), 0);

    std::string error;
    EXPECT_FALSE(SafeDir::open(root.path(), "a/link", false, Policy::Never))
        << "a link as the last name";

    // The test's own link is followed (a link of another user needs root to make).
    auto dir = SafeDir::open(root.path(), "a/link/sub", true, Policy::OwnedByRootOrMe, &error);
    ASSERT_TRUE(dir) << error;
    EXPECT_EQ(dir->path(), root.file("a/link/sub"));
    writeThrough(*dir, "f", "through");
    EXPECT_EQ(test::readAll(elsewhere.file("sub/f")), "through");
}

TEST(SafeDirTest, RefusesParentComponentsFilesAndMissingFolders) {
    test::TempDir root;
    root.write("file", "x");
    std::string error;
    EXPECT_FALSE(SafeDir::open(root.path(), "a/../b", true, Policy::Never, &error));
    EXPECT_NE(error.find(".."), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(root.file("a"))) << "checked before anything is made";

    EXPECT_FALSE(SafeDir::open(root.path(), "file/sub", true, Policy::OwnedByRootOrMe, &error));
    EXPECT_NE(error.find(root.file("file")), std::string::npos) << error;
    EXPECT_NE(error.find(::strerror(ENOTDIR)), std::string::npos) << error;

    EXPECT_FALSE(SafeDir::open(root.path(), "missing/x", false, Policy::Never, &error));
    EXPECT_NE(error.find(root.file("missing")), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(root.file("missing")));

    // Names are single entries: a separator would walk (and follow links) past the checks.
    auto dir = SafeDir::open(root.path(), ".", false, Policy::Never);
    ASSERT_TRUE(dir);
    FileHandle file;
    std::string temp;
    EXPECT_FALSE(dir->createTemp("sub/f", file, &temp, &error));
    EXPECT_FALSE(dir->renameInto("file", "../f", &error));
    EXPECT_TRUE(fs::exists(root.file("file")));
}

}  // namespace
}  // namespace kestrel
