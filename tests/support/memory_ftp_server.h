// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"
#include "support/fake_ftp_client.h"

namespace kestrel::test {

// An in-memory FTP server on 127.0.0.1 for whole runs; misbehaves on request, any login works.
class MemoryFtpServer {
public:
    // Ways to misbehave, each for the paths that contain the given text ("" = never).
    struct Faults {
        std::string cutStor{};    // an upload ends after cutStorAfter bytes: the server keeps them,
        size_t cutStorAfter = 0;  // closes the data connection and answers 426 (or 226)
        bool cutStorSays226 = false;
        std::string shortRetr{};  // a download sends shortRetrBytes bytes, then 226
        size_t shortRetrBytes = 0;
        std::string refuseRetr{};   // a download is answered 550
        bool refuseRename = false;  // RNFR is answered 502
    };

    MemoryFtpServer();
    ~MemoryFtpServer();
    MemoryFtpServer(const MemoryFtpServer&) = delete;
    MemoryFtpServer& operator=(const MemoryFtpServer&) = delete;

    int port() const { return m_port; }
    void setFaults(const Faults& faults);

    void makeFolder(const std::string& path);
    void remove(const std::string& path);
    std::map<std::string, std::string> files() const;  // by path
    // How many commands starting with prefix the server was sent.
    int count(const std::string& prefix) const;

private:
    struct Session;
    void serve(TcpSocket control);
    std::string handle(Session& s, const std::string& line);

    mutable std::mutex m_mutex;
    FakeRemote m_remote;
    std::vector<std::string> m_commands;
    Faults m_faults;

    TcpListener m_listener;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_sessions;
};

}  // namespace kestrel::test
