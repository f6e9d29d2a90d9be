// SPDX-License-Identifier: GPL-3.0-or-later
// Quitting the desktop program during a run goes through the runner's abort.
#include "app/desktop.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "core/app_context.h"
#include "runner/runner_scheduler.h"
#include "support/fake_clock.h"
#include "support/job_builder.h"
#include "support/temp_dir.h"
#include "ui/frm_main.h"
#include "ui/frm_splash.h"
#include "ui/qt_host.h"

namespace kestrel {
namespace {

class DesktopTest : public ::testing::Test {
protected:
    test::TempDir home;
    test::TempDir src;
    test::TempDir dest;
    test::FakeClock clock;
    ui::QtHost host;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<JobRunner> runner;
    std::unique_ptr<RunnerScheduler> scheduler;
    std::unique_ptr<DesktopParts> parts;
    std::vector<std::string> calls;

    void SetUp() override {
        ctx = std::make_unique<AppContext>(ProgramFolder(home.path(), {KESTREL_BINARY_DIR}), clock,
                                           host);
        ASSERT_TRUE(ctx->initialise());
        runner = std::make_unique<JobRunner>(*ctx);
        ASSERT_TRUE(runner->LoadJobs());
        scheduler = std::make_unique<RunnerScheduler>(*ctx, *runner);
        parts = std::make_unique<DesktopParts>(DesktopParts{*ctx, *runner, *scheduler});
        parts->askQuit = [this] {
            calls.push_back("ask");
            return true;
        };
        parts->closeProgram = [this] { calls.push_back("closed"); };
        parts->stopRequested = [] { return false; };
        for (int i = 0; i < 40; ++i)
            src.write("tree/f" + std::to_string(i), std::string(50'000, 'x'));
    }
    // The splash's time is up at once.
    void showMain(WindowedDesktop& desktop) {
        desktop.start(*parts);
        QMetaObject::invokeMethod(&desktop.splash()->timer(), "timeout");
        ASSERT_NE(desktop.mainWindow(), nullptr);
    }
};

TEST_F(DesktopTest, QuitDuringARunAbortsItAndEndsOnlyAfterItReturned) {
    ASSERT_EQ(runner->addJob(test::JobBuilder("Docs")
                                 .folder(src.file("tree"))
                                 .to(dest.path())
                                 .archive()
                                 .compressed()
                                 .build()),
              RunnerResult::Done);
    WindowedDesktop desktop(host);
    showMain(desktop);
    // The click arrives while the run yields to the event loop.
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(runner->busy());
        desktop.quit(true);
    });
    desktop.mainWindow()->selectJob("Docs");
    desktop.mainWindow()->backupNow();
    EXPECT_EQ(calls, (std::vector<std::string>{"ask"})) << "nothing closed inside the run";
    EXPECT_EQ(runner->job("Docs")->enumStatus, kStatusAborted);
    QCoreApplication::processEvents();
    desktop.quit(true);  // a second quit does nothing more
    EXPECT_EQ(calls, (std::vector<std::string>{"ask", "closed"}));
    EXPECT_TRUE(desktop.finished());
}

}  // namespace
}  // namespace kestrel
