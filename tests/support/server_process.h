#pragma once

#include <string>
#include <vector>

namespace kestrel::test {

// A server program started by a test, stopped (SIGTERM) when the object goes out of scope.
class ServerProcess {
public:
    // Starts argv and waits up to 10 s until 127.0.0.1:port accepts connections.
    ServerProcess(const std::vector<std::string>& argv, int port);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    bool running() const { return m_ready; }

private:
    int m_pid = -1;
    bool m_ready = false;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int freePort();

}  // namespace kestrel::test
