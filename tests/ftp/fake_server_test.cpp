#include <gtest/gtest.h>

#include <filesystem>

#include "ftp/ftp_connection.h"
#include "platform/fs.h"
#include "support/fake_ftp_server.h"
#include "support/server_process.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

using Conversation = test::FakeFtpServer::Conversation;

void welcomeAndLogin(Conversation& c) {
    c.send("220 Fake server ready\r\n");
    c.expect("USER u");
    c.send("331 Password please\r\n");
    c.expect("pass secret");
    c.send("230 Logged in\r\n");
}

class FakeServerTest : public ::testing::Test {
protected:
    // The server a yield reaches is gone before the session.
    void TearDown() override { t.host.onYield = nullptr; }
    test::TestContext t;
    std::unique_ptr<clsFTPConnection> session;

    // The session's yields reach server, for scripts that send in pieces.
    bool connect(test::FakeFtpServer& server) {
        t.host.onYield = [&server] { server.clientYielded(); };
        EXPECT_TRUE(fs::makeDirs(t.dir.file("temp")));
        session = std::make_unique<clsFTPConnection>(t.ctx->control);
        session->SetupConnection("127.0.0.1", server.port(), "u", "secret", true);
        return session->EstablishConnection();
    }
};

TEST_F(FakeServerTest, RepliesInPiecesAndMultiLineBannersAreFramedByLines) {
    test::FakeFtpServer server([](Conversation& c) {
        c.send("220-220 looks like an end but is not\r\n220-second");
        c.awaitYields(2);
        c.send(" line\r\n220 ready\r\n");
        c.expect("USER u");
        c.send("33");
        c.awaitYields(2);
        c.send("1 Password please\r\n");
        c.expect("pass secret");
        c.send("230-Welcome\r\n text without a code\r\n230 Logged in\r\n");
        c.expect("PWD");
        c.send("257 \"/home/u\" is the current directory\r\n");
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
    test::FakeFtpServer server([](Conversation& c) {
        c.send("220-");
        int chunks = 0;
        while (chunks < 1024 && c.send(std::string(64 * 1024, 'x'))) {
            ++chunks;
        }
        if (chunks == 1024) {
            c.mismatch = "the client took 64 MiB of one reply";
        }
    });
    EXPECT_FALSE(connect(server));
    EXPECT_TRUE(t.loggedContaining("Couldn't read servers welcome message!"));
    EXPECT_EQ(server.finish(), "");
}

// A 230 answer to USER logs in without a password; a local file is replaced only with consent.
TEST_F(FakeServerTest, A230AnswerToUserLogsInAndAnExistingLocalFileIsKeptWithoutConsent) {
    test::FakeFtpServer server([](Conversation& c) {
        c.send("220 ready\r\n");
        c.expect("USER u");
        c.send("230 Login successful.\r\n");
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

// A server that ends a transfer early may still confirm it: the size it gives (SIZE, or the
// 150 reply) must be what arrived.
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
    test::FakeFtpServer server([](Conversation& c) {
        welcomeAndLogin(c);
        for (const Case& k : kCases) {
            c.expect("PASV");
            c.send(c.passive());
            c.expect("TYPE I");
            c.send("200 Binary\r\n");
            c.expect(std::string("SIZE /r/") + k.name);
            c.send(std::string(k.sizeReply) + "\r\n");
            c.expect(std::string("RETR /r/") + k.name);
            c.acceptData();
            c.send(std::string(k.opening) + "\r\n");
            c.sendData("hello");
            c.awaitYields(1);  // slow data: a gap is no end
            c.sendData(k.whole ? " world" : "");
            c.closeData();
            c.send("226 Transfer complete\r\n");
            if (k.ok) {
                c.expect("TYPE A");
                c.send("200 ASCII\r\n");
            }
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

// A server may refuse either half of a rename; the second is never sent after a refused first.
// A connection dropped in the midst of a download fails it.
TEST_F(FakeServerTest, RenamesAndDeletesTellWhatTheServerDidAndADroppedConnectionFails) {
    test::FakeFtpServer server([](Conversation& c) {
        welcomeAndLogin(c);
        c.expect("RNFR /up/a.kestrel-new");
        c.send("350 Ready for destination name\r\n");
        c.expect("RNTO /up/a");
        c.send("250 Renamed\r\n");
        c.expect("RNFR /up/b.kestrel-new");
        c.send("502 Command not implemented\r\n");
        c.expect("RNFR /up/c.kestrel-new");
        c.send("350 Ready\r\n");
        c.expect("RNTO /up/c");
        c.send("553 Not allowed\r\n");
        c.expect("DELE /up/c");
        c.send("250 Deleted\r\n");
        c.expect("DELE /up/d");
        c.send("550 No such file\r\n");
        c.expect("PASV");
        c.send(c.passive());
        c.expect("TYPE I");
        c.send("200 Binary\r\n");
        c.expect("SIZE");
        c.send("550 Could not get file size\r\n");
        c.expect("RETR");
        c.acceptData();
        c.send("150 Opening\r\n");
        c.sendData("partial");
        c.close();
    });
    ASSERT_TRUE(connect(server));
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

TEST_F(FakeServerTest, ARefusedPassiveModeAndAFullDisk) {
    test::FakeFtpServer server([](Conversation& c) {
        welcomeAndLogin(c);
        c.expect("PASV");
        c.send("500 Not here\r\n");
        // Upload to a full disk.
        c.expect("TYPE I");
        c.send("200 Binary\r\n");
        c.expect("PASV");
        c.send(c.passive());
        c.expect("stor /up/data.bin");
        c.acceptData();
        c.send("150 Ok to send data\r\n");
        c.receiveData();
        c.send("552 Exceeded storage allocation\r\n");
        c.expect("TYPE A");
        c.send("200 ASCII\r\n");
        // An upload the server confirms with another size.
        c.expect("TYPE I");
        c.send("200 Binary\r\n");
        c.expect("PASV");
        c.send(c.passive());
        c.expect("stor /up/data.bin");
        c.acceptData();
        c.send("150 Ok to send data\r\n");
        c.receiveData();
        c.closeData();
        c.send("226 Transfer complete\r\n");
        c.expect("SIZE /up/data.bin");
        c.send("213 3\r\n");
        c.expect("TYPE A");
        c.send("200 ASCII\r\n");
        c.expect("MKD /backup/daily");
        c.send("257 \"/backup/daily\" created\r\n");
        c.expect("QUIT");
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
    session->Disconnect();
    EXPECT_EQ(server.finish(), "");
}

TEST(FtpReplies, PassivePortsAndAnnouncedSizes) {
    EXPECT_EQ(clsFTPConnection::passivePort("227 Entering Passive Mode (10,0,0,1,195,80)."), 50000);
    EXPECT_EQ(clsFTPConnection::passivePort("227 (10,0,0,1,255,255)"), 65535);
    EXPECT_EQ(clsFTPConnection::passivePort("227 (10,0,0,1,256,0)"), 0);
    EXPECT_EQ(clsFTPConnection::passivePort("227 (10,0,0,1)"), 0);
    EXPECT_EQ(clsFTPConnection::passivePort("227 )10,0,0,1,1,1("), 0);
    EXPECT_EQ(clsFTPConnection::announcedSize("150 Opening BINARY mode (2048 bytes)"), 2048);
    EXPECT_EQ(clsFTPConnection::announcedSize("150 Opening BINARY mode"), std::nullopt);
    EXPECT_EQ(clsFTPConnection::announcedSize("150 Opening (for x) mode"), std::nullopt);
    EXPECT_EQ(clsFTPSocket::echoText("  pass 12345678 "), "PASS ********");
    EXPECT_EQ(clsFTPSocket::echoText("pass "), "PASS ");
    EXPECT_EQ(clsFTPSocket::echoText("CWD /x"), "CWD /x");
}

TEST(FtpSockets, PortsAndUnreachableServers) {
    TcpSocket s;
    std::string error;
    EXPECT_FALSE(s.connect("127.0.0.1", 65536, 1000, &error));
    EXPECT_EQ(error, "no host or port out of range");
    EXPECT_FALSE(s.connect("127.0.0.1", -1, 1000));
    EXPECT_FALSE(s.connect("", 21, 1000));
    // A dotted address is taken as it stands, without asking a name server.
    EXPECT_EQ(TcpSocket::resolve("127.0.0.1"), "127.0.0.1");
    const int port = test::freePort();
    EXPECT_FALSE(s.connect("127.0.0.1", port, 1000, &error));  // nobody listens
    EXPECT_NE(error.find("cannot connect"), std::string::npos);

    test::TestContext t;
    clsFTPConnection session(t.ctx->control);
    session.SetupConnection("127.0.0.1", port, "u", "p", true);
    EXPECT_FALSE(session.EstablishConnection());
    EXPECT_EQ(session.connectionState(), FtpClient::State::NotConnected);
    EXPECT_EQ(session.GetFile("/x", t.dir.file("x")), FtpClient::GetResult::Failed);
    EXPECT_FALSE(session.StoreFile(t.dir.write("y", "y"), "/"));
}

}  // namespace
}  // namespace kestrel
