// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <tuple>

#include "engine/backup_run.h"
#include "ftp/ftp_connection.h"
#include "platform/fs.h"
#include "platform/tcp_socket.h"
#include "restore/restore.h"
#include "restore/sessions.h"
#include "support/job_builder.h"
#include "support/server_process.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

using Kind = test::ServerKind;
using test::hasIpv6Loopback;

// A self-signed certificate for localhost, 127.0.0.1 and ::1, and its fingerprint as openssl
// tells it ("" when openssl could not make one).
struct Certificate {
    std::string pem;
    std::string key;
    std::string fingerprint;
};

Certificate makeCertificate(const test::TempDir& dir, const std::string& name) {
    Certificate c{dir.file(name + ".pem"), dir.file(name + ".key"), ""};
    const std::string make =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -addext "
        "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1 -keyout " +
        c.key + " -out " + c.pem + " 2>/dev/null";
    if (std::system(make.c_str()) != 0) {
        return c;
    }
    const std::string ask = "openssl x509 -noout -fingerprint -sha256 -in " + c.pem;
    std::string out(256, '\0');
    if (FILE* p = ::popen(ask.c_str(), "r")) {
        out.resize(std::fread(out.data(), 1, out.size(), p));
        ::pclose(p);
    }
    const size_t eq = out.find('=');
    if (eq != std::string::npos) {
        c.fingerprint =
            normalizedFingerprint(out.substr(eq + 1, out.find('\n') - eq - 1)).value_or("");
    }
    return c;
}

// pyftpdlib (user and password) and vsftpd (anonymous) requiring TLS, with a self-signed
// certificate; over IPv4 and IPv6.
class TlsServerTest : public ::testing::TestWithParam<std::tuple<Kind, const char*>> {
protected:
    void SetUp() override {
        const bool py = std::get<0>(GetParam()) == Kind::Pyftpdlib;
        address = std::get<1>(GetParam());
        if (address == "::1" && !hasIpv6Loopback()) {
            GTEST_SKIP() << "no IPv6 loopback";
        }
        cert = makeCertificate(certs, "server");
        if (cert.fingerprint.empty()) {
            GTEST_SKIP() << "openssl could not make a certificate";
        }
        const test::ServerTls tls{cert.pem, cert.key};
        server = py ? std::unique_ptr<test::FtpServerProgram>(
                          std::make_unique<test::PyFtpServer>(address, tls))
                    : std::make_unique<test::VsFtpServer>(address, tls);
        if (!server->unavailable().empty()) {
            GTEST_SKIP() << server->unavailable();
        }
        user = py ? "user" : "anonymous";
        password = py ? "secret" : "";
        folder = py ? "/backups" : "/upload";
        std::filesystem::create_directories(server->local(folder));
        ASSERT_TRUE(fs::makeDirs(t.ctx->paths.tempDir()));
        options.ftp = makeFtpClient;
    }

    std::unique_ptr<clsFTPConnection> session(const std::string& pin) {
        auto s = std::make_unique<clsFTPConnection>(t.ctx->control);
        s->SetupConnection(address, server->port(), user, password, true);
        s->SetupTls(true, pin);
        return s;
    }

    test::TestContext t{true};
    test::TempDir certs;
    test::TempDir src;
    Certificate cert;
    std::string address;
    std::unique_ptr<test::FtpServerProgram> server;
    std::string user;
    std::string password;
    std::string folder;
    RunOptions options;
};

TEST_P(TlsServerTest, OnlyThePinnedSelfSignedCertificateIsAccepted) {
    const Certificate other = makeCertificate(certs, "other");
    struct Case {
        std::string pin;
        bool ok;
        std::string logged;
    };
    const Case cases[] = {
        {"", false, "is not trusted! Pin its SHA-256 fingerprint " + cert.fingerprint},
        {other.fingerprint, false, "has changed! It is not the pinned one"},
        {"SHA256:" + cert.fingerprint, true, ""},
    };
    for (const Case& c : cases) {
        auto s = session(c.pin);
        EXPECT_EQ(s->EstablishConnection(), c.ok) << c.pin;
        EXPECT_EQ(s->serverFingerprint(), cert.fingerprint) << c.pin;
        if (!c.ok) {
            EXPECT_TRUE(t.loggedContaining(c.logged)) << c.pin;
            EXPECT_FALSE(t.loggedContaining("CMD: USER")) << c.pin;
        }
        s->Disconnect();
    }
}

