#include "support/pyftpd_server.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace kestrel::test {

PyFtpServer::PyFtpServer() : m_port(freePort()) {
    if (std::system("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") != 0) {
        m_why = "python3-pyftpdlib is not installed";
        return;
    }
    std::filesystem::create_directories(root());
    const int low = m_port + 1;
    m_process = std::make_unique<ServerProcess>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p",
                                 std::to_string(m_port), "-w", "-d", root(), "-u", "user", "-P",
                                 "secret", "-r",
                                 std::to_string(low) + "-" + std::to_string(low + 40)},
        m_port);
    if (!m_process->running()) {
        m_why = "the server did not start";
    }
}

}  // namespace kestrel::test
