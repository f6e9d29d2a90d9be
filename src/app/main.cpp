#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/desktop.h"
#include "app/headless_host.h"
#include "app/program.h"
#include "app/stop_signals.h"
#include "platform/clock.h"
#include "platform/service_manager.h"
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

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel;
    SystemClock clock;
    auto services = makeSystemdUserManager();
    const char* home = std::getenv("KESTREL_HOME");
    // The windows need a display; the service and a machine without a desktop run headless.
    const bool display = hasDisplay();
    std::optional<QApplication> app;
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
    }
    Host& host = display ? static_cast<Host&>(*qtHost) : headless;
    ProgramEnv env{ProgramFolder::resolve(std::nullopt), clock, host, display ? nullptr : &headless,
                   *services};
    if (display) {
        env.desktop = &*desktop;
    }
    env.executable = executablePath(argv[0]);
    if (home != nullptr && *home != '\0') {
        env.homeFromEnvironment = std::filesystem::absolute(home).string();
    }
    watchStopSignals(env);
    std::vector<std::string> args(argv + 1, argv + argc);
    return StartProgram(args, env);
}
