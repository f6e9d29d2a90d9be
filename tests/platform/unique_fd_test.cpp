#include "platform/unique_fd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kestrel {
namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

int openNull() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

TEST(UniqueFdTest, EachDescriptorIsClosedOnceByItsLastOwnerAndAFailingCloseIsReported) {
    int first = -1;
    {
        UniqueFd owner(openNull());
        first = owner.get();
        ASSERT_TRUE(isOpen(first));
        UniqueFd moved(std::move(owner));
        EXPECT_FALSE(owner.valid());
        EXPECT_EQ(moved.get(), first);

        // Taking another descriptor closes the one held.
        UniqueFd other(openNull());
        const int second = other.get();
        moved = std::move(other);
        EXPECT_FALSE(isOpen(first));
        EXPECT_TRUE(isOpen(second));
        first = second;
    }
    EXPECT_FALSE(isOpen(first));

    // A released descriptor is the caller's; resetting to the same one keeps it open.
    UniqueFd kept(openNull());
    const int raw = kept.release();
    EXPECT_FALSE(kept.valid());
    kept.reset(raw);
    kept.reset(raw);
    EXPECT_TRUE(isOpen(raw));
    EXPECT_TRUE(kept.close());
    EXPECT_FALSE(isOpen(raw));
    EXPECT_TRUE(kept.close()) << "nothing held, nothing lost";

    // A failing close is reported.
    UniqueFd fd(openNull());
    ASSERT_EQ(::close(fd.get()), 0);  // closed behind its back
    EXPECT_FALSE(fd.close());
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(fd.valid());
}

}  // namespace
}  // namespace kestrel
