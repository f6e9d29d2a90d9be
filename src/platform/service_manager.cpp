// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/service_manager.h"
#include "platform/status.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/fs.h"
#include "platform/process.h"
#include "platform/program_folder.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace kestrel {
namespace {

// Event types are numbered as in the Windows event log (1 error, 2 warning, 4 information), so
// that one set of numbers serves every platform.
constexpr int kErrorEventType = 1;
// Enough of systemctl's output for a message; the rest is drained and dropped.
constexpr size_t kOutputLimit = 64 * 1024;

void setError(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

bool isPlain(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("/._-+,:@=~").find(static_cast<char>(c)) != std::string_view::npos;
}

// One word of a unit file line: systemd unquotes it, undoes C escapes and replaces %
// specifiers; in command arguments it also expands $VARIABLES.
std::string unitWord(std::string_view s, bool expandsVariables) {
    bool plain = !s.empty();
    for (const char c : s) {
        plain = plain && isPlain(static_cast<unsigned char>(c));
    }
    if (plain) {
        return std::string(s);
    }
    std::string word = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '%') {
            word += "%%";
        } else if (c == '$' && expandsVariables) {
            word += "$$";
        } else if (c == '\\' || c == '"') {
            word += '\\';
            word += c;
        } else if (u < 0x20 || u == 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            word += hex;
        } else {
            word += c;
        }
    }
    return word + "\"";
}

// systemd refuses to start an executable whose own path holds these, however it is quoted.
bool systemdRefusesAsExecutable(std::string_view path) {
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\'' || c == '\\' || u < 0x20 || u == 0x7f) {
            return true;
        }
    }
    return false;
}

bool makePipe(UniqueFd* readEnd, UniqueFd* writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    readEnd->reset(fds[0]);
    writeEnd->reset(fds[1]);
    return true;
}

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

struct Outcome {
    std::optional<int> exitCode;  // nothing when the program could not be run
    std::string out;
    std::string err;  // its standard error, or why it could not be run

    bool succeeded() const { return exitCode == 0; }
};

std::optional<std::string> findOnPath(const std::string& name) {
    const std::string path = fs::getEnv("PATH").value_or("/usr/bin:/bin");
    size_t begin = 0;
    for (;;) {
        const size_t end = std::min(path.find(':', begin), path.size());
        const std::string dir = path.substr(begin, end - begin);
        const std::string candidate = fs::join(dir.empty() ? "." : dir, name);
        if (fs::isRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (end == path.size()) {
            return std::nullopt;
        }
        begin = end + 1;
    }
}

// Drains both pipes together, so that a child filling one of them never blocks.
void collect(int outFd, int errFd, std::string* out, std::string* err) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {out, err};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                fds[i].fd = -1;
                --open;
                continue;
            }
            const size_t room = kOutputLimit - std::min(kOutputLimit, sinks[i]->size());
            sinks[i]->append(buffer, std::min(room, static_cast<size_t>(n)));
        }
    }
}

// systemctl with our arguments, reading nothing and with its output captured; runProcess
// shares our descriptors instead.
Outcome runSystemctl(const std::vector<std::string>& arguments) {
    Outcome outcome;
    const auto program = findOnPath("systemctl");
    if (!program) {
        outcome.err = "systemctl was not found on PATH";
        return outcome;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program->c_str()));
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    UniqueFd outRead, outWrite, errRead, errWrite;
    if (!makePipe(&outRead, &outWrite) || !makePipe(&errRead, &errWrite)) {
        outcome.err = Status::fromErrno(errno, "cannot create a pipe").text();
        return outcome;
    }
    SpawnActions actions;
    if (::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), outWrite.get(), 1) != 0 ||
        ::posix_spawn_file_actions_adddup2(actions.get(), errWrite.get(), 2) != 0) {
        outcome.err = "cannot prepare the start of " + *program;
        return outcome;
    }
    pid_t pid = 0;
    const int rc =
        ::posix_spawn(&pid, program->c_str(), actions.get(), nullptr, argv.data(), environ);
    if (rc != 0) {
        outcome.err = Status::fromErrno(rc, "cannot start " + *program).text();
        return outcome;
    }
    // Our copies of the write ends would keep the pipes open after systemctl ends.
    outWrite.reset();
    errWrite.reset();
    collect(outRead.get(), errRead.get(), &outcome.out, &outcome.err);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            outcome.err = Status::fromErrno(errno, "cannot wait for systemctl").text();
            return outcome;
        }
    }
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status)
                                         : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return outcome;
}

