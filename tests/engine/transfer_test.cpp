// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/transfer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/destination.h"
#include "platform/fs.h"
#include "support/fake_ftp_client.h"
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

// A folder is made once per run; one removed meanwhile is made again for the next file.
TEST_F(TransferTest, AReadyFolderRemovedMidRunIsMadeAgain) {
    const clsDskFile first = *clsDskFile::fromPath(src.write("docs/1.txt", "one"));
    const clsDskFile second = *clsDskFile::fromPath(src.write("docs/2.txt", "two"));
    ReadyFolders ready;
    ASSERT_EQ(CopyFileToDestination(t.ctx->control, job, first, "", nullptr, {}, &ready),
              StoreResult::Stored);
    EXPECT_EQ(ready.prepared.count(destinationFolder(job, first)), 1u);
    std::filesystem::remove_all(destinationFolder(job, first));
    EXPECT_EQ(CopyFileToDestination(t.ctx->control, job, second, "", nullptr, {}, &ready),
              StoreResult::Stored);
    EXPECT_EQ(test::readAll(fs::join(destinationFolder(job, second), "2.txt")), "two");
}

// The job's TLS choice and pin reach the session; a refused certificate's fingerprint comes back
// so that the user can be asked to pin it.
TEST(DestinationSession, TakesTheJobsTlsSettingsAndTellsARefusedCertificate) {
    const std::string shown(64, 'c');
    const struct {
        bool tls;
        std::string pin;
        bool connects;
        std::string told;
    } cases[] = {
        {false, "", true, ""},
        {true, "", false, shown},
        {true, std::string(64, 'd'), false, shown},
        {true, shown, true, ""},
    };
    for (const auto& c : cases) {
        test::TestContext t;
        test::FakeRemote remote;
        remote.fingerprint = shown;
        clsBackup job;
        job.destFTP = true;
        job.objDestination = std::make_shared<clsKestrel>();
        job.objDestination->bTls = c.tls;
        job.objDestination->sTlsPin = c.pin;
        std::string told = "stale";
        auto session =
            openDestinationSession(t.ctx->control, test::fakeFtpFactory(remote), job, &told);
        EXPECT_EQ(session != nullptr, c.connects) << c.tls << c.pin;
        if (!c.connects) {
            EXPECT_EQ(told, c.told);
        }
    }
}

}  // namespace
}  // namespace kestrel
