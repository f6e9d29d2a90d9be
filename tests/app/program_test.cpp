// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "core/app_context.h"
#include "core/version.h"
#include "platform/file_lock.h"
#include "platform/instance_channel.h"
#include "platform/service_manager.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

// Records every call in order; answers as the test sets.
class FakeServices : public ServiceManager {
public:
    bool available() override { return present; }
    bool install(const std::string& exe, const std::optional<std::string>& home,
                 std::string*) override {
        return record("install " + exe + (home ? " " + *home : ""), installs);
    }
    bool uninstall(std::string*) override { return record("uninstall", true); }
    bool running() override { return active; }
    bool stop(std::string*) override { return record("stop", true); }
    bool start(std::string*) override { return record("start", true); }
    bool isThisProcessTheService() override { return record("start service", false); }
    void logEvent(int type, int id, const std::string& text) override {
        record("event " + std::to_string(type) + "/" + std::to_string(id) + " " + text, true);
    }

    bool present = true;
    bool installs = true;
    bool active = false;
    std::vector<std::string> calls;

private:
    bool record(const std::string& call, bool answer) {
        calls.push_back(call);
        return answer;
    }
};

class ProgramTest : public ::testing::Test {
protected:
    test::TestContext t;
    FakeServices services;
    int ticks = 0;
    int runAsServiceSeen = -1;

    // Runs the program until its loop has ticked twice (or it ended before).
    int start(const std::vector<std::string>& args) {
        ProgramEnv env{ProgramFolder(t.home()), t.clock, t.host, nullptr, services};
        env.executable = "/opt/kestrel/bin/kestrel";
        env.stopRequested = [] { return false; };
        env.waitForStop = [&](std::chrono::milliseconds ms) {
            t.clock.advanceMs(static_cast<std::uint64_t>(ms.count()));
            return ticks >= 2;
        };
        env.afterTick = [&](AppContext& ctx) {
            ++ticks;
            runAsServiceSeen = ctx.settings.RunAsService;
        };
        return StartProgram(args, env);
    }
};

TEST_F(ProgramTest, InstallAndUninstallSetTheFlagAndTheSettingAsTheirOutcome) {
    t.host.answers = {MsgAnswer::Yes};
    EXPECT_EQ(start({"/i"}), 0);
    EXPECT_EQ(services.calls, std::vector<std::string>{"install /opt/kestrel/bin/kestrel"});
    EXPECT_EQ(ticks, 0) << "quit after the command";
    EXPECT_EQ(t.ctx->settings.general("RunAsService"), "1");

    // Removed while running, the quit declined: the flag follows, the setting stays, and the
    // program goes on with its normal start.
    services.calls.clear();
    services.active = true;
    t.host.answers = {MsgAnswer::Ok, MsgAnswer::No};
    EXPECT_EQ(start({"/u"}), 0);
    EXPECT_EQ(services.calls,
              (std::vector<std::string>{"stop", "uninstall", "event 109/1 Uninstallservice->[0]"}));
    EXPECT_EQ(runAsServiceSeen, 0);
    EXPECT_EQ(t.ctx->settings.general("RunAsService"), "1");

    // A failed install stores "0".
    services.installs = false;
    t.host.answers = {MsgAnswer::Ok, MsgAnswer::Yes};
    t.host.boxes.clear();
    EXPECT_EQ(start({"/i"}), 1);
    EXPECT_EQ(t.host.boxes.front().text, "Kestrel service failed to install!");
    EXPECT_EQ(t.ctx->settings.general("RunAsService"), "0");
}

// Without a service manager a service command line is refused, not taken for a plain start.
TEST_F(ProgramTest, ServiceCommandLinesWithoutAServiceManagerFailSayingSo) {
    services.present = false;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"/i"}, {"/u"}, {"/service", "stop"}, {"/service restart"}}) {
        const std::string told = "No user service manager (systemd --user) runs here: \"" +
                                 commandLineText(args) + "\" cannot be carried out.";
        t.host.boxes.clear();
        EXPECT_EQ(start(args), 1);
        ASSERT_EQ(t.host.boxes.size(), 1u);
        EXPECT_EQ(t.host.boxes[0].text, told);
        EXPECT_TRUE(t.logged(told));
    }
    EXPECT_EQ(ticks, 0);
    EXPECT_TRUE(services.calls.empty());
    EXPECT_FALSE(std::filesystem::exists(t.dir.file("kestrel.lock")));
}

