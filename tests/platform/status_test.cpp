#include "platform/status.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

namespace kestrel {
namespace {

TEST(Status, ErrnoDecidesTheKindAndTheTextNamesWhatFailed) {
    const struct {
        int err;
        Status::Kind kind;
    } cases[] = {{ENOSPC, Status::Kind::DiskFull},
                 {EDQUOT, Status::Kind::DiskFull},
                 {ENOENT, Status::Kind::NotFound},
                 {EIO, Status::Kind::Failed},
                 {EACCES, Status::Kind::Failed}};
    for (const auto& c : cases) {
        const Status s = Status::fromErrno(c.err, "cannot write /d/f");
        SCOPED_TRACE(c.err);
        EXPECT_FALSE(s.ok());
        EXPECT_FALSE(static_cast<bool>(s));
        EXPECT_EQ(s.kind(), c.kind);
        EXPECT_EQ(s.isDiskFull(), c.kind == Status::Kind::DiskFull);
        EXPECT_EQ(s.errnum(), c.err);
        EXPECT_EQ(s.text(), std::string("cannot write /d/f: ") + ::strerror(c.err));
    }
    EXPECT_TRUE(Status().ok());
    EXPECT_EQ(Status::failure("damaged").errnum(), 0);
}

TEST(Status, AFullDiskStaysToldThroughLaterFailuresButNeverFailsASuccess) {
    const Status full = Status::fromErrno(ENOSPC, "cannot write v");
    Status later = Status::failure("cannot close v");
    later.keepDiskFullOf(full);
    EXPECT_TRUE(later.isDiskFull());
    EXPECT_EQ(later.text(), "cannot close v");
    Status fine;
    fine.keepDiskFullOf(full);
    EXPECT_TRUE(fine.ok());
    std::string error = "unchanged";
    EXPECT_TRUE(tellError(fine, &error));
    EXPECT_EQ(error, "unchanged");
    EXPECT_FALSE(tellError(later, &error));
    EXPECT_EQ(error, "cannot close v");
}

}  // namespace
}  // namespace kestrel
