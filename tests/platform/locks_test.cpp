#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "platform/file_lock.h"
#include "platform/fs.h"
#include "platform/scratch_dir.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

TEST(FileLockTest, TwoHoldersConflictAndTheLockEndsWithItsHolder) {
    test::TempDir dir;
    const std::string path = dir.file("x.lock");
    FileLock first;
    ASSERT_EQ(first.tryLock(path), FileLock::Result::Acquired);
    EXPECT_TRUE(first.writeNote("job=A\npid=1\n"));
    FileLock second;
    EXPECT_EQ(second.tryLock(path), FileLock::Result::Busy);
    EXPECT_EQ(second.lock(path, 30), FileLock::Result::Busy);
    EXPECT_FALSE(second.held());
    EXPECT_EQ(FileLock::readNote(path), "job=A\npid=1\n");

    // A shorter note replaces a longer one whole.
    EXPECT_TRUE(first.writeNote("job=B\n"));
    EXPECT_EQ(FileLock::readNote(path), "job=B\n");
    EXPECT_FALSE(second.writeNote("not mine"));

    FileLock moved = std::move(first);
    EXPECT_TRUE(moved.held());
    EXPECT_EQ(second.tryLock(path), FileLock::Result::Busy);
    moved.unlock();
    EXPECT_EQ(second.lock(path, 30), FileLock::Result::Acquired);

    std::string error;
    FileLock nowhere;
    EXPECT_EQ(nowhere.tryLock(dir.file("no/such/folder/x.lock"), &error), FileLock::Result::Failed);
    EXPECT_NE(error.find("cannot open"), std::string::npos);
}

TEST(FileLockTest, ALockKeptAcrossAnExecIsTakenBackOnlyFromItsOwnDescriptor) {
    test::TempDir dir;
    const std::string path = dir.file("x.lock");
    FileLock held;
    ASSERT_EQ(held.tryLock(path), FileLock::Result::Acquired);
    const int fd = held.keepAcrossExec();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "an exec would close it";

    // A descriptor of another file, or of this file but not the locked one, is refused.
    FileLock other;
    ASSERT_EQ(other.tryLock(dir.file("y.lock")), FileLock::Result::Acquired);
    FileLock taker;
    EXPECT_FALSE(taker.adopt(other.keepAcrossExec(), path));
    const int plain = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(plain, 0);
    EXPECT_FALSE(taker.adopt(plain, path)) << "that descriptor does not hold the lock";
    ::close(plain);
    EXPECT_FALSE(taker.adopt(-1, path));
    EXPECT_FALSE(taker.held());

    // The new image gets the same open file (a copy of the descriptor stands in for the exec):
    // still held, closed on the next exec again, held after the old holder is gone.
    const int inherited = ::dup(fd);
    FileLock adopted;
    ASSERT_TRUE(adopted.adopt(inherited, path));
    EXPECT_NE(::fcntl(inherited, F_GETFD) & FD_CLOEXEC, 0);
    held.unlock();
    FileLock rival;
    EXPECT_EQ(rival.tryLock(path), FileLock::Result::Busy);
    adopted.unlock();
    EXPECT_EQ(rival.tryLock(path), FileLock::Result::Acquired);
}

TEST(ScratchDirTest, LiveFoldersStayAndThoseOfGoneHoldersAreSwept) {
    test::TempDir parent;
    std::string path;
    {
        auto scratch = ScratchDir::create(parent.path());
        ASSERT_TRUE(scratch);
        path = scratch->path();
        EXPECT_EQ(fs::parentOf(path), parent.path());
        parent.write(path.substr(parent.path().size() + 1) + "/deep/file", "x");
        EXPECT_EQ(ScratchDir::removeStale(parent.path()), 0);
        EXPECT_TRUE(fs::exists(path + "/deep/file"));

        ScratchDir taken = std::move(*scratch);
        EXPECT_EQ(taken.path(), path);
        EXPECT_TRUE(fs::isDirectory(path));
    }
    EXPECT_FALSE(fs::exists(path)) << "the folder goes with its holder";

    parent.write("scratch-crash1/.lock", "");
    parent.write("scratch-crash1/volume.uxarc", "decrypted data");
    parent.write("scratch-crash2/x", "");  // no lock file at all
    parent.write("other/keep", "k");
    parent.write("scratch-file", "a file, not a folder");
    EXPECT_EQ(ScratchDir::removeStale(parent.path()), 2);
    EXPECT_FALSE(fs::exists(parent.file("scratch-crash1")));
    EXPECT_FALSE(fs::exists(parent.file("scratch-crash2")));
    EXPECT_TRUE(fs::exists(parent.file("other/keep")));
    EXPECT_TRUE(fs::exists(parent.file("scratch-file")));

    EXPECT_FALSE(ScratchDir::create(parent.file("missing")));
}

}  // namespace
}  // namespace kestrel
