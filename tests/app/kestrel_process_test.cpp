// SPDX-License-Identifier: GPL-3.0-or-later
// The kestrel program as a user and the service manager start it: one instance per program
// folder, and a service stop in the middle of a run.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <utility>

#include "core/app_context.h"
#include "support/faults.h"
#include "support/job_builder.h"
#include "support/program.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

using Clock = std::chrono::steady_clock;

class KestrelProcessTest : public ::testing::Test {
protected:
    test::TestContext t;
    test::TempDir sandbox;  // a fake systemctl, the user manager's runtime folder, the config

    void SetUp() override {
        // A user manager that answers, as far as the program can tell.
        sandbox.write("runtime/systemd/private", "");
        sandbox.write("bin/systemctl", "#!/bin/sh\nexit 0\n");
        std::filesystem::permissions(sandbox.file("bin/systemctl"),
                                     std::filesystem::perms::owner_all);
    }
    std::vector<std::string> kestrel(const std::vector<std::string>& args,
                                     const std::vector<std::string>& extraEnv = {}) const {
        std::vector<std::string> argv = {"/usr/bin/env"};
        for (const char* unset : {"INVOCATION_ID", "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                  "DBUS_SESSION_BUS_ADDRESS"})
            argv.insert(argv.end(), {"-u", unset});
        argv.insert(argv.end(),
                    {"KESTREL_HOME=" + t.home(), "XDG_RUNTIME_DIR=" + sandbox.file("runtime"),
                     "XDG_CONFIG_HOME=" + sandbox.file("config"),
                     "PATH=" + sandbox.file("bin") + ":/usr/bin:/bin"});
        argv.insert(argv.end(), extraEnv.begin(), extraEnv.end());
        argv.push_back(std::string(KESTREL_BINARY_DIR) + "/bin/kestrel");
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    size_t count(const std::string& text) const {
        const std::string log = t.logFile();
        size_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
            ++n;
        }
        return n;
    }
    // Waits for the program to write a log line (it logs as it goes), woken by each change in
    // the log's folder; false after a minute.
    bool waitForLog(const std::string& text, size_t times = 1) const {
        const std::string folder =
            std::filesystem::path(t.ctx->log.filePath()).parent_path().string();
        std::filesystem::create_directories(folder);
        const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        EXPECT_GE(fd, 0);
        EXPECT_GE(::inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO), 0);
        const auto end = Clock::now() + std::chrono::seconds(60);
        bool found = false;
        while (!found) {
            found = count(text) >= times;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            if (found || left.count() <= 0) {
                break;
            }
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(left.count())) > 0) {
                char events[4096];
                while (::read(fd, events, sizeof events) > 0) {
                }
            }
        }
        ::close(fd);
        return found;
    }
    test::ProgramResult cli(std::vector<std::string> args) const {
        args.insert(args.begin(), {test::cliPath(), "--home", t.home()});
        return test::runProgram(args);
    }
};

