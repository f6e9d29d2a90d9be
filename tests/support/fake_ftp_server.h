#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/tcp_socket.h"

namespace kestrel::test {

// A scripted FTP server on 127.0.0.1 for what real servers rarely do: replies in pieces, slow
// or short data, dropped connections, refusals. The script runs on a thread of its own against
// the first client that connects.
class FakeFtpServer {
public:
    class Conversation {
    public:
        // Sends text as it stands (include the CR LF); false when the client went away.
        bool send(const std::string& text);
        // Waits until the client's host has yielded n more times (the test passes them on with
        // clientYielded): the client has taken in what came and waits for more, so that what is
        // sent next reaches it as a piece of its own. A client waiting for a reply yields as it
        // polls, so that one yield may end a poll begun before the bytes came: wait for two.
        void awaitYields(int n);
        // Reads the next command line (without CR LF); "" when the client went away.
        std::string command();
        // Reads a command and checks that it starts with prefix; false (noted) when not.
        bool expect(const std::string& prefix);
        // Opens a data listener and returns the 227 reply for it (naming 10.0.0.1 as address).
        std::string passive();
        bool acceptData();
        void sendData(const std::string& bytes);
        std::string receiveData();  // until the client closes
        void closeData();
        void close();

        std::string mismatch;  // the first unexpected command, for the test to report

    private:
        friend class FakeFtpServer;
        FakeFtpServer* server = nullptr;
        TcpSocket control;
        TcpListener dataListener;
        TcpSocket data;
        std::string pending;
    };

    explicit FakeFtpServer(std::function<void(Conversation&)> script);
    ~FakeFtpServer();
    int port() const { return m_port; }
    // Called where the client's host yields.
    void clientYielded();
    // Waits for the script to end and returns its mismatch text ("" when all went as planned).
    // A server whose finish() nobody called fails the test when its script was not followed.
    [[nodiscard]] std::string finish();

private:
    TcpListener m_listener;
    int m_port = 0;
    std::thread m_thread;
    std::string m_mismatch;
    std::mutex m_mutex;
    std::condition_variable m_yielded;
    long m_yields = 0;  // guarded by m_mutex
    bool m_finished = false;
    bool m_asked = false;
};

}  // namespace kestrel::test
