// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTimer>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runner/job_runner.h"

class QAction;
class QLabel;

namespace Ui {
class frmMain;
}

namespace kestrel {
struct AppContext;
class LanguageFile;
}  // namespace kestrel

namespace kestrel::ui {

// What the main window opens but does not own: other windows, help, the program's quit.
// A command whose seam is empty is disabled, with a tooltip saying it is not there yet.
struct MainSeams {
    // The backup editor on a page (0 backup, 1 settings, 2 destination, 3 schedule) for a job,
    // or for a new job when the name is empty.
    std::function<void(const std::string& job, int page)> openEditor;
    // The restore browser of an archive job.
    std::function<void(const std::string& job)> openRestoreBrowser;
    std::function<void()> openSettings;
    std::function<void()> openAbout;
    // The password prompt: true when the typed text is the expected password.
    std::function<bool(const std::string& expected)> askPassword;
    // A help page ("index.html", ...), or the log file, in the desktop's viewer.
    std::function<void(const std::string& page)> openHelp;
    std::function<void(const std::string& path)> openFile;
    // The pause was switched here: the progress window's button follows.
    std::function<void()> pauseChanged;
    // The quit sequence; ask = whether to put the question first.
    std::function<void(bool ask)> quit;
};

// The program's home: the job list, its commands, the tray icon and the scheduler's timer.
class frmMain : public QMainWindow, public RunnerObserver {
    Q_OBJECT

public:
    frmMain(AppContext& ctx, JobRunner& runner, std::function<const LanguageFile&()> language,
            MainSeams seams, QWidget* parent = nullptr);
    ~frmMain() override;

    // Rebuilds the job list from the jobs.
    void UpdateForm();
    void HideRestoreCommands();
    void ShowRestorecommands();
    // Layout 1: toolbar and status bar; 0: the buttons below the list.
    void applyStyle(int style);
    // Captions from the language file; the version into "%v" of the caption.
    void applyLanguage();

    // The scheduler's tick, run by schedTimer every second.
    void setTicker(std::function<void()> tick) { m_tick = std::move(tick); }
    QTimer& schedTimer() { return m_schedTimer; }

    // Whether the tray icon exists: then minimising and closing hide to it.
    bool trayAvailable() const { return m_tray != nullptr; }
    QSystemTrayIcon* tray() { return m_tray.get(); }
    void setTrayTip(const std::string& text);
    void setTrayProgress(double percent);
    void trayMessage(const std::string& text, bool failure);
    // Hides every window of the program (the tray's "hide all windows").
    void hideAll();
    void showAndRaise();

    // What the host shows here.
    // Log lines and status texts are shown at most 20 times a second; flushPending shows them
    // now.
    void addLogLine(const std::string& stampedLine);
    void flushPending();
    void setStatusText(int panel, const std::string& text);
    void setCaptionSuffix(const std::string& suffix);

    // Commands, also for tests.
    void newJob();
    void editJob(int page);
    void deleteJob();
    void backupNow();
    void restoreJob();
    void togglePause();
    void toggleLog();
    // Follows a pause changed elsewhere (the progress window): the menu's caption and the
    // tray's blinking.
    void syncPause();
    // Brings the window up with its log list shown (a failure box's "Show log").
    void showLog();
    void openLogFile();
    bool logVisible() const;
    // The name of the selected job; empty when none.
    std::string selectedJob() const;
    void selectJob(const std::string& name);
    // The commands that would start a run or change the jobs are off while one is active.
    void updateCommands();

    // The commands that several controls stand for: toolbar keys, menu items, buttons of layout
    // 0, keys of the list. Each is one action that runs the command and says whether it may run;
    // its controls keep their names (the language files caption them), trigger it and follow its
    // enabled state and tooltip. A command with one control is that control's own action.
    enum class Command { New, Edit, Delete, Backup, Restore, Help, Quit, About, HideAll };
    static constexpr size_t kCommandCount = static_cast<size_t>(Command::HideAll) + 1;
    QAction& command(Command which) { return *m_commands[static_cast<size_t>(which)]; }
    // Remembers geometry and column widths.
    void saveLayout();

    // RunnerObserver
    void activityStarted(const Activity&) override;
    void activityFinished(const Activity&) override;
    void jobsChanged() override;

    Ui::frmMain& form() { return *m_ui; }
    // The paused blink, one step (Timer2).
    void blinkStep();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadLogTail();

    // A control that stands for a command. A job control is also off while the job commands are
    // hidden (no job is selected), whatever its command says.
    struct Control {
        QObject* control;  // a QAction or a QAbstractButton
        QAction* command;
        bool jobControl;
    };

    void wireCommands();
    void bind(Command which, QObject* control, bool jobControl);
    // Gives every control its command's state.
    void syncControls();
    void setMenuIcons();
    void restoreLayout();
    void showListMenu(const QPoint& at);
    void error(const std::string& text);
    void setPauseCaption();
    void scheduleFlush();

    AppContext& m_ctx;
    JobRunner& m_runner;
    std::function<const LanguageFile&()> m_language;
    MainSeams m_seams;
    std::unique_ptr<Ui::frmMain> m_ui;
    std::array<QAction*, kCommandCount> m_commands{};
    std::vector<Control> m_controls;
    QLabel* m_panel1 = nullptr;
    QLabel* m_panel2 = nullptr;
    QLabel* m_noJobs = nullptr;
    QLabel* m_scheduleHeld = nullptr;
    QTimer m_schedTimer;
    QTimer m_timer2;
    std::function<void()> m_tick;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QIcon m_trayIcon;
    QIcon m_trayPaused;
    bool m_blinkOn = false;
    QTimer m_flush;
    std::deque<std::string> m_pendingLog;
    std::optional<std::string> m_pendingStatus[2];
    bool m_restoreShown = false;
    // The editor page the editor opens on: set by the four page commands, kept otherwise.
    int m_editorPage = 0;
    bool m_activated = false;
    std::string m_designedCaption;
    std::string m_caption;  // the caption without the suffix
    std::string m_captionSuffix;
    std::string m_lastTip;
};

}  // namespace kestrel::ui
