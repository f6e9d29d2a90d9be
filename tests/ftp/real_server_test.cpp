#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "engine/backup_run.h"
#include "ftp/ftp_connection.h"
#include "platform/fs.h"
#include "restore/restore.h"
#include "support/job_builder.h"
#include "support/server_process.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

enum class Kind { Pyftpdlib, Vsftpd };

// A real FTP server on 127.0.0.1 with a folder of its own, for one test.
class RealServer {
public:
    explicit RealServer(Kind kind) : m_port(test::freePort()) {
        if (kind == Kind::Pyftpdlib) {
            if (std::system("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") != 0) {
                m_why = "python3-pyftpdlib is not installed";
                return;
            }
            std::filesystem::create_directories(m_dir.file("root/backups"));
            m_user = "user";
            m_password = "secret";
            m_folder = "/backups";
            const int low = m_port + 1;
            m_process = std::make_unique<test::ServerProcess>(
                std::vector<std::string>{"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1",
                                         "-p", std::to_string(m_port), "-w", "-d",
                                         m_dir.file("root"), "-u", m_user, "-P", m_password, "-r",
                                         std::to_string(low) + "-" + std::to_string(low + 40)},
                m_port);
        } else {
            if (!fs::exists("/usr/sbin/vsftpd") || ::geteuid() != 0) {
                m_why = "vsftpd is not installed or the tests do not run as root";
                return;
            }
            std::filesystem::create_directories(m_dir.file("root/upload"));
            std::filesystem::create_directories(m_dir.file("empty"));
            std::filesystem::permissions(m_dir.path(), std::filesystem::perms::owner_all |
                                                           std::filesystem::perms::group_read |
                                                           std::filesystem::perms::group_exec |
                                                           std::filesystem::perms::others_read |
                                                           std::filesystem::perms::others_exec);
            std::filesystem::permissions(m_dir.file("root/upload"), std::filesystem::perms::all);
            m_dir.write("banner",
                        "Welcome line one\n220 looks like an end but is not\nlast line\n");
            const int low = m_port + 1;
            m_dir.write("vsftpd.conf",
                        "listen=YES\nlisten_ipv6=NO\nbackground=NO\nlisten_address=127.0.0.1\n"
                        "listen_port=" +
                            std::to_string(m_port) +
                            "\nanonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\n"
                            "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                            "anon_other_write_enable=YES\nanon_root=" +
                            m_dir.file("root") +
                            "\nanon_umask=022\nno_anon_password=YES\nftp_username=daemon\n"
                            "nopriv_user=daemon\nsecure_chroot_dir=" +
                            m_dir.file("empty") + "\nbanner_file=" + m_dir.file("banner") +
                            "\npasv_enable=YES\npasv_min_port=" + std::to_string(low) +
                            "\npasv_max_port=" + std::to_string(low + 40) +
                            "\nport_enable=YES\nseccomp_sandbox=NO\nisolate=NO\n"
                            "isolate_network=NO\nxferlog_enable=NO\n");
            m_user = "anonymous";
            m_folder = "/upload";
            m_process = std::make_unique<test::ServerProcess>(
                std::vector<std::string>{"/usr/sbin/vsftpd", m_dir.file("vsftpd.conf")}, m_port);
        }
        if (!m_process->running()) {
            m_why = "the server did not start";
        }
    }

    const std::string& unavailable() const { return m_why; }
    int port() const { return m_port; }
    const std::string& user() const { return m_user; }
    const std::string& password() const { return m_password; }
    const std::string& folder() const { return m_folder; }
    std::string local(const std::string& remote) const { return m_dir.file("root" + remote); }

private:
    test::TempDir m_dir;
    int m_port;
    std::string m_user;
    std::string m_password;
    std::string m_folder;
    std::string m_why;
    std::unique_ptr<test::ServerProcess> m_process;
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
    void TearDown() override {
        if (HasFailure()) {
            for (const std::string& line : t.host.logLines) {
                std::printf("%s\n", line.c_str());
            }
        }
    }

    clsBackup& addJob(const std::string& name, bool archived, std::int32_t split = 0,
                      const std::string& password = "") {
        jobs[name] = test::JobBuilder(name)
                         .folder(src.file("tree"))
                         .ftp("127.0.0.1", server->port(), server->user(), server->password(),
                              server->folder())
                         .archive(archived)
                         .compressed(archived)
                         .incremental(archived)
                         .split(split)
                         .password(password)
                         .build();
        return *jobs[name];
    }
    RunSummary run(const std::string& name) {
        return BackupJob(*t.ctx, *jobs.at(name), name, options);
    }

    std::unique_ptr<clsFTPConnection> session(bool passive = true) {
        auto s = std::make_unique<clsFTPConnection>(t.ctx->control);
        s->SetupConnection("127.0.0.1", server->port(), server->user(), server->password(),
                           passive);
        EXPECT_TRUE(s->EstablishConnection());
        return s;
    }

    test::TestContext t{true};
    test::TempDir src;
    test::TempDir out;
    std::unique_ptr<RealServer> server;
    RunOptions options;
    std::map<std::string, std::unique_ptr<clsBackup>> jobs;
};

TEST_P(RealServerTest, CompressedSplitProtectedArchivesGoAndComeBack) {
    src.write("tree/a.txt", "alpha");
    std::string big(700'000, '\0');
    std::mt19937 gen(11);
    for (char& c : big) {
        c = static_cast<char>(gen());
    }
    src.write("tree/sub/big.bin", big);
    src.write("tree/empty", "");
    clsBackup& job = addJob("Remote", true, 200'000, "pw");
    RunSummary r = run("Remote");
    ASSERT_EQ(job.enumStatus, kStatusOk);
    EXPECT_GE(r.total, 3);
    EXPECT_TRUE(fs::exists(server->local(server->folder() + "/Remote.fs")));

    // An incremental run fetches the catalogue and stores only the change.
    t.clock.advanceSeconds(120);
    std::ofstream(src.file("tree/a.txt")) << "alpha, again";
    std::filesystem::last_write_time(
        src.file("tree/a.txt"),
        std::filesystem::last_write_time(src.file("tree/a.txt")) + std::chrono::seconds(3));
    r = run("Remote");
    ASSERT_EQ(job.enumStatus, kStatusOk);
    EXPECT_EQ(r.total, 2);  // a volume and the catalogue; the checksum file travels uncounted
    EXPECT_TRUE(
        t.loggedContaining("OK: File /" + server->folder().substr(1) + "/Remote.fs downloaded!"));
    EXPECT_TRUE(t.loggedContaining("OK: File /" + server->folder().substr(1) +
                                   "/Remote.fs.sums downloaded!"));

    RestoreState state;
    state.ftp = session();
    ASSERT_TRUE(LoadCatalogue(*t.ctx, job, state));
    EXPECT_EQ(state.tree.sessions().size(), 2u);
    for (const auto& rec : state.records) {
        const int later = state.tree.findPath(state.records.back().dSession, rec.fname);
        state.tree.setChecked(later >= 0 ? later : state.tree.findPath(rec.dSession, rec.fname),
                              true);
    }
    const RestoreSummary restored =
        RestoreSelectedFiles(*t.ctx, state, RestoreOptions{false, out.path(), false});
    EXPECT_EQ(restored.restored, 3);
    EXPECT_EQ(test::readAll(out.path() + src.file("tree/a.txt")), "alpha, again");
    EXPECT_TRUE(test::readAll(out.path() + src.file("tree/sub/big.bin")) == big);
}

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