std::string trimmed(std::string_view s) {
    const size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) {
        return "";
    }
    return std::string(s.substr(begin, s.find_last_not_of(" \t\r\n") - begin + 1));
}

// Runs one step; on failure *error names it with its exit code and what systemctl said.
bool step(const std::vector<std::string>& arguments, std::string* error) {
    const Outcome outcome = runSystemctl(arguments);
    if (outcome.succeeded()) {
        return true;
    }
    std::string text = "systemctl";
    for (const std::string& a : arguments) {
        text += " " + a;
    }
    if (outcome.exitCode) {
        text += " failed with exit code " + std::to_string(*outcome.exitCode);
    } else {
        text += " could not be run";
    }
    const std::string said = trimmed(outcome.err.empty() ? outcome.out : outcome.err);
    if (!said.empty()) {
        text += ": " + said;
    }
    setError(error, text);
    return false;
}

std::string defaultUnitFolder() {
    const std::string config = userConfigHome();
    return config.empty() ? "" : fs::join(config, "systemd/user");
}

// The unit a package installed with this executable (<prefix>/bin/kestrel beside
// <prefix>/lib/systemd/user/kestrel.service), which starts this very program.
std::optional<std::string> packagedUnit(const std::string& executable) {
    const std::string bin = fs::parentOf(executable);
    if (fs::fileNameOf(bin) != "bin") {
        return std::nullopt;
    }
    const std::string unit =
        fs::join(fs::parentOf(bin), std::string("lib/systemd/user/") + kServiceUnitName);
    return fs::isRegularFile(unit) ? std::optional<std::string>(unit) : std::nullopt;
}