TEST_F(KestrelProcessTest, AServiceStopDuringALongRunAbortsItAndKeepsEverySession) {
    // A first session, small; then enough to keep a compressed run busy for a while.
    const std::string first = sandbox.write("src/first.txt", "first session");
    std::filesystem::create_directories(sandbox.file("dest"));
    ASSERT_EQ(
        cli({"new", "--name", "Job", "--source", sandbox.file("src"), "--dest",
             sandbox.file("dest"), "--type", "incremental", "--storage", "compressed", "--split",
             "4M", "--schedule", "hourly:00", "--schedule-from", "2020-01-01 00:00"})
            .code,
        0);
    ASSERT_EQ(cli({"run", "Job"}).code, 0);
    for (int i = 0; i < 3; ++i) {
        sandbox.write("src/big" + std::to_string(i) + ".bin", test::noise(300'000, i));
    }
    // Missed runs are caught up at start: as if the last good run was long ago.
    ASSERT_TRUE(t.ctx->settings.saveGeneral("CatchUpMissedRuns", "1"));
    test::setStoredValue(t.ctx->storePath(), "Job", "OKLast", "202001010000");

    // Started as the service manager starts it: this very process is the unit's main process.
    // The run stops itself at its first write of a volume, where the service's stop reaches it.
    std::vector<std::string> argv = {"/bin/sh", "-c", "SYSTEMD_EXEC_PID=$$ exec \"$@\"", "sh"};
    for (const std::string& a : test::withFaults(
             kestrel({"/service", "start"}, {"INVOCATION_ID=test"}),
             {{"KESTREL_FAULT_MATCH", ".uxarc"}, {"KESTREL_FAULT_STOP_AT_WRITE", "1"}})) {
        argv.push_back(a);
    }
    test::Program service(argv);
    ASSERT_TRUE(service.waitStopped()) << t.logFile();
    service.signal(SIGTERM);
    service.signal(SIGCONT);
    const test::ProgramResult r = service.wait();
    EXPECT_EQ(r.code, 0) << r.err;
    for (const char* line : {"Kestrel started as a service ...", "missed its scheduled run",
                             "Kestrel service stopped!", "Program closed!"}) {
        EXPECT_EQ(count(line), 1u) << line;
    }

    // The store says how the run ended; the earlier session is whole.
    EXPECT_NE(cli({"list"}).out.find("aborted"), std::string::npos) << cli({"list"}).out;
    const test::ProgramResult verified = cli({"verify", sandbox.file("dest/Job.fs")});
    EXPECT_EQ(verified.code, 0) << verified.out;
    const test::ProgramResult restored =
        cli({"restore", "Job", first, "--to", sandbox.file("back")});
    EXPECT_EQ(restored.code, 0) << restored.err;
    EXPECT_EQ(test::readAll(sandbox.file("back") + first), "first session");
}

// Answered before anything starts (no program folder made, no display needed); a service command
// line without a service manager fails saying so.
TEST_F(KestrelProcessTest, OptionsAnswerAtOnceAndServiceCommandsNeedAManager) {
    for (const auto& [option, code] : {std::pair{"--help", 0}, std::pair{"--bogus", 2}}) {
        const std::string never = "KESTREL_HOME=" + sandbox.file("never");
        EXPECT_EQ(test::runProgram(kestrel({option}, {never})).code, code) << option;
    }
    EXPECT_FALSE(std::filesystem::exists(sandbox.file("never")));

    std::filesystem::remove(sandbox.file("runtime/systemd/private"));
    sandbox.write("bin/systemctl", "#!/bin/sh\necho offline\nexit 1\n");
    const test::ProgramResult r = test::runProgram(kestrel({"/i"}));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("No user service manager"), std::string::npos) << r.err;
    EXPECT_EQ(count("No user service manager"), 1u);
}

// tests/app/notification_server.py: a notification server on a session bus of its own. Its
// first line names the bus and its process; it ends by itself after two minutes.
class NotificationServer {
public:
    NotificationServer() { std::istringstream(line().value_or("")) >> address >> m_pid; }
    ~NotificationServer() { end(); }
    // The next line; nothing once the server ended.
    std::optional<std::string> line() {
        char text[4096];
        if (m_out == nullptr || std::fgets(text, sizeof text, m_out) == nullptr) {
            return std::nullopt;
        }
        const std::string read(text);
        return read.ends_with('\n') ? read.substr(0, read.size() - 1) : read;
    }
    // Stops the server; what it printed that was not read yet.
    std::vector<std::string> end() {
        if (m_pid > 0) {
            ::kill(std::exchange(m_pid, 0), SIGTERM);
        }
        std::vector<std::string> rest;
        while (auto text = line()) {
            rest.push_back(*text);
        }
        if (m_out != nullptr) {
            ::pclose(std::exchange(m_out, nullptr));
        }
        return rest;
    }

    std::string address;

private:
    FILE* m_out = ::popen(("/usr/bin/python3 " + std::string(KESTREL_SOURCE_DIR) +
                           "/tests/app/notification_server.py 2>/dev/null")
                              .c_str(),
                          "re");
    int m_pid = 0;
};

// The headless program tells the desktop of a failed scheduled run, and of the first good one
// after it, once each.
TEST_F(KestrelProcessTest, TheServiceNotifiesAFailedScheduledRunAndTheNextGoodOne) {
    NotificationServer server;
    if (server.address.empty()) {
        GTEST_SKIP() << "python3-dbus, python3-gi or dbus-daemon is missing";
    }
    sandbox.write("src/a.txt", "a");
    std::filesystem::create_directories(sandbox.file("dest"));
    const std::string source = sandbox.file("src");
    ASSERT_EQ(cli({"new", "--name", "Job", "--source", source, "--dest", sandbox.file("dest"),
                   "--schedule", "hourly:00", "--schedule-from", "2020-01-01 00:00"})
                  .code,
              0);
    // Never run: each start catches up the missed hour.
    ASSERT_TRUE(t.ctx->settings.saveGeneral("CatchUpMissedRuns", "1"));
    std::filesystem::rename(source, source + ".away");
    for (const std::string& told :
         {"Kestrel|kestrel|2|kestrel|Backup of Job failed!|FAIL: Can't read folder " + source,
          std::string("Kestrel|kestrel|1|kestrel|Backup of Job finished successfully again, "
                      "after failed runs.|")}) {
        test::Program service(kestrel({}, {"DBUS_SESSION_BUS_ADDRESS=" + server.address}));
        EXPECT_EQ(server.line().value_or("").substr(0, told.size()), told) << t.logFile();
        service.signal(SIGTERM);
        EXPECT_EQ(service.wait().code, 0);
        std::error_code back;  // the source is back for the second start
        std::filesystem::rename(source + ".away", source, back);
    }
    EXPECT_EQ(server.end(), std::vector<std::string>{}) << "a run told twice";
}

// The environment of a running process, or "" when it is gone.
std::string environmentOf(int pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/environ";
    return std::filesystem::exists(path) ? test::readAll(path) : "";
}

// One instance per program folder: a headless one opens its window for a user who starts the
// desktop program, and one killed leaves no lock behind.
TEST_F(KestrelProcessTest, OneInstancePerFolderThatOpensItsWindowForADesktopAndNoStaleLock) {
    test::Program first(kestrel({}));
    ASSERT_TRUE(waitForLog("backup items loaded!"));
    const test::ProgramResult user = test::runProgram(kestrel({}, {"QT_QPA_PLATFORM=offscreen"}));
    EXPECT_EQ(user.code, 0) << user.err;
    ASSERT_TRUE(waitForLog("A desktop asked for the window")) << t.logFile();

    // The same process, now with the desktop's platform and still the one instance.
    ASSERT_TRUE(waitForLog("backup items loaded!", 2)) << t.logFile();
    EXPECT_NE(environmentOf(first.pid()).find("QT_QPA_PLATFORM=offscreen"), std::string::npos);
    const std::string before = t.logFile();
    EXPECT_EQ(test::runProgram(kestrel({})).code, 0);
    EXPECT_EQ(test::runProgram(kestrel({}, {"QT_QPA_PLATFORM=offscreen"})).code, 0);
    EXPECT_EQ(t.logFile(), before) << "a second instance started";

    first.signal(SIGKILL);
    EXPECT_EQ(first.wait().code, 128 + SIGKILL);
    test::Program third(kestrel({}));
    ASSERT_TRUE(waitForLog("backup items loaded!", 3)) << "the dead instance's lock stayed";
    third.signal(SIGTERM);
    const test::ProgramResult ended = third.wait();
    EXPECT_EQ(ended.code, 0) << ended.err;
    EXPECT_EQ(count("Program closed!"), 1u) << t.logFile() << ended.err;
}

}  // namespace
}  // namespace kestrel
