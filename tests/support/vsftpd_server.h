#pragma once

#include <memory>
#include <string>

#include "support/server_process.h"
#include "support/temp_dir.h"

namespace kestrel::test {

// vsftpd on 127.0.0.1 for anonymous users (no password), serving a folder of the test's whose
// "upload" folder is writable (remote "/upload": uploads, renames and removals). It must be
// started as root; unavailable() says why it could not be started ("" when it runs).
class VsFtpServer {
public:
    VsFtpServer();
    const std::string& unavailable() const { return m_why; }
    int port() const { return m_port; }
    std::string root() const { return m_dir.file("root"); }
    std::string local(const std::string& relative) const { return root() + "/" + relative; }

private:
    TempDir m_dir;
    int m_port;
    std::string m_why;
    std::unique_ptr<ServerProcess> m_process;
};

}  // namespace kestrel::test