bool cgroupIsTheUnit(const std::string& cgroup) {
    const std::string suffix = std::string("/") + kServiceUnitName;
    size_t begin = 0;
    while (begin < cgroup.size()) {
        const size_t end = std::min(cgroup.find('\n', begin), cgroup.size());
        const std::string_view line(cgroup.data() + begin, end - begin);
        // Each line is ID:CONTROLLERS:PATH.
        const size_t first = line.find(':');
        const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second != std::string_view::npos && line.substr(second + 1).ends_with(suffix)) {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

class SystemdUserManager final : public ServiceManager {
public:
    explicit SystemdUserManager(std::string unitFolder) : m_unitFolder(std::move(unitFolder)) {}

    bool available() override {
        if (auto runtime = fs::getEnv("XDG_RUNTIME_DIR");
            runtime && !runtime->empty() && fs::exists(fs::join(*runtime, "systemd/private"))) {
            return true;
        }
        // It exits non-zero for states such as "degraded" too; only the state it prints tells
        // whether a manager answered. "offline" and "unknown" are what it says when none did.
        const Outcome outcome = runSystemctl({"--user", "is-system-running"});
        const std::string state = trimmed(outcome.out);
        return outcome.exitCode && !state.empty() && state != "offline" && state != "unknown";
    }

    bool install(const std::string& executable, const std::optional<std::string>& home,
                 std::string* error) override {
        if (!executable.starts_with('/')) {
            setError(error, "the executable must be given as an absolute path: " + executable);
            return false;
        }
        if (m_unitFolder.empty()) {
            setError(error, "cannot tell where the user's unit files go: HOME is not set");
            return false;
        }
        std::string why;
        // The package's unit knows no other program folder than the default one.
        if (!home && packagedUnit(executable)) {
            // One that an earlier install wrote would hide it.
            if (fs::exists(unitPath()) && !fs::removeFile(unitPath(), &why)) {
                setError(error, why);
                return false;
            }
        } else if (!fs::makeDirs(m_unitFolder, &why) ||
                   !fs::writeFileAtomic(unitPath(), serviceUnitText(executable, home), 0644,
                                        &why)) {
            setError(error, why);
            return false;
        }
        return step({"--user", "daemon-reload"}, error) &&
               step({"--user", "enable", "--now", kServiceUnitName}, error);
    }

    bool uninstall(std::string* error) override {
        // Every step is tried even after one failed, so that as little as possible is left.
        std::string failures;
        auto note = [&](const std::string& why) {
            failures += (failures.empty() ? "" : "; ") + why;
        };
        std::string why;
        if (running() && !step({"--user", "stop", kServiceUnitName}, &why)) {
            note(why);
        }
        if (!step({"--user", "disable", kServiceUnitName}, &why)) {
            note(why);
        }
        if (m_unitFolder.empty()) {
            note("cannot tell where the user's unit files are: HOME is not set");
        } else if (fs::exists(unitPath()) && !fs::removeFile(unitPath(), &why)) {
            note(why);
        }
        if (!step({"--user", "daemon-reload"}, &why)) {
            note(why);
        }
        if (!failures.empty()) {
            setError(error, failures);
        }
        return failures.empty();
    }

    bool running() override {
        return runSystemctl({"--user", "is-active", "--quiet", kServiceUnitName}).succeeded();
    }

    bool stop(std::string* error) override {
        return step({"--user", "stop", kServiceUnitName}, error);
    }

    bool start(std::string* error) override {
        return step({"--user", "start", kServiceUnitName}, error);
    }

    bool isThisProcessTheService() override {
        const auto invocation = fs::getEnv("INVOCATION_ID");
        if (!invocation || invocation->empty()) {
            return false;
        }
        // SYSTEMD_EXEC_PID is inherited by our children; the cgroup covers older systemd
        // versions that do not set it.
        if (const auto pid = fs::getEnv("SYSTEMD_EXEC_PID")) {
            int value = 0;
            const char* end = pid->data() + pid->size();
            const auto parsed = std::from_chars(pid->data(), end, value);
            if (parsed.ec == std::errc() && parsed.ptr == end && value == currentProcessId()) {
                return true;
            }
        }
        return cgroupIsTheUnit(fs::readFile("/proc/self/cgroup").value_or(""));
    }

    // syslog has no event ids; the text carries the whole message.
    void logEvent(int type, int /*id*/, const std::string& text) override {
        ::openlog("kestrel", LOG_PID, LOG_USER);
        ::syslog(type == kErrorEventType ? LOG_ERR : LOG_INFO, "%s", text.c_str());
        ::closelog();
    }

private:
    std::string unitPath() const { return fs::join(m_unitFolder, kServiceUnitName); }

    std::string m_unitFolder;
};

}  // namespace

std::string serviceUnitText(const std::string& executable, const std::optional<std::string>& home) {
    std::string command;
    if (systemdRefusesAsExecutable(executable)) {
        // The shell replaces itself with the program, so the service's main process stays ours.
        command = "/bin/sh -c \"exec \\\"$$0\\\" \\\"$$@\\\"\" " + unitWord(executable, true);
    } else {
        command = unitWord(executable, false);
    }
    std::string text =
        "[Unit]\n"
        "Description=Kestrel service\n"
        "\n"
        "[Service]\n"
        "Type=simple\n"
        "ExecStart=" +
        command + " /service start\n";
    if (home && !home->empty()) {
        text += "Environment=" + unitWord("KESTREL_HOME=" + *home, false) + "\n";
    }
    // SIGTERM reaches the program alone first; a backup it aborts needs time to end cleanly.
    text +=
        "KillMode=mixed\n"
        "TimeoutStopSec=120\n"
        "Restart=on-failure\n"
        "\n"
        "[Install]\n"
        "WantedBy=default.target\n";
    return text;
}

std::unique_ptr<ServiceManager> makeSystemdUserManager(std::string unitFolder) {
    return std::make_unique<SystemdUserManager>(unitFolder.empty() ? defaultUnitFolder()
                                                                   : std::move(unitFolder));
}

}  // namespace kestrel
