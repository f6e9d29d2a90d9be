#include "platform/process.h"

#include <cstdlib>

#include <errno.h>
#include <pwd.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace kestrel {

std::optional<int> runProcess(const std::vector<std::string>& argv,
                              const std::function<void()>& whileWaiting, std::string* error) {
    if (argv.empty()) {
        return std::nullopt;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv[0].c_str(), nullptr, nullptr, args.data(), environ);
    if (rc != 0) {
        if (error != nullptr) {
            *error = "cannot start " + argv[0] + ": " + ::strerror(rc);
        }
        return std::nullopt;
    }
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status)) {
                return WEXITSTATUS(status);
            }
            return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        }
        if (done < 0 && errno != EINTR) {
            if (error != nullptr) {
                *error = std::string("cannot wait for ") + argv[0] + ": " + ::strerror(errno);
            }
            return std::nullopt;
        }
        if (whileWaiting) {
            whileWaiting();
        }
        struct timespec pause {
            0, 5'000'000
        };
        ::nanosleep(&pause, nullptr);
    }
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
    const std::string error = std::string("cannot start the program again: ") + ::strerror(errno);
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
