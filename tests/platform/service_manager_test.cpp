// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/service_manager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/fs.h"
#include "platform/process.h"
#include "platform/program_folder.h"
#include "platform/text.h"
#include "support/process_state.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using test::ScopedEnv;

TEST(ProgramFolder, HomeComesFromTheOptionThenTheEnvironment) {
    ScopedEnv home("KESTREL_HOME", "/env/kestrel");
    EXPECT_EQ(ProgramFolder::resolve(std::string("/opt/k")).home(), "/opt/k");
    EXPECT_EQ(ProgramFolder::resolve(std::nullopt).home(), "/env/kestrel");
}

using Calls = std::vector<std::string>;

// A systemctl logging to "calls"; files "active", "state" and "fail" script its answers.
const char* kFakeSystemctl = R"sh(#!/bin/sh
d=$(dirname "$0")/..
echo "$*" >> "$d/calls"
case "$2" in
is-active) [ -f "$d/active" ] || exit 3; exit 0 ;;
is-system-running) [ -f "$d/state" ] && cat "$d/state"; exit 1 ;;
esac
if [ "$2" = "$(cat "$d/fail" 2>/dev/null)" ]; then
    echo "Failed to $2: no such unit" >&2
    exit 4
fi
exit 0
)sh";

class ServiceManagerTest : public ::testing::Test {
protected:
    ServiceManagerTest() {
        std::filesystem::permissions(dir.write("bin/systemctl", kFakeSystemctl),
                                     std::filesystem::perms::owner_all);
    }
    std::vector<std::string> takeCalls() {
        std::string calls = test::readAll(dir.file("calls"));
        std::filesystem::remove(dir.file("calls"));
        if (calls.empty()) {
            return {};
        }
        calls.pop_back();  // the last line end
        return text::split(calls, '\n');
    }

    test::TempDir dir;
    ScopedEnv path{"PATH", dir.file("bin") + ":" + fs::getEnv("PATH").value_or("/usr/bin:/bin")};
    const std::string unit = dir.file("units/kestrel.service");
    std::unique_ptr<ServiceManager> manager = makeSystemdUserManager(dir.file("units"));
};

TEST_F(ServiceManagerTest, InstallFailsNamingTheFailingStep) {
    std::string error;
    dir.write("fail", "enable");
    EXPECT_FALSE(manager->install("/opt/kestrel", std::nullopt, &error));
    EXPECT_EQ(takeCalls().size(), 2u);
    EXPECT_NE(error.find("enable --now kestrel.service failed with exit code 4: Failed to enable"),
              error.npos)
        << error;

    dir.write("fail", "daemon-reload");
    EXPECT_FALSE(manager->install("/opt/kestrel", std::nullopt, &error));
    EXPECT_EQ(takeCalls(), Calls{"--user daemon-reload"});  // no enable after a failed reload

    EXPECT_FALSE(manager->install("bin/kestrel", std::nullopt, &error));
    EXPECT_FALSE(makeSystemdUserManager(dir.write("blocked", "") + "/units")
                     ->install("/opt/kestrel", std::nullopt, &error));
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(ServiceManagerTest, AUnitInstalledWithTheProgramIsEnabledAsItIsUnlessTheFolderDiffers) {
    const std::string packaged = dir.file("usr/bin/kestrel");
    dir.write("usr/lib/systemd/user/kestrel.service", "[Service]\n");
    dir.write("units/kestrel.service", "an earlier install's, which would hide the package's");
    ASSERT_TRUE(manager->install(packaged, std::nullopt, nullptr));
    EXPECT_EQ(takeCalls(), (Calls{"--user daemon-reload", "--user enable --now kestrel.service"}));
    EXPECT_FALSE(fs::exists(unit));

    // Another program folder, or a program that no installed unit starts: a unit of the user's.
    for (const auto& [executable, home] :
         {std::pair{packaged, std::optional<std::string>("/data")},
          std::pair{dir.file("build/bin/kestrel"), std::optional<std::string>()}}) {
        ASSERT_TRUE(manager->install(executable, home, nullptr));
        EXPECT_EQ(takeCalls().size(), 2u);
        EXPECT_EQ(test::readAll(unit), serviceUnitText(executable, home));
        std::filesystem::remove(unit);
    }
}

TEST_F(ServiceManagerTest, UninstallStopsOnlyARunningServiceAndRemovesTheUnit) {
    ASSERT_TRUE(manager->install("/opt/kestrel", std::nullopt, nullptr));
    takeCalls();
    dir.write("active", "");
    std::string error;
    EXPECT_TRUE(manager->uninstall(&error)) << error;
    EXPECT_EQ(takeCalls(),
              (Calls{"--user is-active --quiet kestrel.service", "--user stop kestrel.service",
                     "--user disable kestrel.service", "--user daemon-reload"}));
    EXPECT_FALSE(fs::exists(unit));

    std::filesystem::remove(dir.file("active"));
    EXPECT_TRUE(manager->uninstall(&error)) << error;  // an absent unit file counts as removed
    EXPECT_EQ(takeCalls(), (Calls{"--user is-active --quiet kestrel.service",
                                  "--user disable kestrel.service", "--user daemon-reload"}));

    // A failing step fails the whole, but the later ones are still done.
    ASSERT_TRUE(manager->install("/opt/kestrel", std::nullopt, nullptr));
    takeCalls();
    dir.write("fail", "disable");
    EXPECT_FALSE(manager->uninstall(&error));
    EXPECT_NE(error.find("disable kestrel.service failed with exit code 4"), error.npos) << error;
    EXPECT_EQ(takeCalls().back(), "--user daemon-reload");
    EXPECT_FALSE(fs::exists(unit));
}

TEST_F(ServiceManagerTest, RunningAndAvailableAreWhatSystemctlTellsAndNothingWithoutIt) {
    EXPECT_FALSE(manager->running());
    dir.write("active", "");
    EXPECT_TRUE(manager->running());
    // Without the manager's socket only a state that systemctl printed counts, whatever its exit.
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.file("run"));
    EXPECT_FALSE(manager->available());
    dir.write("state", "offline\n");
    EXPECT_FALSE(manager->available());
    dir.write("state", "degraded\n");
    EXPECT_TRUE(manager->available());
    std::filesystem::remove(dir.file("state"));
    dir.write("run/systemd/private", "");
    EXPECT_TRUE(manager->available());
    std::filesystem::remove(dir.file("run/systemd/private"));

    // Without systemctl nothing succeeds.
    ScopedEnv emptyPath("PATH", dir.file("units"));
    std::string error;
    EXPECT_FALSE(manager->install("/opt/kestrel", std::nullopt, &error));
    EXPECT_NE(error.find("systemctl was not found on PATH"), error.npos) << error;
    EXPECT_FALSE(manager->running());
    EXPECT_FALSE(manager->available());
}

