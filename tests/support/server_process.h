// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace kestrel::test {

// A TCP port on 127.0.0.1 that was free a moment ago.
int freePort();

// A server program started by a test, stopped (SIGTERM) when the object goes out of scope.
class ServerProcess {
public:
    // Starts argv and waits up to 10 s until address:port accepts connections.
    ServerProcess(const std::vector<std::string>& argv, int port,
                  const std::string& address = "127.0.0.1");
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    bool running() const { return m_ready; }

private:
    int m_pid = -1;
    bool m_ready = false;
};

// An FTP server program on a loopback address serving root(); unavailable() says why it did not
// start.
class FtpServerProgram {
public:
    virtual ~FtpServerProgram() = default;
    const std::string& unavailable() const { return m_why; }
    int port() const { return m_port; }
    const std::string& address() const { return m_address; }
    std::string root() const { return m_dir.file("root"); }
    std::string local(const std::string& relative) const { return root() + "/" + relative; }

protected:
    void start(const std::vector<std::string>& argv);

    explicit FtpServerProgram(std::string address) : m_address(std::move(address)) {}

    TempDir m_dir;
    const std::string m_address;
    const int m_port = freePort();
    std::string m_why;

private:
    std::unique_ptr<ServerProcess> m_process;
};

// pyftpdlib (start folder "/"), user "user" with password "secret", writable.
class PyFtpServer : public FtpServerProgram {
public:
    explicit PyFtpServer(const std::string& address = "127.0.0.1");
};

// vsftpd for anonymous users (no password) whose "/upload" folder is writable; runs as root only.
class VsFtpServer : public FtpServerProgram {
public:
    explicit VsFtpServer(const std::string& address = "127.0.0.1");
};

}  // namespace kestrel::test
