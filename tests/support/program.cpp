// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/program.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace kestrel::test {

Program::Program(const std::vector<std::string>& argv, const std::string& stdinText) {
    const std::string in = m_files.write("stdin", stdinText);
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const std::string out = m_files.file("stdout");
    const std::string err = m_files.file("stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ) == 0) {
        m_pid = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
}

Program::~Program() {
    // A test that stopped early must not hang on a program that would run on (a service).
    signal(SIGKILL);
    wait();
}

void Program::signal(int number) {
    if (m_pid > 0 && !m_waited) {
        ::kill(m_pid, number);
    }
}

bool Program::waitStopped() {
    if (m_waited || m_pid <= 0) {
        return false;
    }
    int status = 0;
    while (::waitpid(m_pid, &status, WUNTRACED) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    if (WIFSTOPPED(status)) {
        return true;
    }
    finish(status);
    return false;
}

void Program::finish(int status) {
    m_waited = true;
    m_result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m_result.out = readAll(m_files.file("stdout"));
    m_result.err = readAll(m_files.file("stderr"));
}

ProgramResult Program::wait() {
    if (m_waited || m_pid <= 0) {
        return m_result;
    }
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0) {
        if (errno != EINTR) {
            m_waited = true;
            return m_result;
        }
    }
    finish(status);
    return m_result;
}

ProgramResult runProgram(const std::vector<std::string>& argv, const std::string& stdinText) {
    return Program(argv, stdinText).wait();
}

std::string cliPath() {
    return std::string(KESTREL_BINARY_DIR) + "/bin/kestrel-cli";
}

}  // namespace kestrel::test
