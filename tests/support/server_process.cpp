// SPDX-License-Identifier: GPL-3.0-or-later
// The server programs the tests start: pyftpdlib, vsftpd.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/tcp_socket.h"
#include "support/server_process.h"

extern char** environ;

namespace kestrel::test {

ServerProcess::ServerProcess(const std::vector<std::string>& argv, int port,
                             const std::string& address) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return;
    }
    m_pid = pid;
    for (int i = 0; i < 100 && !m_ready; ++i) {
        TcpSocket probe;
        m_ready = probe.connect(address, port, 200);
        if (!m_ready) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

ServerProcess::~ServerProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

void FtpServerProgram::start(const std::vector<std::string>& argv) {
    m_process = std::make_unique<ServerProcess>(argv, m_port, m_address);
    if (!m_process->running()) {
        m_why = "the server did not start";
    }
}

int freePort() {
    TcpListener l;
    l.listen("127.0.0.1", 0);
    return l.port();
}

PyFtpServer::PyFtpServer(const std::string& address, const ServerTls& tls, bool logCommands)
    : FtpServerProgram(address) {
    if (std::system("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") != 0) {
        m_why = "python3-pyftpdlib is not installed";
        return;
    }
    if (!tls.certificate.empty() &&
        std::system("/usr/bin/python3 -c 'import OpenSSL' 2>/dev/null") != 0) {
        m_why = "python3-openssl is not installed";
        return;
    }
    std::filesystem::create_directories(root());
    const int low = m_port + 1;
    if (tls.certificate.empty() && !logCommands) {
        start({"/usr/bin/python3", "-m", "pyftpdlib", "-i", address, "-p", std::to_string(m_port),
               "-w", "-d", root(), "-u", "user", "-P", "secret", "-r",
               std::to_string(low) + "-" + std::to_string(low + 40)});
        return;
    }
    const std::string script = m_dir.write("server.py", R"(import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer
address, port, root, low, log, cert, key = sys.argv[1:8]
logging.basicConfig(filename=log, level=logging.DEBUG)
authorizer = DummyAuthorizer()
authorizer.add_user("user", "secret", root, perm="elradfmwMT")
handler = TLS_FTPHandler if cert else FTPHandler
if cert:
    handler.certfile = cert
    handler.keyfile = key
    handler.tls_control_required = True
    handler.tls_data_required = True
handler.authorizer = authorizer
handler.passive_ports = range(int(low), int(low) + 41)
FTPServer((address, int(port)), handler).serve_forever()
)");
    start({"/usr/bin/python3", script, address, std::to_string(m_port), root(), std::to_string(low),
           m_dir.file("commands.log"), tls.certificate, tls.key});
}

VsFtpServer::VsFtpServer(const std::string& address, const ServerTls& tls)
    : FtpServerProgram(address) {
    if (!std::filesystem::exists("/usr/sbin/vsftpd") || ::geteuid() != 0) {
        m_why = "vsftpd is not installed or the tests do not run as root";
        return;
    }
    namespace stdfs = std::filesystem;
    stdfs::create_directories(m_dir.file("root/upload"));
    stdfs::create_directories(m_dir.file("empty"));
    // The anonymous user (daemon) walks to the root and writes in its upload folder.
    stdfs::permissions(m_dir.path(), stdfs::perms::owner_all | stdfs::perms::group_read |
                                         stdfs::perms::group_exec | stdfs::perms::others_read |
                                         stdfs::perms::others_exec);
    stdfs::permissions(m_dir.file("root/upload"), stdfs::perms::all);
    // A welcome of several lines, one of which looks like its end.
    m_dir.write("banner", "Welcome line one\n220 looks like an end but is not\nlast line\n");
    const int low = m_port + 1;
    m_dir.write("vsftpd.conf",
                (address.find(':') == std::string::npos
                     ? "listen=YES\nlisten_ipv6=NO\nlisten_address=" + address
                     : "listen=NO\nlisten_ipv6=YES\nlisten_address6=" + address) +
                    "\nbackground=NO\nlisten_port=" + std::to_string(m_port) +
                    "\nanonymous_enable=YES\nlocal_enable=NO\nwrite_enable=YES\n"
                    "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                    "anon_other_write_enable=YES\nanon_root=" +
                    root() + "\nanon_umask=022\nno_anon_password=YES\nftp_username=daemon\n" +
                    "nopriv_user=daemon\nsecure_chroot_dir=" + m_dir.file("empty") +
                    "\nbanner_file=" + m_dir.file("banner") + "\npasv_enable=YES\npasv_min_port=" +
                    std::to_string(low) + "\npasv_max_port=" + std::to_string(low + 40) +
                    "\nport_enable=YES\nseccomp_sandbox=NO\nisolate=NO\n"
                    "isolate_network=NO\nxferlog_enable=NO\n" +
                    (tls.certificate.empty()
                         ? std::string()
                         : "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
                           "force_anon_data_ssl=YES\nssl_ciphers=HIGH\nrsa_cert_file=" +
                               tls.certificate + "\nrsa_private_key_file=" + tls.key + "\n"));
    start({"/usr/sbin/vsftpd", m_dir.file("vsftpd.conf")});
}

bool hasIpv6Loopback() {
    TcpListener probe;
    return probe.listen("::1", 0);
}

}  // namespace kestrel::test
