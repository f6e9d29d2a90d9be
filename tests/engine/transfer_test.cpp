// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/transfer.h"

#include <gtest/gtest.h>

#include <filesystem>

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

// A cancelled copy is the run tests' CancelFileTest; here an abort amid a large copy.
TEST_F(TransferTest, ALargeCopyYieldsAndAnAbortLeavesTheOlderCopyAsItWas) {
    // Sparse, so that its size costs no disk: the copy goes in pieces all the same.
    const std::string path = src.write("big.bin", "");
    std::filesystem::resize_file(path, 200LL << 20);
    const clsDskFile file = *clsDskFile::fromPath(path);
    const std::string stored = dest.path() + path;
    const std::string older = std::string(1000, 'o');
    dest.write(path.substr(1), older);
    int yields = 0;
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

}  // namespace
}  // namespace kestrel
