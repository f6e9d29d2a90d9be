// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "engine/backup_run.h"
#include "ftp/ftp_connection.h"
#include "platform/fs.h"
#include "platform/tcp_socket.h"
#include "support/job_builder.h"
#include "support/server_process.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

using Kind = test::ServerKind;
using test::hasIpv6Loopback;

// pyftpdlib with a user and password, vsftpd for anonymous users; over IPv4 and IPv6.
class RealServerTest : public ::testing::TestWithParam<std::tuple<Kind, const char*>> {
protected:
    void SetUp() override {
        const bool py = std::get<0>(GetParam()) == Kind::Pyftpdlib;
        address = std::get<1>(GetParam());
        if (address == "::1" && !hasIpv6Loopback()) {
            GTEST_SKIP() << "no IPv6 loopback";
        }
        server = py ? std::unique_ptr<test::FtpServerProgram>(
                          std::make_unique<test::PyFtpServer>(address))
                    : std::make_unique<test::VsFtpServer>(address);
        if (!server->unavailable().empty()) {
            GTEST_SKIP() << server->unavailable();
        }
        user = py ? "user" : "anonymous";
        password = py ? "secret" : "";
        folder = py ? "/backups" : "/upload";
        std::filesystem::create_directories(server->local(folder));
        ASSERT_TRUE(fs::makeDirs(t.dir.file("temp")));
        options.ftp = makeFtpClient;
    }

    // Plain copies of src's tree on the server.
    clsBackup& makeJob() {
        job = test::JobBuilder("Copies")
                  .folder(src.file("tree"))
                  .ftp(address, server->port(), user, password, folder)
                  .build();
        return *job;
    }
    RunSummary run() { return BackupJob(*t.ctx, *job, job->sName, options); }

    test::TestContext t;
    test::TempDir src;
    std::unique_ptr<test::FtpServerProgram> server;
    std::string address;
    std::string user;
    std::string password;
    std::string folder;
    RunOptions options;
    std::unique_ptr<clsBackup> job;
};

TEST_P(RealServerTest, PassiveAndActiveListingsAndFolders) {
    src.write("tree/x", "x");
    auto s = std::make_unique<clsFTPConnection>(t.ctx->control);
    s->SetupConnection(address, server->port(), user, password, true);
    ASSERT_TRUE(s->EstablishConnection());
    ASSERT_TRUE(s->ChangeCurrentDirectory(folder));
    std::string made = folder + "//made here";
    ASSERT_TRUE(s->CreateFTPDirectory(made));
    EXPECT_EQ(made, folder + "/made here");
    ASSERT_TRUE(s->StoreFile(src.file("tree/x"), folder));
    for (bool passive : {true, false}) {
        s->bPassiveMode = passive;
        auto list = s->GetFileList();
        ASSERT_TRUE(list) << (passive ? "passive" : "active");
        std::vector<std::string> names;
        for (const auto& f : *list) {
            names.push_back(f.strName + (f.bDir ? "/" : ""));
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"made here/", "x"})) << passive;
    }
    s->bPassiveMode = true;
    EXPECT_EQ(s->GetRootDir(), folder);
    EXPECT_TRUE(s->DeleteFTPDirectory(made));
    EXPECT_TRUE(s->Disconnect());
}

TEST_P(RealServerTest, FailuresEndTheRunCleanly) {
    src.write("tree/a.txt", "a");
    makeJob().sDestinationDir = "/no/such/folder";
    run();
    EXPECT_EQ(job->enumStatus, kStatusFailed);
    EXPECT_TRUE(t.logged("FAIL: Failed to change directory to /no/such/folder!"));

    if (std::get<0>(GetParam()) == Kind::Pyftpdlib) {
        makeJob().objDestination->password = "not the password";
        run();
        EXPECT_EQ(job->enumStatus, kStatusFailed);
        EXPECT_TRUE(t.logged("FAIL: Connection to ftp server failed! Can't upload files!"));
        EXPECT_FALSE(t.loggedContaining("not the password"));
        makeJob().objDestination->port = test::freePort();  // nobody listens
        run();
        EXPECT_EQ(job->enumStatus, kStatusFailed);
        EXPECT_TRUE(t.loggedContaining("FAIL: No connection to the ftp server: cannot connect"));
    }
}

// An unchanged incremental run uploads nothing where the server lists exact times and sets them
// (pyftpdlib: MLSD, MFMT), and everything again where it does not (vsftpd).
TEST_P(RealServerTest, UnchangedUploadsAreLeftOutOnlyWhereTheServerListsExactly) {
    src.write("tree/a.txt", "alpha");
    src.write("tree/sub/b.txt", "beta");
    makeJob().bIncremental = true;
    ASSERT_EQ(run().stored, 2);
    const bool exact = std::get<0>(GetParam()) == Kind::Pyftpdlib;
    EXPECT_EQ(run().stored, exact ? 0 : 2);
    src.write("tree/a.txt", "alpha, changed");
    EXPECT_EQ(run().stored, exact ? 1 : 2);
    EXPECT_EQ(test::readAll(server->local(folder + "/a.txt")), "alpha, changed");
    EXPECT_EQ(job->enumStatus, kStatusOk);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, RealServerTest,
    ::testing::Combine(::testing::Values(Kind::Pyftpdlib, Kind::Vsftpd),
                       ::testing::Values("127.0.0.1", "::1")),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) == Kind::Pyftpdlib ? "pyftpdlib" : "vsftpd") +
               (std::string(std::get<1>(info.param)) == "::1" ? "_ipv6" : "_ipv4");
    });

}  // namespace
}  // namespace kestrel
