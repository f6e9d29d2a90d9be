// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/host.h"

namespace kestrel::ui {

// The core's host in the desktop program. The windows register what they show: the main window
// its visibility, status bar, caption and log list; the tray its tip and its messages; the
// progress module its window. Until they do (start-up, control command lines) a message box
// still works and the rest is dropped.
class QtHost : public Host {
public:
    struct Views {
        std::function<bool()> windowVisible;
        std::function<void(const std::string&)> logLine;
        std::function<void(int, const std::string&)> statusText;
        std::function<void(const std::string&)> captionSuffix;
        std::function<void(const std::string&)> trayTip;
        // A message nobody is there to answer: the tray's balloon or a desktop notification.
        std::function<void(const std::string&, MsgIcon)> notice;
        std::function<void(const std::string&)> showProgress;
        std::function<void(const std::string&, const std::string&, double, double)> updateProgress;
        std::function<void()> closeProgress;
        // Enables or disables the progress window's "Cancel this file".
        std::function<void(bool)> fileCancellable;
        // Shows the log list; a failure box offers it under the caption of "strMsgShowLog".
        std::function<void()> showLog;
        std::function<std::string(std::string_view key)> message;
    };

    QtHost();
    void setViews(Views views) { m_views = std::move(views); }
    // Whether a box may be shown when no main window is visible (control command lines).
    void setAskWithoutWindow(bool allowed) { m_askWithoutWindow = allowed; }
    // Once the program is ending no box waits for an answer: what a run still has to say while
    // it is aborted goes to the log and the tray.
    void setEnding() { m_ending = true; }

    void yield() override;
    bool hasEventLoop() const override { return true; }
    void waitForEvents(std::chrono::milliseconds atMost) override;
    bool windowVisible() const override;
    bool canAsk() const override;
    void logLine(const std::string& stampedLine) override;
    void setStatusText(int panel, const std::string& text) override;
    void setCaptionSuffix(const std::string& suffix) override;
    void setTrayTip(const std::string& tip) override;
    void showProgress(const std::string& title) override;
    void updateProgress(const std::string& title, const std::string& item, double filePercent,
                        double totalPercent) override;
    void closeProgress() override;
    void setFileCancellable(bool cancellable) override;
    MsgAnswer messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                         MsgAnswer safeDefault) override;
    int choiceBox(const std::string& text, const std::vector<std::string>& choices,
                  int safeDefault) override;
    void failureBox(const std::string& text, const std::string& details) override;
    void notice(const std::string& text, MsgIcon icon) override;

    // How many times yield served the event loop (the benchmark and tests look).
    std::uint64_t eventLoopTurns() const { return m_turns; }

    // Shows the latest progress held back by the rate limit.
    void flushProgress();

private:
    struct Progress {
        std::string title;
        std::string item;
        double filePercent;
        double totalPercent;
    };

    Views m_views;
    std::optional<Progress> m_pending;
    std::string m_shownTitle;
    QElapsedTimer m_sinceProgress;
    bool m_askWithoutWindow = false;
    bool m_ending = false;
    QElapsedTimer m_sinceYield;
    std::uint64_t m_turns = 0;
};

}  // namespace kestrel::ui
