#include "support/server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "platform/tcp_socket.h"

extern char** environ;

namespace kestrel::test {

ServerProcess::ServerProcess(const std::vector<std::string>& argv, int port) {
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
        m_ready = probe.connect("127.0.0.1", port, 200);
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

int freePort() {
    TcpListener l;
    l.listen("127.0.0.1", 0);
    return l.port();
}

}  // namespace kestrel::test
