#include "engine/transfer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/fs.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

class TransferTest : public ::testing::Test {
protected:
    test::TestContext t;
    test::TempDir src;
    test::TempDir dest;
    clsBackup job;

    void SetUp() override {
        job.sName = "Docs";
        job.sDestinationDir = dest.path();
    }
};

TEST_F(TransferTest, PlainCopiesMirrorTheSourceTreeAndKeepTimesAndTheOwnersMode) {
    const std::string path = src.write("X/Y/f.txt", "content");
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    const clsDskFile file = *clsDskFile::fromPath(path);
    EXPECT_EQ(CopyFileToDestination(t.ctx->control, job, file), StoreResult::Stored);
    const std::string stored = dest.path() + path;
    EXPECT_EQ(test::readAll(stored), "content");
    EXPECT_EQ(statFile(stored)->lastWriteTime, file.lastWriteTime);
    // What the source allowed others stays with the source; the mirrored folders are private.
    EXPECT_EQ(statFile(stored)->mode, 0400u);
    EXPECT_EQ(std::filesystem::status(fs::parentOf(stored)).permissions(),
              std::filesystem::perms::owner_all);
    EXPECT_TRUE(t.logged("OK: Copy of " + path + " to " + stored));

    // A second copy replaces the first, also when it is read-only.
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    std::ofstream(path) << "newer";
    EXPECT_EQ(CopyFileToDestination(t.ctx->control, job, *clsDskFile::fromPath(path)),
              StoreResult::Stored);
    EXPECT_EQ(test::readAll(stored), "newer");

    // A file that went between the listing and the copy is not stored.
    std::filesystem::remove(path);
    EXPECT_EQ(CopyFileToDestination(t.ctx->control, job, file), StoreResult::NotStored);
    EXPECT_TRUE(t.loggedContaining("FAIL: Copy of "));
    EXPECT_EQ(test::readAll(stored), "newer");

    // Files of an archive set go into the destination folder itself.
    job.archived = true;
    const std::string volume = t.dir.write("temp/Docs.uxarc", "volume");
    EXPECT_EQ(CopyFileToDestination(t.ctx->control, job, *clsDskFile::fromPath(volume)),
              StoreResult::Stored);
    EXPECT_EQ(test::readAll(dest.file("Docs.uxarc")), "volume");
}

TEST_F(TransferTest, AFullDiskKeepsThePreviousCopyAndLeavesNoPartialFile) {
    test::SmallDisk disk(dest.file("small"), 256);
    if (!disk.mounted()) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    job.sDestinationDir = dest.file("small");
    const std::string path = src.write("data/big.bin", std::string(100'000, 'a'));
    ASSERT_EQ(CopyFileToDestination(t.ctx->control, job, *clsDskFile::fromPath(path)),
              StoreResult::Stored);
    std::ofstream(path, std::ios::trunc) << std::string(400'000, 'b');
    Status why;
    EXPECT_EQ(CopyFileToDestination(t.ctx->control, job, *clsDskFile::fromPath(path), "", &why),
              StoreResult::NotStored);
    EXPECT_TRUE(why.isDiskFull()) << why.text();
    EXPECT_EQ(why.errnum(), ENOSPC);
    const std::string stored = dest.file("small") + path;
    EXPECT_EQ(test::readAll(stored), std::string(100'000, 'a'));
    EXPECT_EQ(fs::listDir(fs::parentOf(stored))->size(), 1u);
}

TEST_F(TransferTest, ALargeCopyYieldsAndStopsOnCancelOrAbortLeavingNothingHalfDone) {
    // Sparse, so that its size costs no disk: the copy goes in pieces all the same.
    const std::string path = src.write("big.bin", "");
    std::filesystem::resize_file(path, 200LL << 20);
    const clsDskFile file = *clsDskFile::fromPath(path);
    const std::string stored = dest.path() + path;

    int yields = 0;
    t.host.onYield = [&] {
        if (++yields == 2) {
            t.ctx->flags.bCancelFile = true;
        }
    };
    EXPECT_EQ(CopyFileToDestination(t.ctx->control, job, file), StoreResult::NotStored);
    EXPECT_EQ(yields, 2);
    EXPECT_FALSE(t.ctx->flags.bCancelFile) << "the cancel is used up by the file it cancelled";
    EXPECT_FALSE(fs::exists(stored));
    EXPECT_TRUE(t.logged(path + " skipped (cancelled by the user)"));

    // An abort while an older copy is there leaves that copy as it was.
    const std::string older = std::string(1000, 'o');
    dest.write(path.substr(1), older);
    yields = 0;
    t.host.onYield = [&] {
        if (++yields == 3) {
            t.ctx->flags.bAbortBackup = true;
        }
    };
    EXPECT_EQ(CopyFileToDestination(t.ctx->control, job, file), StoreResult::NotStored);
    EXPECT_EQ(test::readAll(stored), older);
    EXPECT_EQ(fs::listDir(fs::parentOf(stored))->size(), 1u) << "no partial copy beside it";

    t.ctx->flags.bAbortBackup = false;
    yields = 0;
    t.host.onYield = [&] { ++yields; };
    EXPECT_EQ(CopyFileToDestination(t.ctx->control, job, file), StoreResult::Stored);
    t.host.onYield = nullptr;
    EXPECT_EQ(fs::fileSize(stored), 200LL << 20);
    EXPECT_GE(yields, 7) << "a copy of 200 MB yields while it copies";
}

TEST_F(TransferTest, CleanTempFolderKeepsSubfolders) {
    t.dir.write("temp/a.uxarc", "x");
    t.dir.write("temp/sub/b", "x");
    EXPECT_TRUE(CleanTempFolder(t.ctx->control, t.ctx->paths.tempDir()));
    EXPECT_FALSE(fs::exists(t.dir.file("temp/a.uxarc")));
    EXPECT_TRUE(fs::exists(t.dir.file("temp/sub/b")));
}

}  // namespace
}  // namespace kestrel
