#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "engine/backup_run.h"
#include "ftp/ftp_connection.h"
#include "platform/fs.h"
#include "support/job_builder.h"
#include "support/pyftpd_server.h"
#include "support/test_context.h"
#include "support/vsftpd_server.h"

namespace kestrel {
namespace {

enum class Kind { Pyftpdlib, Vsftpd };

// A real FTP server on 127.0.0.1 with a folder of its own, for one test: pyftpdlib with a user
// and password, vsftpd for anonymous users.
struct RealServer {
    explicit RealServer(Kind kind) {
        if (kind == Kind::Pyftpdlib) {
            py = std::make_unique<test::PyFtpServer>();
            std::filesystem::create_directories(py->local("backups"));
        } else {
            vs = std::make_unique<test::VsFtpServer>();
        }
    }
    std::string unavailable() const { return py ? py->unavailable() : vs->unavailable(); }
    int port() const { return py ? py->port() : vs->port(); }
    std::string user() const { return py ? "user" : "anonymous"; }
    std::string password() const { return py ? "secret" : ""; }
    std::string folder() const { return py ? "/backups" : "/upload"; }
    std::string local(const std::string& remote) const {
        return py ? py->local(remote.substr(1)) : vs->local(remote.substr(1));
    }

    std::unique_ptr<test::PyFtpServer> py;
    std::unique_ptr<test::VsFtpServer> vs;
};

class RealServerTest : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        server = std::make_unique<RealServer>(GetParam());
        if (!server->unavailable().empty()) {
            GTEST_SKIP() << server->unavailable();
        }
        ASSERT_TRUE(fs::makeDirs(t.dir.file("temp")));
        options.ftp = makeFtpClient;
    }

    clsBackup& addJob(const std::string& name, bool archived) {
        jobs[name] = test::JobBuilder(name)
                         .folder(src.file("tree"))
                         .ftp("127.0.0.1", server->port(), server->user(), server->password(),
                              server->folder())
                         .archive(archived)
                         .compressed(archived)
                         .incremental(archived)
                         .build();
        return *jobs[name];
    }
    RunSummary run(const std::string& name) {
        return BackupJob(*t.ctx, *jobs.at(name), name, options);
    }

    std::unique_ptr<clsFTPConnection> session() {
        auto s = std::make_unique<clsFTPConnection>(t.ctx->control);
        s->SetupConnection("127.0.0.1", server->port(), server->user(), server->password(), true);
        EXPECT_TRUE(s->EstablishConnection());
        return s;
    }

    test::TestContext t;
    test::TempDir src;
    std::unique_ptr<RealServer> server;
    RunOptions options;
    std::map<std::string, std::unique_ptr<clsBackup>> jobs;
};

TEST_P(RealServerTest, PlainCopiesLandInTheRemoteFolder) {
    for (int i = 0; i < 20; ++i) {
        src.write("tree/f" + std::to_string(i) + ".txt", "file " + std::to_string(i));
    }
    clsBackup& job = addJob("Copies", false);
    const RunSummary r = run("Copies");
    EXPECT_EQ(job.enumStatus, kStatusOk);
    EXPECT_EQ(r.stored, 20);
    EXPECT_EQ(test::readAll(server->local(server->folder() + "/f7.txt")), "file 7");
}

