// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "ftp/ftp_connection.h"
#include "platform/fs.h"
#include "platform/tcp_socket.h"
#include "support/server_process.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

// A scripted FTP server for what real servers rarely do; the script serves the first client.
class FakeFtpServer {
public:
    class Conversation {
    public:
        // Sends text as it stands (include the CR LF); false when the client went away.
        bool send(const std::string& text) { return control.sendAll(text); }
        // Waits for n more client yields, so the next send arrives apart (a poll may be half done).
        void awaitYields(int n) {
            std::unique_lock lock(server->m_mutex);
            const long until = server->m_yields + n;
            if (!server->m_yielded.wait_for(lock, std::chrono::seconds(30),
                                            [&] { return server->m_yields >= until; })) {
                note("the client stopped yielding");
            }
        }
        // Reads the next command line; false (noted) when it does not start with prefix.
        bool expect(const std::string& prefix) {
            size_t end = 0;
            while ((end = pending.find("\r\n")) == std::string::npos &&
                   control.readSome(pending, 10'000) == TcpSocket::Read::Data) {
            }
            const bool whole = end != std::string::npos;  // else the client went away
            const std::string line = whole ? pending.substr(0, end) : "";
            pending.erase(0, whole ? end + 2 : 0);
            if (line.compare(0, prefix.size(), prefix) != 0) {
                note("expected \"" + prefix + "\", got \"" + line + "\"");
                return false;
            }
            return true;
        }
        // Reads a command that starts with prefix and answers it with reply (and CR LF).
        bool answer(const std::string& prefix, const std::string& reply) {
            return expect(prefix) && send(reply + "\r\n");
        }
        // A data listener's 227 reply, naming 10.0.0.1 as address.
        std::string passive() {
            dataListener.listen(control.localAddress(), 0);
            const int p = dataListener.port();
            return "227 Entering Passive Mode (10,0,0,1," + std::to_string(p / 256) + "," +
                   std::to_string(p % 256) + ").";
        }
        // A data listener's 229 reply.
        std::string extendedPassive() {
            dataListener.listen(control.localAddress(), 0);
            return "229 Entering Extended Passive Mode (|||" + std::to_string(dataListener.port()) +
                   "|)";
        }
        bool acceptData() { return dataListener.accept(data, 10'000); }
        void sendData(const std::string& bytes) { data.sendAll(bytes); }
        void receiveData() {  // until the client closes
            std::string all;
            while (data.readSome(all, 10'000) == TcpSocket::Read::Data) {
            }
        }
        void closeData() {
            data.close();
            dataListener.close();
        }
        void close() {
            closeData();
            control.close();
        }
        // Keeps the first deviation from the script.
        void note(const std::string& what) {
            if (mismatch.empty()) {
                mismatch = what;
            }
        }

        std::string mismatch;
        FakeFtpServer* server = nullptr;
        TcpSocket control;
        TcpListener dataListener;
        TcpSocket data;
        std::string pending;
    };

    explicit FakeFtpServer(std::function<void(Conversation&)> script,
                           const std::string& address = "127.0.0.1") {
        m_listener.listen(address, 0);
        m_thread = std::thread([this, script = std::move(script)] {
            Conversation c;
            c.server = this;
            if (m_listener.accept(c.control, 10'000)) {
                script(c);
            } else {
                c.note("no client connected");
            }
            m_mismatch = c.mismatch;
            c.close();
        });
    }
    // Without a finish() call, a mismatch fails the test.
    ~FakeFtpServer() {
        if (m_thread.joinable() && !finish().empty()) {
            ADD_FAILURE() << "the FTP script was not followed: " << m_mismatch;
        }
    }
    int port() const { return m_listener.port(); }
    void clientYielded() {
        {
            std::lock_guard lock(m_mutex);
            ++m_yields;
        }
        m_yielded.notify_all();
    }
    // Waits for the script; its mismatch, "" when it was followed.
    [[nodiscard]] std::string finish() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        return m_mismatch;
    }

private:
    TcpListener m_listener;
    std::thread m_thread;
    std::string m_mismatch;
    std::mutex m_mutex;
    std::condition_variable m_yielded;
    long m_yields = 0;  // guarded by m_mutex
};

using Conversation = FakeFtpServer::Conversation;

void welcomeAndLogin(Conversation& c) {
    c.send("220 Fake server ready\r\n");
    c.answer("USER u", "331 Password please");
    c.answer("pass secret", "230 Logged in");
}

class FakeServerTest : public ::testing::Test {
protected:
    // The server a yield reaches is gone before the session.
    void TearDown() override { t.host.onYield = nullptr; }
    test::TestContext t;
    std::unique_ptr<clsFTPConnection> session;

    // The session's yields reach server, for scripts that send in pieces.
    bool connect(FakeFtpServer& server, const std::string& host = "127.0.0.1") {
        t.host.onYield = [&server] { server.clientYielded(); };
        EXPECT_TRUE(fs::makeDirs(t.dir.file("temp")));
        session = std::make_unique<clsFTPConnection>(t.ctx->control);
        session->SetupConnection(host, server.port(), "u", "secret", true);
        return session->EstablishConnection();
    }
};

TEST_F(FakeServerTest, RepliesInPiecesAndMultiLineBannersAreFramedByLines) {
    FakeFtpServer server([](Conversation& c) {
        c.send("220-220 looks like an end but is not\r\n220-second");
        c.awaitYields(2);
        c.send(" line\r\n220 ready\r\n");
        c.expect("USER u");
        c.send("33");
        c.awaitYields(2);
        c.send("1 Password please\r\n");
        c.expect("pass secret");
        c.send("230-Welcome\r");
        c.awaitYields(2);
        c.send("\n text without a code\r\n230 Logged in\r\n");
        c.answer("PWD", "257 \"/home/u\" is the current directory");
        c.expect("QUIT");
    });
    ASSERT_TRUE(connect(server));
    EXPECT_EQ(session->connectionState(), FtpClient::State::LoggedIn);
    EXPECT_EQ(session->GetRootDir(), "/home/u");
    EXPECT_TRUE(session->Disconnect());
    EXPECT_EQ(server.finish(), "");
    EXPECT_TRUE(t.logged("CMD: PASS ******"));
    EXPECT_FALSE(t.loggedContaining("secret"));
    EXPECT_FALSE(t.loggedContaining("Couldn't read servers welcome message!"));
}

TEST_F(FakeServerTest, AReplyThatNeverEndsIsGivenUpAtItsSize) {
    t.clock.holdTicks();  // no time-out can end the wait: only the reply's size
    FakeFtpServer server([](Conversation& c) {
        c.send("220-");
        int chunks = 0;
        while (chunks < 1024 && c.send(std::string(64 * 1024, 'x'))) {
            ++chunks;
        }
        if (chunks == 1024) {
            c.note("the client took 64 MiB of one reply");
        }
    });
    EXPECT_FALSE(connect(server));
    EXPECT_TRUE(t.loggedContaining("Couldn't read servers welcome message!"));
    EXPECT_EQ(server.finish(), "");
}

// A 230 answer to USER logs in without a password; a local file is replaced only with consent.
TEST_F(FakeServerTest, A230AnswerToUserLogsInAndAnExistingLocalFileIsKeptWithoutConsent) {
    FakeFtpServer server([](Conversation& c) {
        c.send("220 ready\r\n");
        c.answer("USER u", "230 Login successful.");
        c.expect("QUIT");
    });
    ASSERT_TRUE(connect(server));
    const std::string local = t.dir.write("temp/kept", "old");
    t.host.answers.push_back(MsgAnswer::No);
    EXPECT_EQ(session->GetFile("/r/kept", local), FtpClient::GetResult::Kept);
    EXPECT_EQ(test::readAll(local), "old");
    EXPECT_EQ(t.host.boxes.back().text,
              "The file " + local + " already exists! Do you want to overwrite?");
    session->Disconnect();
    EXPECT_EQ(server.finish(), "");
    EXPECT_FALSE(t.loggedContaining("CMD: PASS"));
}

// A download confirmed after an early end fails unless its size (SIZE, or the 150 reply) arrived.
TEST_F(FakeServerTest, DownloadsReadUntilTheServerClosesAndCheckTheSize) {
    struct Case {
        const char* name;
        const char* sizeReply;  // to SIZE
        const char* opening;    // the 150 reply
        bool whole;             // all eleven bytes are sent
        bool ok;
    };
    static const Case kCases[] = {
        {"whole", "213 11", "150 Opening BINARY connection (11 bytes)", true, true},
        {"short", "550 No size", "150 Opening BINARY connection (11 bytes)", false, false},
        {"unsized", "502 Not implemented", "150 Opening data connection", true, true},
        {"cut", "213 11", "150 Opening data connection", false, false},
        {"sized", "213 11", "150 Opening data connection", true, true},
    };
    FakeFtpServer server([](Conversation& c) {
        welcomeAndLogin(c);
        for (const Case& k : kCases) {
            c.answer("PASV", c.passive());
            // The session stays in image type from the first transfer on.
            if (&k == &kCases[0]) {
                c.answer("TYPE I", "200 Binary");
            }
            c.answer(std::string("SIZE /r/") + k.name, k.sizeReply);
            c.expect(std::string("RETR /r/") + k.name);
            c.acceptData();
            c.send(std::string(k.opening) + "\r\n");
            c.sendData("hello");
            c.awaitYields(1);  // slow data: a gap is no end
            c.sendData(k.whole ? " world" : "");
            c.closeData();
            c.send("226 Transfer complete\r\n");
        }
        c.expect("QUIT");
    });
    ASSERT_TRUE(connect(server));
    // The rest of the data follows once the client has written what came and waits for more.
    std::string local;
    t.host.onYield = [&] {
        std::error_code ec;
        if (std::filesystem::file_size(local, ec) > 0 && !ec) {
            server.clientYielded();
        }
    };
    for (const Case& k : kCases) {
        local = t.dir.file(std::string("temp/") + k.name);
        const std::string remote = std::string("/r/") + k.name;
        EXPECT_EQ(session->GetFile(remote, local),
                  k.ok ? FtpClient::GetResult::Downloaded : FtpClient::GetResult::Failed)
            << k.name;
        if (k.ok) {
            EXPECT_EQ(test::readAll(local), "hello world") << k.name;
        } else {
            EXPECT_FALSE(fs::exists(local)) << k.name;
            EXPECT_TRUE(t.logged("FAIL: Download of " + remote + " ended after 5 of 11 bytes!"))
                << k.name;
        }
    }
    session->Disconnect();
    EXPECT_EQ(server.finish(), "");
}

// Refusals (PASV, full disk, wrong size, rename, removal) and a dropped download fail.
TEST_F(FakeServerTest, RefusalsAndADroppedConnectionFailWhatTheyHit) {
    FakeFtpServer server([](Conversation& c) {
        welcomeAndLogin(c);
        c.answer("PASV", "500 Not here");
        // Upload to a full disk, then one the server confirms with another size.
        for (const char* end : {"552 Exceeded storage allocation", "226 Transfer complete"}) {
            if (end[0] == '5') {
                c.answer("TYPE I", "200 Binary");
            }
            c.answer("PASV", c.passive());
            c.expect("stor /up/data.bin");
            c.acceptData();
            c.send("150 Ok to send data\r\n");
            c.receiveData();
            c.closeData();
            c.send(std::string(end) + "\r\n");
            if (end[0] == '2') {
                c.answer("SIZE /up/data.bin", "213 3");
            }
        }
        c.answer("MKD /backup/daily", "257 \"/backup/daily\" created");
        c.answer("RNFR /up/a.kestrel-new", "350 Ready for destination name");
        c.answer("RNTO /up/a", "250 Renamed");
        c.answer("RNFR /up/b.kestrel-new", "502 Command not implemented");
        c.answer("RNFR /up/c.kestrel-new", "350 Ready");
        c.answer("RNTO /up/c", "553 Not allowed");
        c.answer("DELE /up/c", "250 Deleted");
        c.answer("DELE /up/d", "550 No such file");
        c.answer("PASV", c.passive());
        c.answer("SIZE", "550 Could not get file size");
        c.expect("RETR");
        c.acceptData();
        c.send("150 Opening\r\n");
        c.sendData("partial");
        c.close();
    });
    ASSERT_TRUE(connect(server));
    EXPECT_EQ(session->GetFile("/r/x", t.dir.file("temp/x")), FtpClient::GetResult::Failed);
    EXPECT_TRUE(t.logged("Failed to enter passive mode!"));
    const std::string local = t.dir.write("data.bin", "0123456789");
    EXPECT_FALSE(session->StoreFile(local, "/up"));
    EXPECT_FALSE(session->StoreFile(local, "/up/"));
    EXPECT_TRUE(t.loggedContaining("has 3 bytes on the server instead of 10"));
    std::string path = "/backup//daily";
    EXPECT_TRUE(session->CreateFTPDirectory(path));
    EXPECT_EQ(path, "/backup/daily");
    EXPECT_TRUE(session->RenameFile("/up/a.kestrel-new", "/up/a"));
    EXPECT_FALSE(session->RenameFile("/up/b.kestrel-new", "/up/b"));
    EXPECT_FALSE(session->RenameFile("/up/c.kestrel-new", "/up/c"));
    EXPECT_TRUE(session->DeleteFile("/up/c"));
    EXPECT_FALSE(session->DeleteFile("/up/d"));
    EXPECT_EQ(session->lastReplyCode(), 550);
    EXPECT_EQ(session->GetFile("/r/x", t.dir.file("temp/x")), FtpClient::GetResult::Failed);
    EXPECT_FALSE(fs::exists(t.dir.file("temp/x")));
    EXPECT_EQ(server.finish(), "");
}

using test::hasIpv6Loopback;

TEST(ExtendedPassive, OnlyAWellFormedPortIsTaken) {
    for (const auto& [line, port] : std::vector<std::pair<std::string, int>>{
             {"229 Entering Extended Passive Mode (|||50000|)", 50000},
             {"229 ok (!!!65535!)", 65535},
             {"229 ok (|||65536|)", 0},
             {"229 ok (|||0|)", 0},
             {"229 ok (|||-1|)", 0},
             {"229 ok (|||5 0|)", 0},
             {"229 ok (||50000|)", 0},
             {"229 ok (|||50000!)", 0},
             {"229 ok (|||)", 0},
             {"229 ok |||50000|", 0},
             {"229 ok )|||50000|(", 0},
         }) {
        EXPECT_EQ(clsFTPConnection::extendedPassivePort(line), port) << line;
    }
}

// Over IPv6: EPSV; a malformed 229 sends no transfer command; a refused EPSV falls back to PASV
// and is not asked again; active mode announces itself with EPRT.
TEST_F(FakeServerTest, Ipv6SessionsUseExtendedPassiveModeAndFallBackToPasv) {
    if (!hasIpv6Loopback()) {
        GTEST_SKIP() << "no IPv6 loopback";
    }
    auto listing = [](Conversation& c, const std::string& command) {
        c.expect(command);
        c.acceptData();
        c.send("150 Here comes the listing\r\n");
        c.sendData("-rw-r--r-- 1 u g 5 Jan 01 2024 a.txt\r\n");
        c.closeData();
        c.send("226 Done\r\n");
    };
    FakeFtpServer server(
        [&](Conversation& c) {
            welcomeAndLogin(c);
            c.answer("EPSV", c.extendedPassive());
            listing(c, "LIST");
            c.answer("EPSV", "229 Entering Extended Passive Mode (|||x|)");
            c.answer("EPSV", "502 Command not implemented");
            c.answer("PASV", c.passive());
            listing(c, "LIST");
            c.answer("PASV", c.passive());
            listing(c, "LIST");
            c.expect("EPRT |2|::1|");
            c.send("500 EPRT not understood\r\n");
            c.expect("QUIT");
        },
        "::1");
    ASSERT_TRUE(connect(server, "::1"));
    auto names = [&]() {
        auto list = session->GetFileList();
        return list && list->size() == 1 ? (*list)[0].strName : std::string("(none)");
    };
    EXPECT_EQ(names(), "a.txt");
    EXPECT_EQ(names(), "(none)");
    EXPECT_TRUE(t.logged("Failed to enter passive mode!"));
    EXPECT_EQ(names(), "a.txt");
    EXPECT_EQ(names(), "a.txt");
    session->bPassiveMode = false;
    EXPECT_EQ(names(), "(none)");
    EXPECT_EQ(t.host.boxes.back().text, "Port command failed!");
    session->Disconnect();
    EXPECT_EQ(server.finish(), "");
}

// Exact listings and remote times only where FEAT offers them: a server with LIST alone is
// asked FEAT once and never MLSD or MFMT.
TEST_F(FakeServerTest, MachineListingsAndRemoteTimesOnlyWhereTheServerOffersThem) {
    for (const bool offered : {true, false}) {
        SCOPED_TRACE(offered);
        FakeFtpServer server([&](Conversation& c) {
            welcomeAndLogin(c);
            if (!offered) {
                c.answer("FEAT", "211 No features");
                c.expect("QUIT");
                return;
            }
            c.answer("FEAT",
                     "211-Features:\r\n MDTM\r\n MLST type*;size*;modify*;\r\n MFMT\r\n211 End");
            c.answer("PASV", c.passive());
            c.expect("MLSD /up");
            c.acceptData();
            c.send("150 Here it comes\r\n");
            c.sendData(
                "type=dir;modify=20240101000000; sub\r\n"
                "type=file;size=5;modify=20240229235959.123; a b.txt\r\n"
                "type=file;size=7; no time\r\n"
                "type=file;size=2;modify=2024; short time\r\n");
            c.closeData();
            c.send("226 Done\r\n");
            c.answer("MFMT 20240229235959 /up/a b.txt", "213 Modify=20240229235959; /up/a b.txt");
            c.expect("QUIT");
        });
        ASSERT_TRUE(connect(server));
        const auto listing = session->GetExactFileList("/up");
        EXPECT_EQ(session->SetModifiedTime("/up/a b.txt", 1709251199), offered);
        ASSERT_EQ(listing.has_value(), offered);
        if (offered) {
            ASSERT_EQ(listing->size(), 1u);
            EXPECT_EQ((*listing)[0].name, "a b.txt");
            EXPECT_EQ((*listing)[0].size, 5);
            EXPECT_EQ((*listing)[0].modified, 1709251199);  // 2024-02-29 23:59:59 UTC
        }
        session->Disconnect();
        EXPECT_EQ(server.finish(), "");
    }
}

// What a user pastes from a browser, openssl or our own message becomes one stored form.
TEST(Fingerprint, AnyCommonSpellingNormalizesAndAnythingElseIsRefused) {
    const std::string hex(64, 'a');
    std::string colons;
    for (size_t i = 0; i < hex.size(); i += 2) {
        colons += (i == 0 ? "" : ":") + std::string("AA");
    }
    for (const auto& [text, ok] : std::vector<std::pair<std::string, bool>>{
             {hex, true},
             {colons, true},
             {"SHA256:" + colons, true},
             {"sha256:" + hex, true},
             {hex.substr(1), false},
             {hex + "a", false},
             {hex.substr(1) + "g", false},
             {"", false},
         }) {
        EXPECT_EQ(normalizedFingerprint(text), ok ? std::optional(hex) : std::nullopt) << text;
    }
}

}  // namespace
}  // namespace kestrel
