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

// TLS for a test server: its certificate and key in PEM files; no certificate for plain FTP.
struct ServerTls {
    std::string certificate;
    std::string key;
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
    // The commands the server received, where it keeps them (pyftpdlib with TLS or a log).
    std::string commandLog() const { return readAll(m_dir.file("commands.log")); }

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
    // With tls.certificate, or logCommands, a small script runs pyftpdlib (with TLS required on
    // the control and data connections, or plain with a command log).
    explicit PyFtpServer(const std::string& address = "127.0.0.1", const ServerTls& tls = {},
                         bool logCommands = false);
};

// vsftpd for anonymous users (no password) whose "/upload" folder is writable; runs as root only.
class VsFtpServer : public FtpServerProgram {
public:
    // With tls.certificate, TLS is required for logins and data (ssl_enable=YES).
    explicit VsFtpServer(const std::string& address = "127.0.0.1", const ServerTls& tls = {});
};

// Which real server a parameterised test runs against.
enum class ServerKind { Pyftpdlib, Vsftpd };

// Whether this machine can listen on the IPv6 loopback (containers often cannot).
bool hasIpv6Loopback();

}  // namespace kestrel::test