TEST_P(RealServerTest, ACancelledUploadIsRemovedAndTheRunGoesOn) {
    src.write("tree/1.txt", "one");
    src.write("tree/2.bin", std::string(3'000'000, '2'));
    src.write("tree/3.txt", "three");
    clsBackup& job = addJob("Copies", false);
    job.ResetFiles();
    for (const char* f : {"tree/1.txt", "tree/2.bin", "tree/3.txt"}) {
        job.AddFile(std::make_unique<clsBackupFile>(clsBackupFile{src.file(f), kSourceFile, 0, 0}));
    }
    bool pressed = false;
    t.host.onYield = [&] {
        if (t.host.fileCancellable && !pressed && t.loggedContaining("OK: Upload of file 1.txt")) {
            pressed = true;
            t.ctx->flags.bCancelFile = true;
        }
    };
    const RunSummary r = run("Copies");
    t.host.onYield = nullptr;
    ASSERT_TRUE(pressed);
    EXPECT_TRUE(t.logged(src.file("tree/2.bin") + " skipped (cancelled by the user)"));
    EXPECT_EQ(r.stored, 2);
    EXPECT_EQ(r.notStored, 1);
    EXPECT_EQ(job.enumStatus, kStatusFailed);
    EXPECT_TRUE(t.logged("*   Not stored:   1"));
    const std::string folder = server->folder() + "/";
    EXPECT_EQ(test::readAll(server->local(folder + "3.txt")), "three");
    EXPECT_FALSE(fs::exists(server->local(folder + "2.bin")));
    EXPECT_FALSE(fs::exists(server->local(folder + "2.bin.kestrel-new")))
        << "the partial upload is removed";
}

TEST_P(RealServerTest, PassiveAndActiveListingsAndFolders) {
    src.write("tree/x", "x");
    auto s = session();
    ASSERT_TRUE(s->ChangeCurrentDirectory(server->folder()));
    std::string folder = server->folder() + "//made here";
    ASSERT_TRUE(s->CreateFTPDirectory(folder));
    EXPECT_EQ(folder, server->folder() + "/made here");
    ASSERT_TRUE(s->StoreFile(src.file("tree/x"), server->folder()));
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
    // With the usual active port taken (by us, or already by another program), another one is
    // announced.
    TcpListener squatter;
    squatter.listen("127.0.0.1", clsFTPConnection::kActiveDataPort);
    TcpListener probe;
    ASSERT_FALSE(probe.listen("127.0.0.1", clsFTPConnection::kActiveDataPort))
        << "the active data port should be taken now";
    t.host.logLines.clear();
    s->bPassiveMode = false;
    EXPECT_TRUE(s->GetFileList());
    EXPECT_TRUE(t.loggedContaining("CMD: PORT 127,0,0,1,"));
    EXPECT_FALSE(t.loggedContaining("CMD: PORT 127,0,0,1,55,55"));
    squatter.close();
    s->bPassiveMode = true;
    EXPECT_EQ(s->GetRootDir(), server->folder());
    EXPECT_TRUE(s->DeleteFTPDirectory(folder));
    EXPECT_TRUE(s->Disconnect());
}

TEST_P(RealServerTest, FailuresEndTheRunCleanly) {
    src.write("tree/a.txt", "a");
    clsBackup& missing = addJob("Missing", false);
    missing.sDestinationDir = "/no/such/folder";
    run("Missing");
    EXPECT_EQ(missing.enumStatus, kStatusFailed);
    EXPECT_TRUE(t.logged("FAIL: Failed to change directory to /no/such/folder!"));

    clsBackup& down = addJob("Down", true);
    down.objDestination->port = test::freePort();
    run("Down");
    EXPECT_EQ(down.enumStatus, kStatusFailed);
    EXPECT_TRUE(t.logged("FAIL: Can't download fs file to perform incremental backup!"));

    if (GetParam() == Kind::Pyftpdlib) {
        clsBackup& wrong = addJob("Wrong", false);
        wrong.objDestination->password = "not the password";
        run("Wrong");
        EXPECT_EQ(wrong.enumStatus, kStatusFailed);
        EXPECT_TRUE(t.logged("FAIL: Connection to ftp server failed! Can't upload files!"));
        EXPECT_FALSE(t.loggedContaining("not the password"));
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerTest, ::testing::Values(Kind::Pyftpdlib, Kind::Vsftpd),
                         [](const auto& info) {
                             return info.param == Kind::Pyftpdlib ? std::string("pyftpdlib")
                                                                  : std::string("vsftpd");
                         });

}  // namespace
}  // namespace kestrel
