// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/frm_backup_progress.h"

namespace kestrel {
class EngineFlags;
class LanguageFile;
class Messages;
}  // namespace kestrel

namespace kestrel::ui {

// The item text as the progress window shows it: a text of more than 50 characters (Unicode
// code points, not bytes) becomes its first 25, "..." and its last 26.
QString shortenedItem(const QString& item);

// The progress module: the one progress window every long operation reports to, and the
// commands on it, which only set the engine flags for the running operation to test.
//
// The window is loaded on first use and unloaded by CloseProgress, by a confirmed abort and by
// the user closing it; it is shown only while the main window is visible, and otherwise kept up
// to date unseen. Called from the UI thread only. After UpdateProgress the caller yields to the
// event loop, where clicks on the window are served.
class mdlProgress {
public:
    using LanguageSource = std::function<const LanguageFile&()>;
    using TickClock = std::function<std::uint64_t()>;
    // Receives the total percentage for the tray picture and the tray tip text.
    using TraySink = std::function<void(double totalPercent, const std::string& tip)>;
    // Puts a Yes/No question; true is Yes.
    using Asker = std::function<bool(const std::string& question)>;

    // The tray hears of a changed total at most this often, except the first and 100 %.
    static constexpr std::uint64_t kTrayIntervalMs = 50;
    // Rate and time left stay empty until the run has been at work this long.
    static constexpr std::uint64_t kRateAfterMs = 1000;
    static constexpr std::uint64_t kEstimateAfterMs = 2000;

    // language returns the current language file, read when the window is loaded and
    // activated; tickMs is a millisecond counter that never goes back. The flags and messages
    // must outlive the module.
    mdlProgress(EngineFlags& flags, const Messages& messages, LanguageSource language,
                std::function<bool()> mainWindowVisible, TickClock tickMs, TraySink tray);
    ~mdlProgress();
    mdlProgress(const mdlProgress&) = delete;
    mdlProgress& operator=(const mdlProgress&) = delete;

    // Replaces the abort question (a Yes/No message box over the window by default); an empty
    // function restores the box.
    void setAsker(Asker asker);
    // The locale whose decimal separator the percentages use (the system's by default).
    void setLocale(const QLocale& locale);
    // The window the progress window stays above (the main window); windows loaded later are
    // its transient children, never modal.
    void setOwner(QWidget* owner) { m_owner = owner; }
    // Told when the window's pause button changed the pause flag (the tray blinks then).
    void setPauseListener(std::function<void()> listener) { m_pauseListener = std::move(listener); }

    // A backup or restore begins or ends. In between the phases share one window: a phase's
    // CloseProgress keeps it, the next ShowProgress takes it over, and the elapsed time counts
    // the whole run.
    void beginRun();
    void endRun();

    // Loads the window, starts both bars at 0 of 0..100, sets the title and shows the window
    // when the main window is visible. Restarts the elapsed time, rate and estimate.
    void ShowProgress(const std::string& title);
    // Loads the window (hidden) when needed and shows the title, the item and both percentages;
    // a percentage outside its bar's range leaves that bar and its text as they were. A changed
    // total also goes to the tray sink.
    void UpdateProgress(const std::string& title, const std::string& item, double filePercent,
                        double totalPercent);
    // Unloads the window; nothing happens when it is not loaded.
    void CloseProgress();

    // The loaded window, or null. It belongs to the module and goes when it is unloaded.
    frmBackupProgress* window() const { return m_window.data(); }

    // Brings the pause button up to date after the pause flag was changed elsewhere (the main
    // window's pause command).
    void syncPause();

    // Whether "Cancel this file" can act now (the running operation says so): its button is
    // enabled only then, also in a window loaded later. Disabled until told otherwise.
    void setFileCancellable(bool cancellable);

private:
    frmBackupProgress& load();
    void unload();
    void applyLanguage(bool keepValues);
    void abortClicked();
    void cancelFileClicked();
    void pauseClicked();
    void activated();
    void showPause(bool paused);
    void notePause(std::uint64_t now);
    void restartTiming(std::uint64_t now);
    void showTimes(std::uint64_t now);
    void reportToTray(double totalPercent, const QString& tip, std::uint64_t now);
    void raiseWindow(std::uint64_t now);
    QString percentText(double percent) const;

    EngineFlags& m_flags;
    const Messages& m_messages;
    QPointer<QWidget> m_owner;
    std::function<void()> m_pauseListener;
    bool m_inRun = false;
    LanguageSource m_language;
    std::function<bool()> m_mainWindowVisible;
    TickClock m_tick;
    TraySink m_tray;
    Asker m_asker;
    QLocale m_locale;

    QPointer<frmBackupProgress> m_window;
    // Unloaded windows wait for the event loop to delete them (one may be unloaded from inside
    // its own click handler); those still waiting when the module ends are deleted with it.
    std::vector<QPointer<frmBackupProgress>> m_unloaded;

    // What the loaded window shows, so that nothing unchanged is set again.
    std::optional<QString> m_shownItem;
    bool m_pauseShown = false;
    bool m_fileCancellable = false;

    // Timing of the current operation; it survives the user closing the window.
    bool m_timing = false;
    std::uint64_t m_start = 0;
    std::uint64_t m_pausedMs = 0;
    std::optional<std::uint64_t> m_pausedSince;
    std::uint64_t m_items = 0;
    QString m_lastCountedItem;
    double m_total = 0;

    std::optional<QString> m_trayTip;
    std::uint64_t m_trayTick = 0;
    std::optional<std::uint64_t> m_raiseTick;
};

}  // namespace kestrel::ui
