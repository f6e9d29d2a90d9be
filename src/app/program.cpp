// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program.h"

#include <algorithm>

#include "app/headless_host.h"
#include "core/app_context.h"
#include "core/version.h"
#include "platform/file_lock.h"
#include "platform/instance_channel.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "runner/job_runner.h"
#include "runner/runner_scheduler.h"

namespace kestrel {
namespace {

constexpr const char* kDisplayName = "Kestrel service";
constexpr std::chrono::milliseconds kTick{1000};
constexpr int kExitFailed = 1;
constexpr int kExitBadUsage = 2;

enum class CommandLine { Install, Uninstall, Stop, Restart, StartService };

CommandLine classify(const std::string& text) {
    // Exactly and with case: "/I" and "/i " are none of these.
    if (text == "/i") {
        return CommandLine::Install;
    }
    if (text == "/u") {
        return CommandLine::Uninstall;
    }
    if (text == "/service stop") {
        return CommandLine::Stop;
    }
    if (text == "/service restart") {
        return CommandLine::Restart;
    }
    return CommandLine::StartService;
}

class Program {
public:
    explicit Program(ProgramEnv& env) : m_env(env), m_ctx(env.folder, env.clock, env.host) {}

    int start(const std::vector<std::string>& args);

private:
    // A command line that failed: told to the user and logged.
    void fail(const std::string& text);
    bool takeInstanceLock();
    bool loadJobs(bool prepareTemp);
    // True when the program is to end.
    bool runCommandLine(CommandLine command);
    bool InstallService();
    bool UninstallService();
    void startService();
    // "Do you really want to quit?"; true when the user (or the safe default) said yes.
    bool askQuit();
    // Asks when told to; true when the program is to end.
    bool QuitProgram(bool ask);
    void loop();
    void runDesktop(bool services);
    void tick();
    // A desktop's request for the window, taken in the loop.
    void takeRequests();
    // Reopens this instance on the desktop that asked; returns only when that failed.
    void handOver();

