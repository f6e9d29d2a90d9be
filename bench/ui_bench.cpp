// SPDX-License-Identifier: GPL-3.0-or-later
// What the windows cost a run: the same backups through the console host and through the
// desktop program's windows (offscreen: main window shown, progress window, tray picture), and
// the start-up of a main window over many jobs.
// Usage: ui_bench [--files N] [--large N --large-mb MB] [--dir FOLDER]
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "app/desktop.h"
#include "bench_job.h"
#include "bench_util.h"
#include "cli/console_host.h"
#include "core/app_context.h"
#include "runner/runner_scheduler.h"
#include "ui/frm_main.h"
#include "ui/frm_splash.h"
#include "ui/qt_host.h"

using namespace kestrel;

namespace {

// One backup of the tree in a fresh program folder, through the given host; seconds.
double runThrough(Host& host, const std::string& home, const std::string& tree,
                  const std::string& dest, bool zipped, bool windows) {
    SystemClock clock;
    AppContext ctx(ProgramFolder(home, {}), clock, host);
    if (!ctx.initialise())
        return -1;
    JobRunner runner(ctx);
    (void)runner.LoadJobs();
    auto job = bench::makeJob("Bench", tree, dest, true, false);
    job->bZipped = zipped;
    (void)runner.addJob(std::move(job));
    if (!windows) {
        return bench::timed([&] { (void)runner.RunBackup("Bench"); });
    }
    RunnerScheduler scheduler(ctx, runner);
    DesktopParts parts{ctx, runner, scheduler};
    parts.askQuit = [] { return true; };
    parts.closeProgram = [] {};
    parts.stopRequested = [] { return false; };
    WindowedDesktop desktop(static_cast<ui::QtHost&>(host));
    desktop.start(parts);
    QMetaObject::invokeMethod(&desktop.splash()->timer(), "timeout");
    ui::frmMain& main = *desktop.mainWindow();
    main.selectJob("Bench");
    // The run's closing message box, answered at once.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    answer.start(20);
    return bench::timed([&] { main.backupNow(); });
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bench::Options o = bench::parseOptions(argc, argv, {100000, 0, 1024, ""});
    bench::Scratch scratch(o.dir);
    const std::string tree = scratch.path() + "/tree";
    const bench::Tree t = bench::makeTree(tree, o.files, o.large, o.largeMb << 20, 512, 4096);
    std::printf("tree: %zu files, %.1f MB\n", t.files.size(), static_cast<double>(t.bytes) / 1e6);

    for (const bool zipped : {false, true}) {
        ConsoleHost console(std::cerr, false);
        const double plain = runThrough(console, scratch.path() + "/h1", tree,
                                        scratch.path() + "/d1", zipped, false);
        std::filesystem::remove_all(scratch.path() + "/h1");
        std::filesystem::remove_all(scratch.path() + "/d1");
        ui::QtHost qt;
        std::uint64_t turns = 0;
        const double windowed =
            runThrough(qt, scratch.path() + "/h2", tree, scratch.path() + "/d2", zipped, true);
        turns = qt.eventLoopTurns();
        std::filesystem::remove_all(scratch.path() + "/h2");
        std::filesystem::remove_all(scratch.path() + "/d2");
        std::printf(
            "%-22s console host %7.2f s   windows %7.2f s   %+6.1f%%   %llu event-loop turns\n",
            zipped ? "compressed archive" : "plain archive", plain, windowed,
            (windowed / plain - 1) * 100, static_cast<unsigned long long>(turns));
    }

    // Start-up: a main window over 500 jobs, shown.
    {
        SystemClock clock;
        ui::QtHost qt;
        AppContext ctx(ProgramFolder(scratch.path() + "/h3", {}), clock, qt);
        if (!ctx.initialise())
            return 1;
        JobRunner runner(ctx);
        (void)runner.LoadJobs();
        for (int i = 0; i < 500; ++i) {
            (void)runner.addJob(bench::makeJob("Job " + std::to_string(i), tree,
                                               scratch.path() + "/d3", true, false));
        }
        LanguageFile none;
        const double shown = bench::timed([&] {
            ui::frmMain main(ctx, runner, [&]() -> const LanguageFile& { return none; }, {});
            main.show();
            QCoreApplication::processEvents();
        });
        std::printf("main window with 500 jobs shown in %.3f s (target < 1 s)\n", shown);
    }
    return 0;
}
