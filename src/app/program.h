// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/service_notices.h"
#include "platform/program_folder.h"

namespace kestrel {

struct AppContext;
class Clock;
class HeadlessHost;
class Host;
class JobRunner;
class RunnerScheduler;
class ServiceManager;

// What the windows get from the program's life cycle.
struct DesktopParts {
    AppContext& ctx;
    JobRunner& runner;
    RunnerScheduler& scheduler;
    bool servicesAvailable = false;
    std::function<bool()> installService = {};
    std::function<bool()> uninstallService = {};
    // The question "Do you really want to quit?"; true for yes.
    std::function<bool()> askQuit = {};
    // The last steps of the quit, after the runner let go: the log lines.
    std::function<void()> closeProgram = {};
    // Whether a stop signal came.
    std::function<bool()> stopRequested = {};
    // A user asked for the window (a headless instance reopened on their desktop): shown even
    // when the settings start it hidden.
    bool showWindow = false;
};

// The windows of the program when there is a display; without one the program runs headless.
class Desktop {
public:
    virtual ~Desktop() = default;
    // A second start in the same program folder: asks the running instance to show its main
    // window. True when it answered.
    virtual bool showRunningInstance(const ProgramFolder& folder) = 0;
    // Splash, main window and the event loop, until the program quits.
    virtual void run(DesktopParts& parts) = 0;
};

// What the program runs with, so that a test can give it a fake clock, host and service manager.
struct ProgramEnv {
    ProgramFolder folder;
    Clock& clock;
    Host& host;
    // The same host when it is the headless one (its yields then serve the program's loop),
    // else null.
    HeadlessHost* headless;
    ServiceManager& services;
    // The absolute path of this program, for the service's unit.
    std::string executable = {};
    // The program folder the process was told through $KESTREL_HOME: the service gets the same.
    std::optional<std::string> homeFromEnvironment = {};
    // Blocks up to the given time; true when the program is to stop (a stop signal).
    std::function<bool(std::chrono::milliseconds)> waitForStop = {};
    // Whether a stop was requested, without waiting.
    std::function<bool()> stopRequested = {};
    // Called after every tick of the loop, with the program's context (tests look in).
    std::function<void(AppContext&)> afterTick = {};
    // The windows; null runs headless.
    Desktop* desktop = nullptr;
    // Headless, how the user hears of failed scheduled runs besides the log; null: the log only.
    DesktopNotifier notifyDesktop = {};
    // The instance lock's descriptor this process held before it replaced its image.
    std::optional<int> inheritedLock = {};
    // Whether this process was replaced to show its window on a desktop that asked for it.
    bool showWindow = false;
    // Replaces this process (same PID, the instance lock kept at lockFd) by the program with the
    // given desktop variables set. Returns only when that failed, with *error. Null: a headless
    // instance does not hand itself over to a desktop.
    std::function<void(const std::vector<std::string>& environment, int lockFd, std::string* error)>
        reexec = {};
};

// The program's life: start-up, the command line and the service, the scheduler's loop, quit.
// Returns the exit code. A second instance in the same program folder ends at once with 0.
int StartProgram(const std::vector<std::string>& args, ProgramEnv& env);

// What `kestrel --help` prints: the program, its command lines, the environment it reads and the
// files it uses. The manual page is made from it.
std::string helpText();

// Answers --help, -h, --version and -V, and refuses any other argument that begins with "-",
// before anything starts (no lock, no program folder, no display). The exit code when the program
// ends there; nothing when the command line is the program's own.
std::optional<int> answerOptions(const std::vector<std::string>& args, std::ostream& out,
                                 std::ostream& err);

// The whole argument text as the command line table compares it: the arguments joined by
// single blanks.
std::string commandLineText(const std::vector<std::string>& args);

}  // namespace kestrel
