#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/headless_host.h"
#include "app/program.h"
#include "platform/clock.h"
#include "platform/service_manager.h"
#include "platform/signals.h"

namespace {

std::string executablePath(const char* argv0) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        return self.string();
    }
    return std::filesystem::absolute(argv0, ec).string();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrel;
    signals::catchStopSignals();
    SystemClock clock;
    HeadlessHost host(std::cerr);
    auto services = makeSystemdUserManager();
    const char* home = std::getenv("KESTREL_HOME");
    ProgramEnv env{ProgramFolder::resolve(std::nullopt), clock, host, &host, *services};
    env.executable = executablePath(argv[0]);
    if (home != nullptr && *home != '\0') {
        env.homeFromEnvironment = std::filesystem::absolute(home).string();
    }
    env.stopRequested = [] { return signals::caughtStopSignal() != 0; };
    env.waitForStop = [](std::chrono::milliseconds atMost) {
        // A signal handler cannot wake a waiter: look every tenth of a second.
        const auto end = std::chrono::steady_clock::now() + atMost;
        while (signals::caughtStopSignal() == 0) {
            const auto left = end - std::chrono::steady_clock::now();
            if (left <= std::chrono::milliseconds(0)) {
                return false;
            }
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                left, std::chrono::milliseconds(100)));
        }
        return true;
    };
    std::vector<std::string> args(argv + 1, argv + argc);
    return StartProgram(args, env);
}
