// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/fs.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/mounts.h"
#include "platform/program_folder.h"
#include "support/process_state.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using test::modeOf;

TEST(Fs, WhatTheProgramMakesIsPrivateWhateverTheUmask) {
    struct Case {
        const char* what;
        // Makes (some rows first plant what was there) and returns the path to look at.
        std::function<std::string(const test::TempDir&)> make;
        int mode;
    };
    auto withMode = [](const std::string& path, int mode) {
        EXPECT_EQ(::chmod(path.c_str(), static_cast<mode_t>(mode)), 0) << path;
        return path;
    };
    auto copied = [&](const test::TempDir& d, int sourceMode, fs::CopyMode copyMode) {
        const std::string from = withMode(d.write("src/f", "data"), sourceMode);
        EXPECT_TRUE(fs::copyFile(from, d.file("f"), nullptr, nullptr, copyMode));
        return d.file("f");
    };
    auto planted = [&](const test::TempDir& d, const char* name, int mode) {
        std::filesystem::create_directories(d.file(name));
        return withMode(d.file(name), mode);
    };
    const std::vector<Case> cases = {
        {"an existing folder is left to makePrivate",
         [&](const test::TempDir& d) {
             const std::string f = planted(d, "open", 0755);
             EXPECT_TRUE(fs::makePrivateDirs(f));
             return f;
         },
         0755},
        {"makePrivate keeps the owner's and the set-group bits",
         [&](const test::TempDir& d) {
             const std::string f = planted(d, "shared", 02775);
             EXPECT_TRUE(fs::makePrivate(f));
             return f;
         },
         02700},
        {"an own folder that was open",
         [&](const test::TempDir& d) {
             const std::string f = planted(d, "build", 0777);
             EXPECT_TRUE(fs::makeOwnPrivateDir(f));
             return f;
         },
         0700},
        {"a link planted where an own folder goes is refused and its target left",
         [&](const test::TempDir& d) {
             const std::string target = planted(d, "elsewhere", 0755);
             std::filesystem::create_directory_symlink(target, d.file("build"));
             EXPECT_FALSE(fs::makeOwnPrivateDir(d.file("build")));
             return target;
         },
         0755},
        {"a private copy of an executable",
         [&](const test::TempDir& d) { return copied(d, 0755, fs::CopyMode::Private); }, 0600},
        {"a plain copy of a read-only file",
         [&](const test::TempDir& d) { return copied(d, 0444, fs::CopyMode::OwnerBits); }, 0400},
        {"a plain copy of a set-user-id file",
         [&](const test::TempDir& d) { return copied(d, 04755, fs::CopyMode::OwnerBits); }, 0700},
        {"a log found open to all",
         [&](const test::TempDir& d) {
             const std::string log = withMode(d.write("log", "old\n"), 0666);
             fs::AppendFile file(log, 0600);
             EXPECT_TRUE(file.append("new\n"));
             EXPECT_EQ(test::readAll(log), "old\nnew\n");
             return log;
         },
         0600},
        {"the program folder's temp/ found open",
         [&](const test::TempDir& d) {
             planted(d, "home/temp", 0755);
             EXPECT_TRUE(ProgramFolder(d.file("home")).create());
             EXPECT_EQ(modeOf(d.file("home/logs")), 0700);
             EXPECT_EQ(modeOf(d.file("home")), 0700);
             return d.file("home/temp");
         },
         0700},
    };
    const test::ScopedUmask open;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        EXPECT_EQ(modeOf(c.make(dir)), c.mode);
    }
}

TEST(Fs, RemoveTreeRemovesLinksNotWhatTheyPointTo) {
    test::TempDir dir;
    dir.write("outside/precious", "keep");
    dir.write("tree/a/b/c", "x");
    ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("tree/a/link").c_str()), 0);
    EXPECT_TRUE(fs::removeTree(dir.file("tree")));
    EXPECT_FALSE(fs::exists(dir.file("tree")));
    EXPECT_EQ(test::readAll(dir.file("outside/precious")), "keep");
    EXPECT_TRUE(fs::removeTree(dir.file("never there")));
}

