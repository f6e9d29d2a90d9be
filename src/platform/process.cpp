// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process.h"
#include "platform/status.h"

#include <algorithm>
#include <cstdlib>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "platform/unique_fd.h"

extern char** environ;

namespace kestrel {

namespace {

class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&m_actions); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&m_actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
};

// write() to a pipe whose reader may be gone: SIGPIPE would end this whole process, so it is
// blocked in this thread for the call, and one the call raised is taken back.
ssize_t writeToPipe(int fd, const char* data, size_t size) {
    sigset_t pipeSignal;
    ::sigemptyset(&pipeSignal);
    ::sigaddset(&pipeSignal, SIGPIPE);
    sigset_t pending;
    ::sigpending(&pending);
    const bool pendingBefore = ::sigismember(&pending, SIGPIPE) == 1;
    sigset_t old;
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    ssize_t n = 0;
    do {
        n = ::write(fd, data, size);
    } while (n < 0 && errno == EINTR);
    const int saved = errno;
    if (n < 0 && saved == EPIPE && !pendingBefore) {
        const struct timespec none { 0, 0 };
        while (::sigtimedwait(&pipeSignal, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = saved;
    return n;
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// Starts argv[0] with the actions given and no descriptor of ours beyond the standard three;
// nothing, with *error set, when it cannot start.
std::optional<pid_t> spawn(const std::vector<std::string>& argv, SpawnActions& actions,
                           std::string* error) {
    // Descriptors without close-on-exec (lock files, sockets, or any that whoever started us
    // left open) are none of the program's business.
    if (::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3) != 0) {
        if (error != nullptr) {
            *error = "cannot prepare the start of " + argv[0];
        }
        return std::nullopt;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc =
        ::posix_spawn(&pid, argv[0].c_str(), actions.get(), nullptr, args.data(), environ);
    if (rc != 0) {
        if (error != nullptr) {
            *error = Status::fromErrno(rc, "cannot start " + argv[0]).text();
        }
        return std::nullopt;
    }
    return pid;
}

// Starts argv with input (when given) on its standard input and waits for it.
std::optional<int> spawnAndWait(const std::vector<std::string>& argv, const std::string_view* input,
                                const std::function<void()>& whileWaiting, std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<int> {
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    };
    if (argv.empty()) {
        return std::nullopt;
    }
    SpawnActions actions;
    UniqueFd readEnd;
    UniqueFd writeEnd;
    if (input != nullptr) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return fail(Status::fromErrno(errno, "cannot create a pipe").text());
        }
        readEnd.reset(fds[0]);
        writeEnd.reset(fds[1]);
        // With our standard descriptors closed the pipe may get their numbers; the program's
        // end must not collide with them.
        if (readEnd.get() < 3) {
            readEnd.reset(::fcntl(readEnd.get(), F_DUPFD_CLOEXEC, 3));
        }
        // Our end only: the program's end stays blocking.
        if (::fcntl(writeEnd.get(), F_SETFL, ::fcntl(writeEnd.get(), F_GETFL) | O_NONBLOCK) != 0 ||
            ::posix_spawn_file_actions_adddup2(actions.get(), readEnd.get(), 0) != 0) {
            return fail("cannot prepare the start of " + argv[0]);
        }
    }
    const std::optional<pid_t> started = spawn(argv, actions, error);
    if (!started) {
        return std::nullopt;
    }
    const pid_t pid = *started;
    readEnd.reset();
    size_t written = 0;
    for (;;) {
        if (writeEnd.get() >= 0) {
            bool gone = false;
            while (written < input->size()) {
                const ssize_t n = writeToPipe(writeEnd.get(), input->data() + written,
                                              std::min<size_t>(input->size() - written, 65536));
                if (n < 0) {
                    gone = errno != EAGAIN;
                    break;
                }
                written += static_cast<size_t>(n);
            }
            if (gone || written == input->size()) {
                writeEnd.reset();
            }
        }
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return exitCodeOf(status);
        }
        if (done < 0 && errno != EINTR) {
            return fail(Status::fromErrno(errno, "cannot wait for " + argv[0]).text());
        }
        if (whileWaiting) {
            whileWaiting();
        }
        if (writeEnd.get() >= 0) {
            struct pollfd ready {
                writeEnd.get(), POLLOUT, 0
            };
            ::poll(&ready, 1, 5);
        } else {
            struct timespec pause {
                0, 5'000'000
            };
            ::nanosleep(&pause, nullptr);
        }
    }
}

}  // namespace

std::optional<int> StartedProcess::exitCode() {
    int status = 0;
    pid_t done = 0;
    do {
        done = ::waitpid(m_pid, &status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done != m_pid) {
        return std::nullopt;
    }
    m_pidfd.reset();
    return exitCodeOf(status);
}

std::optional<StartedProcess> startProcess(const std::vector<std::string>& argv,
                                           std::string* error) {
    if (argv.empty()) {
        return std::nullopt;
    }
    SpawnActions actions;
    const std::optional<pid_t> pid = spawn(argv, actions, error);
    if (!pid) {
        return std::nullopt;
    }
    // Without a pidfd (a kernel before 5.3) the program runs just the same; only its end goes
    // untold.
    // (Debian 12's <sys/pidfd.h> lacks extern "C", hence the system call itself.)
    return StartedProcess(*pid, UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, *pid, 0))));
}

std::optional<int> runProcess(const std::vector<std::string>& argv,
                              const std::function<void()>& whileWaiting, std::string* error) {
    return spawnAndWait(argv, nullptr, whileWaiting, error);
}

std::optional<int> runProcessWithInput(const std::vector<std::string>& argv, std::string_view input,
                                       const std::function<void()>& whileWaiting,
                                       std::string* error) {
    return spawnAndWait(argv, &input, whileWaiting, error);
}

std::string restartInPlace(char** argv, const std::vector<std::string>& variables) {
    std::vector<std::string> names;
    for (const std::string& variable : variables) {
        const size_t eq = variable.find('=');
        if (eq == std::string::npos || eq == 0) {
            continue;
        }
        names.push_back(variable.substr(0, eq));
        ::setenv(names.back().c_str(), variable.c_str() + eq + 1, 1);
    }
    ::execv("/proc/self/exe", argv);
    const std::string error = Status::fromErrno(errno, "cannot start the program again").text();
    for (const std::string& name : names) {
        ::unsetenv(name.c_str());
    }
    return error;
}

int currentProcessId() {
    return static_cast<int>(::getpid());
}

std::string currentUserName() {
    if (const char* user = std::getenv("USER"); user != nullptr && *user != '\0') {
        return user;
    }
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr) {
        return pw->pw_name;
    }
    return "";
}

}  // namespace kestrel
