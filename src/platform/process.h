// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace kestrel {

// Runs a program (argv[0] is its path; no shell is involved) and waits for it, calling
// whileWaiting every few milliseconds. Returns its exit code (128 + the signal number when a
// signal ended it), or nothing when it could not be started (*error says why). The program
// shares this process's standard input, output and error and no other descriptor.
std::optional<int> runProcess(const std::vector<std::string>& argv,
                              const std::function<void()>& whileWaiting,
                              std::string* error = nullptr);

// As runProcess, but the program's standard input is a pipe that gets every byte of input and
// is closed after the last one, so the program reads input up to end of file (bytes it leaves
// unread are dropped when it closes its end or ends). Input of any size: it is written while
// the program runs, never blocking the wait. For secrets that must stay out of the process
// list.
std::optional<int> runProcessWithInput(const std::vector<std::string>& argv, std::string_view input,
                                       const std::function<void()>& whileWaiting,
                                       std::string* error = nullptr);

// A program started beside this one by startProcess. fd() becomes readable when it has ended;
// letting go of this object leaves the program running.
class StartedProcess {
public:
    StartedProcess(int pid, UniqueFd pidfd) : m_pid(pid), m_pidfd(std::move(pidfd)) {}
    // -1 when the end cannot be watched.
    int fd() const { return m_pidfd.get(); }
    // The exit code as runProcess gives it once the program has ended; nothing while it runs.
    std::optional<int> exitCode();

private:
    int m_pid;
    UniqueFd m_pidfd;
};

// Starts a program (argv[0] is its path) without waiting for it, sharing this process's standard
// input, output and error and no other descriptor. Nothing, with *error set, when it cannot start.
std::optional<StartedProcess> startProcess(const std::vector<std::string>& argv,
                                           std::string* error = nullptr);

// Replaces this process's program image by this same program (same process id, descriptors
// without close-on-exec kept), with argv and the given "NAME=value" variables set. Returns only
// when that failed, with the reason.
std::string restartInPlace(char** argv, const std::vector<std::string>& variables);

// The id of this process.
int currentProcessId();

// The name of the user this process runs as ($USER, else the password database).
std::string currentUserName();

}  // namespace kestrel
