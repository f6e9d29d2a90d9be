#include "platform/fs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "platform/file_handle.h"
#include "platform/program_folder.h"
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

TEST(Fs, MakeDirsAndAppend) {
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
    EXPECT_FALSE(fs::listDir(dir.file("missing")));
}

// The permission bits of a path (not following a last link); -1 when there is nothing.
int modeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// umask 0 for one test: what the program makes must not rely on the user's umask.
class OpenUmask {
public:
    OpenUmask() : m_old(::umask(0)) {}
    ~OpenUmask() { ::umask(m_old); }

private:
    mode_t m_old;
};

TEST(Fs, WhatTheProgramMakesIsPrivateWhateverTheUmask) {
    struct Case {
        const char* what;
        // Makes something in the folder (where some rows first plant what was there) and
        // returns the path to look at.
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
        {"new folders and their parents",
         [](const test::TempDir& d) {
             EXPECT_TRUE(fs::makePrivateDirs(d.file("a/b/c")));
             EXPECT_EQ(modeOf(d.file("a")), 0700);
             return d.file("a/b/c");
         },
         0700},
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
        {"a plain copy of an executable",
         [&](const test::TempDir& d) { return copied(d, 0755, fs::CopyMode::OwnerBits); }, 0700},
        {"a plain copy of a shared file",
         [&](const test::TempDir& d) { return copied(d, 0666, fs::CopyMode::OwnerBits); }, 0600},
        {"a plain copy of a read-only file",
         [&](const test::TempDir& d) { return copied(d, 0444, fs::CopyMode::OwnerBits); }, 0400},
        {"a plain copy of a set-user-id file",
         [&](const test::TempDir& d) { return copied(d, 04755, fs::CopyMode::OwnerBits); }, 0700},
        {"a file opened for writing",
         [](const test::TempDir& d) {
             FileHandle f;
             EXPECT_TRUE(f.open(d.file("volume"), FileHandle::Mode::Write));
             return d.file("volume");
         },
         0600},
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
    const OpenUmask open;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        EXPECT_EQ(modeOf(c.make(dir)), c.mode);
    }
}

}  // namespace
}  // namespace kestrel