TEST(ProgramOptions, HelpAndVersionAnswerAndAnyOtherOptionIsRefused) {
    struct Case {
        std::vector<std::string> args;
        std::optional<int> code;
        std::string out;
        std::string err;
    };
    const std::string usage = helpText().substr(0, helpText().find("\n\n") + 1);
    const Case cases[] = {
        {{"--help"}, 0, helpText(), ""},
        {{"/i", "-h", "--bogus"}, 0, helpText(), ""},
        {{"-V"}, 0, "kestrel " + versionText() + "\n", ""},
        {{"--bogus", "--help"}, 2, "", "kestrel: unknown option \"--bogus\"\n" + usage},
        {{"/service", "-"}, 2, "", "kestrel: unknown option \"-\"\n" + usage},
        {{"--HELP"}, 2, "", "kestrel: unknown option \"--HELP\"\n" + usage},
        // The command lines stay the program's, the unknown ones included.
        {{"/I"}, std::nullopt, "", ""},
        {{}, std::nullopt, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(commandLineText(c.args));
        std::ostringstream out, err;
        EXPECT_EQ(answerOptions(c.args, out, err), c.code);
        EXPECT_EQ(out.str(), c.out);
        EXPECT_EQ(err.str(), c.err);
    }
}

// A plain second start ending silently is the process test's to show.
TEST_F(ProgramTest, ControlCommandsReachPastARunningInstanceAndLeaveItsFolderAlone) {
    t.dir.write("temp/half-written.uxarc", "a running backup's");
    FileLock running;
    ASSERT_EQ(running.tryLock(t.home() + "/kestrel.lock"), FileLock::Result::Acquired);

    t.host.askable = false;  // nobody there: the quit question takes its default, yes
    EXPECT_EQ(start({"/service", "restart"}), 0);
    EXPECT_EQ(services.calls, (std::vector<std::string>{"stop", "start"}));
    EXPECT_TRUE(std::filesystem::exists(t.dir.file("temp/half-written.uxarc")));
}

// A second start's words, as it sends them to the running instance.
bool sendToInstance(const std::string& path, const std::string& text) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::copy(path.begin(), path.end(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool sent =
        fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) {
        ::close(fd);
    }
    return sent;
}

TEST_F(ProgramTest, AHeadlessInstanceAskedForItsWindowReopensOnThatDesktopKeepingItsLock) {
    std::vector<std::vector<std::string>> reopened;
    bool lockKept = false;
    bool cloexecCleared = false;
    ProgramEnv env{ProgramFolder(t.home()), t.clock, t.host, nullptr, services};
    env.stopRequested = [] { return false; };
    env.waitForStop = [&](std::chrono::milliseconds) { return ticks >= 3; };
    env.afterTick = [&](AppContext&) {
        if (++ticks == 1) {
            const std::string socket = instanceSocketPath(t.home());
            // Not a desktop: nothing to open the window on.
            EXPECT_TRUE(sendToInstance(socket, "show\nHOME=/x\n"));
            // Only the desktop's variables pass; the rest could steer the new image.
            EXPECT_TRUE(sendToInstance(socket,
                                       "show\nDISPLAY=:5\nLD_PRELOAD=/tmp/evil.so\nDISPLAY=:6\n"
                                       "junk\nQT_QPA_PLATFORM=offscreen"));
        }
    };
    env.reexec = [&](const std::vector<std::string>& environment, int fd, std::string* error) {
        reopened.push_back(environment);
        cloexecCleared = (::fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0;
        FileLock rival;
        lockKept = rival.tryLock(t.home() + "/kestrel.lock") == FileLock::Result::Busy;
        *error = "no such program";
    };
    EXPECT_EQ(StartProgram({}, env), 0);

    ASSERT_EQ(reopened.size(), 1u) << t.logFile();
    EXPECT_EQ(reopened[0], (std::vector<std::string>{"DISPLAY=:5", "QT_QPA_PLATFORM=offscreen"}));
    EXPECT_TRUE(cloexecCleared);
    EXPECT_TRUE(lockKept);
    // The failed reopening is told and the instance goes on headless to its normal end.
    EXPECT_TRUE(t.loggedContaining("Cannot open the window on the desktop: no such program"));
    EXPECT_EQ(ticks, 3);
    EXPECT_TRUE(t.logged("Program closed!"));
}

TEST_F(ProgramTest, AStoreThatCannotBeLoadedEndsTheStart) {
    std::filesystem::create_directories(t.dir.file("backups.ini"));
    EXPECT_EQ(start({}), 1);
    ASSERT_FALSE(t.host.boxes.empty());
    EXPECT_EQ(t.host.boxes.back().text, "Could not initialize system variables! Quitting ...");
}

}  // namespace
}  // namespace kestrel