TEST_P(TlsServerTest, FoldersListingsAndTransfersGoThroughTls) {
    const std::string content = test::noise(300'000, 7);
    const std::string local = src.write("up.bin", content);
    auto s = session(cert.fingerprint);
    ASSERT_TRUE(s->EstablishConnection());
    ASSERT_TRUE(s->ChangeCurrentDirectory(folder));
    std::string made = folder + "/made";
    ASSERT_TRUE(s->CreateFTPDirectory(made));
    ASSERT_TRUE(s->StoreFile(local, folder));
    EXPECT_EQ(test::readAll(server->local(folder + "/up.bin")), content);
    for (bool passive : {true, false}) {
        s->bPassiveMode = passive;
        auto list = s->GetFileList();
        ASSERT_TRUE(list) << passive;
        EXPECT_EQ(list->size(), 2u) << passive;
    }
    s->bPassiveMode = true;
    const std::string back = t.dir.file("temp/back.bin");
    EXPECT_EQ(s->GetFile(folder + "/up.bin", back), FtpClient::GetResult::Downloaded);
    EXPECT_EQ(test::readAll(back), content);
    EXPECT_EQ(s->GetRootDir(), folder);
    EXPECT_TRUE(s->Disconnect());
    EXPECT_TRUE(t.logged("CMD: PROT P"));
}

TEST_P(TlsServerTest, CompressedRunsAndARestoreGoThroughTls) {
    auto job = test::JobBuilder("Safe")
                   .folder(src.file("tree"))
                   .ftp(address, server->port(), user, password, folder)
                   .archive()
                   .compressed()
                   .incremental()
                   .split(200'000)
                   .build();
    job->objDestination->bTls = true;
    job->objDestination->sTlsPin = cert.fingerprint;
    std::map<std::string, std::string> files;
    for (int generation = 1; generation <= 2; ++generation) {
        for (int i = 0; i < generation * 2; ++i) {
            const std::string content = test::noise(150'000, generation * 10 + i);
            files[src.write("tree/f" + std::to_string(i) + ".bin", content)] = content;
        }
        t.clock.advanceSeconds(120);
        BackupJob(*t.ctx, *job, job->sName, options);
        ASSERT_EQ(job->enumStatus, kStatusOk) << generation;
    }

    RestoreState state;
    state.ftp = session(cert.fingerprint);
    ASSERT_TRUE(state.ftp->EstablishConnection());
    ASSERT_TRUE(LoadCatalogue(*t.ctx, *job, state));
    const std::vector<size_t> newest = recordsToRestore(state.records, {"/"}, std::nullopt);
    ASSERT_EQ(newest.size(), files.size());
    for (size_t i : newest) {
        state.tree.setChecked(
            state.tree.findPath(state.records[i].dSession, state.records[i].fname), true);
    }
    test::TempDir out;
    EXPECT_EQ(RestoreSelectedFiles(*t.ctx, state, RestoreOptions{false, out.path(), true}).failed,
              0);
    for (const auto& [path, content] : files) {
        EXPECT_EQ(test::readAll(out.path() + path), content) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, TlsServerTest,
    ::testing::Combine(::testing::Values(Kind::Pyftpdlib, Kind::Vsftpd),
                       ::testing::Values("127.0.0.1", "::1")),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) == Kind::Pyftpdlib ? "pyftpdlib" : "vsftpd") +
               (std::string(std::get<1>(info.param)) == "::1" ? "_ipv6" : "_ipv4");
    });

// A server without TLS ends the session before the user name or the password leaves.
TEST(TlsRefused, NothingIsSentInClear) {
    test::TestContext t;
    test::PyFtpServer server("127.0.0.1", {}, true);
    if (!server.unavailable().empty()) {
        GTEST_SKIP() << server.unavailable();
    }
    clsFTPConnection s(t.ctx->control);
    s.SetupConnection("127.0.0.1", server.port(), "user", "secret", true);
    s.SetupTls(true, "");
    EXPECT_FALSE(s.EstablishConnection());
    EXPECT_EQ(s.connectionState(), FtpClient::State::NotConnected);
    EXPECT_TRUE(t.loggedContaining("refused TLS (AUTH TLS)!"));
    EXPECT_EQ(s.serverFingerprint(), "");
    const std::string log = server.commandLog();
    EXPECT_NE(log.find("AUTH TLS"), std::string::npos) << log;
    EXPECT_EQ(log.find("USER"), std::string::npos) << log;
    EXPECT_EQ(log.find("PASS"), std::string::npos) << log;
}

}  // namespace
}  // namespace kestrel
