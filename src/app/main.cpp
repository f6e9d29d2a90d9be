// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QCoreApplication>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "app/desktop.h"
#include "app/headless_host.h"
#include "app/program.h"
#include "app/stop_signals.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "ui/notify.h"
#include "ui/qt_host.h"

namespace {

std::string executablePath(const char* argv0) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        return self.string();
    }
    return std::filesystem::absolute(argv0, ec).string();
}

bool hasDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    // A chosen Qt platform (offscreen, for tests and screenshots) counts as a display.
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

constexpr const char* kLockVariable = "KESTREL_INSTANCE_LOCK_FD";
constexpr const char* kShowVariable = "KESTREL_SHOW_WINDOW";

// What an instance that replaced itself left for its new image; gone from the environment after,
// so that no child sees it.
std::optional<int> takeInheritedLock() {
    const char* text = std::getenv(kLockVariable);
    std::optional<int> fd;
    if (text != nullptr) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value >= 0 && value < 65536) {
            fd = static_cast<int>(value);
        }
    }
    ::unsetenv(kLockVariable);
    return fd;
}

bool takeShowWindow() {
    const char* text = std::getenv(kShowVariable);
    const bool show = text != nullptr && std::string(text) == "1";
    ::unsetenv(kShowVariable);
    return show;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel;
    std::vector<std::string> args(argv + 1, argv + argc);
    // Before anything starts: these need neither a display nor a program folder.
    if (const auto code = answerOptions(args, std::cout, std::cerr)) {
        return *code;
    }
    SystemClock clock;
    auto services = makeSystemdUserManager();
    const char* home = std::getenv("KESTREL_HOME");
    const std::optional<int> inheritedLock = takeInheritedLock();
    const bool showWindow = takeShowWindow();
    // The windows need a display; the service and a machine without a desktop run headless.
    const bool display = hasDisplay();
    std::optional<QApplication> app;
    // Headless, for the desktop notifications over the session bus alone.
    std::optional<QCoreApplication> core;
    std::optional<ui::QtHost> qtHost;
    std::optional<WindowedDesktop> desktop;
    HeadlessHost headless(std::cerr);
    if (display) {
        app.emplace(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        qtHost.emplace();
        // Until the main window is up, the command line's messages are boxes.
        qtHost->setAskWithoutWindow(true);
        desktop.emplace(*qtHost);
    } else {
        core.emplace(argc, argv);
    }
    // Qt sets the C library's locale from the environment: the numbers that the program formats
    // and reads itself keep their decimal point.
    std::setlocale(LC_NUMERIC, "C");
    Host& host = display ? static_cast<Host&>(*qtHost) : headless;
    ProgramEnv env{ProgramFolder::resolve(std::nullopt), clock, host, display ? nullptr : &headless,
                   *services};
    if (display) {
        env.desktop = &*desktop;
    } else {
        env.notifyDesktop = [](const std::string& summary, const std::string& body, bool failure) {
            (void)ui::desktopNotify(summary, body, failure);
        };
    }
    env.executable = executablePath(argv[0]);
    if (home != nullptr && *home != '\0') {
        env.homeFromEnvironment = std::filesystem::absolute(home).string();
    }
    env.inheritedLock = inheritedLock;
    env.showWindow = showWindow;
    env.reexec = [argv](const std::vector<std::string>& environment, int lockFd,
                        std::string* error) {
        std::vector<std::string> variables = environment;
        std::string lock = kLockVariable;
        lock += '=';
        lock += std::to_string(lockFd);
        variables.push_back(std::move(lock));
        std::string show = kShowVariable;
        show += "=1";
        variables.push_back(std::move(show));
        *error = restartInPlace(argv, variables);
    };
    watchStopSignals(env);
    return StartProgram(args, env);
}