    ProgramEnv& m_env;
    AppContext m_ctx;
    std::optional<JobRunner> m_runner;
    std::optional<RunnerScheduler> m_scheduler;
    std::optional<ServiceNotices> m_notices;
    FileLock m_instance;
    bool m_isService = false;
    int m_exitCode = 0;
    std::uint64_t m_lastTickMs = 0;
    InstanceListener m_listener;
    std::optional<std::vector<std::string>> m_handover;
};

int Program::start(const std::vector<std::string>& args) {
    if (m_env.headless != nullptr) {
        // Questions nobody can answer here are answered by default and kept in the log.
        m_env.headless->setNoticeSink([this](const std::string& text) { m_ctx.WriteLog(text); });
    }
    // The language first, so that every later text is in it; nothing is written yet.
    m_ctx.settings.loadStartupValues(m_ctx.paths);
    m_ctx.messages.FillMessages(m_ctx.settings.languageFilePath);

    // A control command must reach a running instance's service, and must not touch the
    // temporary folder that instance may be running a backup in.
    const std::string text = commandLineText(args);
    const bool services = m_env.services.available();
    const CommandLine command = classify(text);
    const bool control = command != CommandLine::StartService;
    if (control && !services) {
        // Rather than start the scheduler in its place, which nobody asked for.
        std::string error;
        (void)m_ctx.paths.create(&error);
        fail(m_ctx.messages.format("strMsgNoServiceManager", {{"%s", text}}));
        return kExitFailed;
    }
    if (!control && !takeInstanceLock()) {
        return 0;
    }
    if (!loadJobs(!control)) {
        tell(m_ctx.host, m_ctx.msg("strMsgSystemVarsError"), MsgIcon::Critical);
        return 1;
    }
    m_ctx.WriteLog(m_ctx.msg("strMsgProgramStarted"));
    m_ctx.WriteLog(m_ctx.messages.format("strMsgBackupItemsLoaded",
                                         {{"%d", std::to_string(m_runner->jobs().count())}}));
    if (services && runCommandLine(command)) {
        return m_exitCode;
    }
    if (control) {
        // Declined to quit: the normal start, instance check included.
        if (!takeInstanceLock()) {
            return 0;
        }
        if (!loadJobs(true)) {
            tell(m_ctx.host, m_ctx.msg("strMsgSystemVarsError"), MsgIcon::Critical);
            return 1;
        }
    }
    m_scheduler.emplace(m_ctx, *m_runner);
    if (m_env.desktop == nullptr && m_env.notifyDesktop) {
        m_notices.emplace(m_ctx, *m_runner, m_env.notifyDesktop);
    }
    if (services && m_ctx.settings.RunAsService == 1) {
        startService();
    }
    if (m_env.desktop != nullptr) {
        runDesktop(services);
    } else {
        loop();
    }
    return 0;
}

void Program::runDesktop(bool services) {
    DesktopParts parts{m_ctx, *m_runner, *m_scheduler};
    parts.servicesAvailable = services;
    parts.installService = [this] { return InstallService(); };
    parts.uninstallService = [this] { return UninstallService(); };
    parts.askQuit = [this] { return askQuit(); };
    parts.closeProgram = [this] {
        if (m_isService) {
            m_ctx.WriteLog("Kestrel service stopped!");
        }
        QuitProgram(false);
    };
    parts.stopRequested = [this] { return m_env.stopRequested && m_env.stopRequested(); };
    parts.showWindow = m_env.showWindow;
    m_env.desktop->run(parts);
}

void Program::fail(const std::string& text) {
    // Headless, the notice is the log line (and the error stream).
    if (m_env.headless == nullptr) {
        m_ctx.WriteLog(text);
    }
    tell(m_ctx.host, text, MsgIcon::Critical);
    m_exitCode = kExitFailed;
}

bool Program::takeInstanceLock() {
    std::string error;
    if (!m_ctx.paths.create(&error)) {
        tell(m_ctx.host, m_ctx.msg("strMsgSystemVarsError") + " (" + error + ")",
             MsgIcon::Critical);
        return false;
    }
    const std::string lockPath = m_ctx.paths.path("kestrel.lock");
    if (m_env.inheritedLock && m_instance.adopt(*m_env.inheritedLock, lockPath)) {
        return true;  // the same instance, reopened on a desktop
    }
    // Held until the process ends; the kernel lets go of it after a crash too.
    if (m_instance.tryLock(lockPath, &error) == FileLock::Result::Acquired) {
        return true;
    }
    // Another instance runs here: on a desktop it shows its window instead.
    if (m_env.desktop != nullptr) {
        (void)m_env.desktop->showRunningInstance(m_ctx.paths);
    }
    return false;
}

bool Program::loadJobs(bool prepareTemp) {
    std::string error;
    if (!m_ctx.paths.create(&error)) {
        return false;
    }
    if (!m_runner) {
        m_runner.emplace(m_ctx);
    }
    return prepareTemp ? m_runner->LoadJobs() : m_runner->readJobs();
}

bool Program::runCommandLine(CommandLine command) {
    const auto named = [&](const char* key) {
        return m_ctx.messages.format(key, {{"%s", kDisplayName}});
    };
    switch (command) {
        case CommandLine::Install:
            if (InstallService()) {
                tell(m_ctx.host,
                     named("strMsgSuccInstall") + "\n" +
                         m_ctx.messages.format("strMsgServiceLinger", {{"%s", currentUserName()}}),
                     MsgIcon::Information);
                (void)m_ctx.settings.saveGeneral("RunAsService", "1");
                m_ctx.settings.RunAsService = 1;
            } else {
                tell(m_ctx.host, named("strMsgFailInstall"), MsgIcon::Critical);
                m_exitCode = kExitFailed;
                (void)m_ctx.settings.saveGeneral("RunAsService", "0");
                m_ctx.settings.RunAsService = 0;
            }
            return QuitProgram(true);
        case CommandLine::Uninstall:
            // The setting stays as it was; only the flag follows the outcome.
            if (UninstallService()) {
                tell(m_ctx.host, named("strMsgSuccUninst"), MsgIcon::Information);
                m_ctx.settings.RunAsService = 0;
            } else {
                tell(m_ctx.host, named("strMsgFailUninst"), MsgIcon::Critical);
                m_exitCode = kExitFailed;
                m_ctx.settings.RunAsService = 1;
            }
            return QuitProgram(true);
        case CommandLine::Stop:
        case CommandLine::Restart: {
            std::string error;
            if (!m_env.services.stop(&error)) {
                fail(error);
            }
            if (command == CommandLine::Restart && !m_env.services.start(&error)) {
                fail(error);
            }
            return QuitProgram(true);
        }
        case CommandLine::StartService:
            startService();
            return false;
    }
    return false;
}

bool Program::InstallService() {
    std::string error;
    const bool ok = m_env.services.install(m_env.executable, m_env.homeFromEnvironment, &error);
    if (!ok) {
        m_ctx.WriteLog(error);
    }
    return ok;
}

bool Program::UninstallService() {
    std::string error;
    if (m_env.services.running()) {
        (void)m_env.services.stop(&error);
    }
    const bool ok = m_env.services.uninstall(&error);
    m_env.services.logEvent(
        109, 1,
        "Uninstallservice->[" + std::string(ok ? "0" : "1") + "]" + (ok ? std::string() : error));
    if (!ok) {
        m_ctx.WriteLog(error);
    }
    return ok;
}

void Program::startService() {
    // Started by the service manager: this process is the service. Its start event comes once.
    const bool service = m_env.services.isThisProcessTheService();
    if (service && !m_isService) {
        m_isService = true;
        m_ctx.WriteLog("Kestrel started as a service ...");
    }
}

bool Program::askQuit() {
    return kestrel::ask(m_ctx.host, m_ctx.msg("strMsgQuitAsk"), MsgIcon::Question,
                        MsgButtons::YesNo, MsgAnswer::Yes) == MsgAnswer::Yes;
}

bool Program::QuitProgram(bool ask) {
    if (ask && !askQuit()) {
        return false;
    }
    m_ctx.WriteLog(m_ctx.msg("strMsgClosingProgram"));
    // Every change and every run's outcome is in the store already; nothing waits to be written.
    m_ctx.WriteLog(m_ctx.msg("strMsgProgramClosed"));
    return true;
}

void Program::tick() {
    m_lastTickMs = m_ctx.clock.tickMs();
    m_scheduler->tick();
    takeRequests();
    if (m_env.afterTick) {
        m_env.afterTick(m_ctx);
    }
}

void Program::loop() {
    if (m_env.headless != nullptr) {
        // A long run yields often: the scheduler keeps ticking inside it, so that what falls
        // due meanwhile starts when it ends.
        m_env.headless->setYieldHook([this] {
            if (m_ctx.clock.tickMs() - m_lastTickMs >= static_cast<std::uint64_t>(kTick.count())) {
                tick();
            }
        });
    }
    if (m_env.reexec) {
        std::string error;
        if (!m_listener.listen(instanceSocketPath(m_ctx.paths.home()), &error)) {
            m_ctx.WriteLog(error);
        }
    }
    for (;;) {
        tick();
        // Between runs only, so that no backup is cut short for a window.
        if (m_handover && !m_runner->busy()) {
            handOver();
        }
        if (m_env.stopRequested() || m_runner->quitPending() || m_env.waitForStop(kTick)) {
            break;
        }
    }
    if (m_isService) {
        m_ctx.WriteLog("Kestrel service stopped!");
    }
    (void)m_runner->requestQuit();
    QuitProgram(false);
    if (m_env.headless != nullptr) {
        m_env.headless->setYieldHook(nullptr);
    }
}

void Program::takeRequests() {
    while (auto request = m_listener.poll()) {
        const bool desktop = std::any_of(
            request->environment.begin(), request->environment.end(), [](const std::string& v) {
                return v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
                       v.rfind("QT_QPA_PLATFORM=", 0) == 0;
            });
        if (request->command != "show" || !desktop || m_handover) {
            continue;
        }
        m_handover = request->environment;
        m_ctx.WriteLog(
            m_ctx.msg(m_runner->busy() ? "strMsgOpenWindowAfterRun" : "strMsgOpenWindowOnDesktop"));
    }
}

void Program::handOver() {
    const std::vector<std::string> environment = std::move(*m_handover);
    m_handover.reset();
    std::string error = "the instance lock cannot be kept";
    const int fd = m_instance.keepAcrossExec();
    if (fd >= 0) {
        m_env.reexec(environment, fd, &error);
        // Still this image: no child may inherit the lock.
        (void)m_instance.adopt(fd, m_ctx.paths.path("kestrel.lock"));
    }
    m_ctx.WriteLog(m_ctx.messages.format("strMsgOpenWindowFailed", {{"%s", error}}));
}

constexpr const char* kUsage =
    "Usage: kestrel [/i | /u | /service start | /service stop | /service restart]\n"
    "  or:  kestrel --help | --version\n";

}  // namespace

std::string helpText() {
    return std::string(kUsage) +
           R"(
Kestrel backs up files and folders to a local folder or an FTP server, on demand or on a
schedule. Without a command line it starts the program: with a display it shows the main window
and a tray icon; without one it runs headless, starts the scheduled backups and writes what it
does to the log, until SIGTERM or Ctrl-C. One kestrel runs per program folder: a second start
shows the running one's window and ends. kestrel-cli makes, changes and runs the jobs without
a window.

Command lines:
  /i                  install the service (the systemd user unit kestrel.service) and start it
  /u                  stop the service and remove it
  /service start      run as the service (the unit starts the program so)
  /service stop       stop the running service
  /service restart    stop the running service and start it again
  -h, --help          print this help and exit
  -V, --version       print the version and exit

Environment:
  KESTREL_HOME        the program folder (default: ${XDG_DATA_HOME:-~/.local/share}/kestrel)
  LC_ALL, LC_MESSAGES, LANG
                      the language, until one is chosen in the program settings
  DISPLAY, WAYLAND_DISPLAY
                      the desktop to show the windows on; without either it runs headless
  XDG_CONFIG_HOME     where the service unit and the autostart entry go (default: ~/.config)
  XDG_RUNTIME_DIR     where the running program listens for a second start
  DBUS_SESSION_BUS_ADDRESS
                      the session bus on which the service tells of failed backups

Files in the program folder:
  backups.ini         the backup jobs
  settings.ini        the program settings
  logs/kestrel.log    the log
  kestrel.lock        held by the running program
  temp/               the working folder of a backup run
Files elsewhere:
  ~/.config/systemd/user/kestrel.service
                      the unit that /i writes when no installed unit runs this program
  ~/.config/autostart/kestrel.desktop
                      starts the program with the desktop (Options > Program settings)

Exit status:
  0                   done
  1                   a command line failed, no user service manager runs, or the job store
                      cannot be read
  2                   an unknown option
)";
}

std::optional<int> answerOptions(const std::vector<std::string>& args, std::ostream& out,
                                 std::ostream& err) {
    for (const std::string& arg : args) {
        // The command lines begin with "/"; a word such as "start" is theirs too.
        if (!arg.starts_with('-')) {
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            out << helpText();
            return 0;
        }
        if (arg == "-V" || arg == "--version") {
            out << "kestrel " << versionText() << '\n';
            return 0;
        }
        err << "kestrel: unknown option \"" << arg << "\"\n" << kUsage;
        return kExitBadUsage;
    }
    return std::nullopt;
}

std::string commandLineText(const std::vector<std::string>& args) {
    std::string text;
    for (size_t i = 0; i < args.size(); ++i) {
        text += (i == 0 ? "" : " ") + args[i];
    }
    return text;
}

int StartProgram(const std::vector<std::string>& args, ProgramEnv& env) {
    Program program(env);
    return program.start(args);
}

}  // namespace kestrel
