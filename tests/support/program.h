// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace kestrel::test {

struct ProgramResult {
    int code = -1;  // exit code, or 128 + signal
    std::string out;
    std::string err;
};

// A program started by a test, its output collected in files; wait() for its end. One not
// waited for is killed when the object goes.
class Program {
public:
    // stdinText is written to the program's standard input.
    explicit Program(const std::vector<std::string>& argv, const std::string& stdinText = "");
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    int pid() const { return m_pid; }
    // Sends a signal, unless the program has ended.
    void signal(int number);
    // Waits until the program stops itself (SIGSTOP); false when it ended instead.
    bool waitStopped();
    ProgramResult wait();

private:
    void finish(int status);

    TempDir m_files;
    int m_pid = -1;
    bool m_waited = false;
    ProgramResult m_result;
};

// Runs a program to its end.
ProgramResult runProgram(const std::vector<std::string>& argv, const std::string& stdinText = "");

// The built kestrel-cli.
std::string cliPath();

}  // namespace kestrel::test
