// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "platform/file_lock.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

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

    // A copy of the descriptor stands in for the exec: held, and closed on the next exec again.
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

}  // namespace
}  // namespace kestrel
