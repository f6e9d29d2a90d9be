// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocalServer>
#include <QTimer>
#include <memory>
#include <string>

#include "app/program.h"
#include "core/language_file.h"
#include "runner/job_runner.h"
#include "ui/language.h"

namespace kestrel::ui {
class QtHost;
class frmMain;
class frmSplash;
class mdlProgress;
}  // namespace kestrel::ui

namespace kestrel {

// The desktop program's windows over the program's life cycle: the splash, then the main window
// with its tray icon, progress window and the dialogs it opens; the scheduler's timer on the main
// window; quit through the runner's abort.
class WindowedDesktop final : public Desktop, private RunnerObserver {
public:
    explicit WindowedDesktop(ui::QtHost& host);
    ~WindowedDesktop() override;

    bool showRunningInstance(const ProgramFolder& folder) override;
    void run(DesktopParts& parts) override;

    // For tests: the windows once shown.
    ui::frmMain* mainWindow() const { return m_main.get(); }
    // The splash while it is up; its timer's end shows the main window.
    ui::frmSplash* splash() const { return m_splash.get(); }
    // Starts the windows without entering the event loop (run() does both).
    void start(DesktopParts& parts);
    // The quit sequence; ask = put the question first.
    void quit(bool ask);
    bool finished() const { return m_finished; }

private:
    void showMain();
    // Whether the main window is on the screen (not hidden to the tray, not minimised).
    bool mainShown() const;
    void reloadLanguage();
    void listen();
    void finish();
    void openSettings();
    // The backup editor for a job, or for a new one when job is empty.
    void openEditor(const std::string& job, int page);
    void activityStarted(const Activity& activity) override;
    void activityFinished(const Activity& activity) override;
    void backupFinished(const std::string& job, const RunSummary& summary) override;
    void quitReady() override;

    ui::QtHost& m_host;
    DesktopParts* m_parts = nullptr;
    LanguageFile m_language;
    ui::QtLanguage m_qtLanguage;
    std::unique_ptr<ui::mdlProgress> m_progress;
    std::unique_ptr<ui::frmSplash> m_splash;
    std::unique_ptr<ui::frmMain> m_main;
    QLocalServer m_server;
    QTimer m_stopPoll;
    bool m_quitWhenReady = false;
    bool m_showWhenMade = false;  // a second start asked before the main window existed
    bool m_finished = false;
};

}  // namespace kestrel