// Only regular files the caller asked for: a link to a file, a folder or a name not wanted is
// never reported as a copy.
TEST(Fs, RegularFilesInReportsOnlyWantedRegularFilesWithTheirFacts) {
    test::TempDir dir;
    dir.write("f/plain", "12345");
    dir.write("f/unwanted", "x");
    dir.write("f/sub/deeper", "x");
    ASSERT_EQ(::symlink(dir.file("f/plain").c_str(), dir.file("f/link").c_str()), 0);
    ASSERT_EQ(::chmod(dir.file("f/plain").c_str(), 0640), 0);
    const struct timespec times[2] = {{5, 0}, {1'700'000'000, 123'456'789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.file("f/plain").c_str(), times, 0), 0);
    const auto files =
        fs::regularFilesIn(dir.file("f"), [](std::string_view name) { return name != "unwanted"; });
    ASSERT_TRUE(files);
    ASSERT_EQ(files->size(), 1u);
    const fs::EntryFacts& plain = files->at("plain");
    EXPECT_EQ(plain.size, 5);
    EXPECT_EQ(plain.mtimeSeconds, 1'700'000'000);
    EXPECT_EQ(plain.mtimeNanoseconds, 123'456'789);
    EXPECT_EQ(plain.mode, 0640u);
    EXPECT_FALSE(fs::regularFilesIn(dir.file("missing"), [](std::string_view) { return true; }));
}

TEST(Mounts, ParseMountInfoTakesTheFifthFieldAndDecodesEscapes) {
    const std::string text =
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "40 27 8:17 / /media/ann/My\\040Disk rw,nosuid - vfat /dev/sdb1 rw\n"
        "41 27 8:18 /sub /mnt/back\\134slash rw - ext4 /dev/sdb2 rw\n"
        "42 27 0:5 / relative rw - tmpfs none rw\n"  // not a path: left out
        "43 27 0:6 /\n"                              // cut short
        "\n"
        "44 27 8:19 / /mnt/cut\\04 rw - ext4 /dev/sdb3 rw\n";  // incomplete escape kept as is
    EXPECT_EQ(
        mounts::parseMountInfo(text),
        (std::vector<std::string>{"/", "/media/ann/My Disk", "/mnt/back\\slash", "/mnt/cut\\04"}));
}

TEST(Mounts, AFolderBelowAMountPointThatHoldsNoDiskIsOnAnUnmountedDisk) {
    struct Case {
        const char* path;
        const char* existing;  // the deepest folder of path that exists
        std::vector<std::string> mounted;
        bool unmounted;
    };
    const std::vector<std::string> root = {"/", "/home"};
    const Case cases[] = {
        // udisks removes /media/USER/DISK when the disk goes.
        {"/media/ann/Disk/backup", "/media/ann", root, true},
        {"/media/ann/Disk/backup", "/media/ann/Disk", {"/", "/media/ann/Disk"}, false},
        {"/run/media/ann/Disk/b", "/run/media/ann", {"/", "/run"}, true},  // /run is no disk
        // An fstab mount point stays as an empty folder.
        {"/mnt/usb/backup", "/mnt/usb", root, true},
        {"/mnt/usb/backup", "/mnt/usb", {"/", "/mnt/usb"}, false},
        {"/mnt/backup", "/mnt", {"/", "/mnt"}, false},  // a disk mounted on /mnt itself
        {"/media/usb0/b", "/", root, true},             // not even /media exists
        // A disk mounted elsewhere below the root does not carry this path.
        {"/media/ann/Disk/backup", "/media/ann", {"/", "/media/ann/Other"}, true},
        // Names that only begin like a removable root, and the roots themselves.
        {"/mnt2/backup", "/", root, false},
        {"/home/ann/backup", "/home/ann", root, false},
        {"/media", "/", root, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mounts::belowUnmountedPoint(c.path, c.existing, c.mounted), c.unmounted)
            << c.path << " (existing " << c.existing << ")";
    }
}

}  // namespace
}  // namespace kestrel