TEST_F(ServiceManagerTest, OddPathsAreEscapedSoThatSystemdAcceptsTheUnit) {
    const std::string blank = dir.file("odd 100% $HOME/kestrel");
    const std::string quote = dir.file("it's \"odd\" $1\\/kestrel");
    const std::string home = dir.file("data 5% \"x\"");
    EXPECT_NE(serviceUnitText(blank, home)
                  .find("Environment=\"KESTREL_HOME=" + dir.path() + "/data 5%% \\\"x\\\"\"\n"),
              std::string::npos);

    const std::string noHome = serviceUnitText("/opt/kestrel", std::nullopt);
    EXPECT_EQ(noHome.find("Environment="), std::string::npos);
    EXPECT_NE(noHome.find("\n[Install]\nWantedBy=default.target\n"), std::string::npos);

    const std::string analyze = "/usr/bin/systemd-analyze";
    if (!fs::isRegularFile(analyze)) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    auto verify = [&](const std::string& text) {
        fs::removeLeftover(unit);
        EXPECT_TRUE(fs::makeDirs(dir.file("units")) && fs::writeFileAtomic(unit, text, 0644));
        return runProcess({analyze, "verify", unit}, nullptr);
    };
    // Each escaped path must name its executable as systemd reads it (quotes via the shell).
    for (const std::string& executable : {blank, quote}) {
        ASSERT_TRUE(fs::makeDirs(fs::parentOf(executable)));
        ASSERT_TRUE(
            fs::copyFile("/bin/true", executable, nullptr, nullptr, fs::CopyMode::OwnerBits));
        EXPECT_EQ(verify(serviceUnitText(executable, home)), 0) << executable;
    }
    // The same path written as it is names another, missing executable.
    EXPECT_NE(verify("[Service]\nExecStart=" + blank + " /service start\n"), 0);
}

TEST(ServiceIdentity, OnlyTheProcessSystemdStartedIsTheService) {
    const auto manager = makeSystemdUserManager("/nonexistent");
    const std::string self = std::to_string(currentProcessId());
    {
        ScopedEnv invocation("INVOCATION_ID", std::nullopt);
        ScopedEnv pid("SYSTEMD_EXEC_PID", self);
        EXPECT_FALSE(manager->isThisProcessTheService());
    }
    ScopedEnv invocation("INVOCATION_ID", "0123456789abcdef0123456789abcdef");
    {
        ScopedEnv pid("SYSTEMD_EXEC_PID", self);
        EXPECT_TRUE(manager->isThisProcessTheService());
    }
    ASSERT_EQ(test::readAll("/proc/self/cgroup").find("/kestrel.service"), std::string::npos);
    for (const std::string& foreign :
         Calls{std::to_string(currentProcessId() + 1), self + "x", ""}) {
        ScopedEnv pid("SYSTEMD_EXEC_PID", foreign);
        EXPECT_FALSE(manager->isThisProcessTheService()) << foreign;
    }
}

}  // namespace
}  // namespace kestrel
