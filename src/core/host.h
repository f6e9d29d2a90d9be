// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace kestrel {

enum class MsgIcon { None, Information, Exclamation, Critical, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// Everything the core needs from whoever shows the program to the user: the desktop window,
// the console of the command-line front end and the service, or a test. The core never talks to
// a screen or terminal except through this interface.
//
// All calls come from the one thread that runs the engine.
class Host {
public:
    virtual ~Host() = default;

    // Lets the user interface process pending events (clicks on pause or abort, repaints).
    virtual void yield() = 0;
    // Whether yield serves an event loop. Without one, a paused run sleeps on the engine flags.
    virtual bool hasEventLoop() const { return false; }
    // For a paused run, when there is an event loop: serves it until an event came or atMost
    // passed. A window's host blocks in its loop meanwhile, so a pause costs no processor time.
    virtual void waitForEvents(std::chrono::milliseconds atMost) {
        (void)atMost;
        yield();
    }
    // Whether the main window is visible.
    virtual bool windowVisible() const = 0;
    // Whether a message box may be shown and waited for: someone is there to answer it. The
    // core asks and tells through ask() and tell() below, which keep to this.
    virtual bool canAsk() const = 0;

    // A new stamped line of the program log, for the log list.
    virtual void logLine(const std::string& stampedLine) = 0;
    // Several such lines at once, oldest first.
    virtual void logLines(const std::vector<std::string>& stampedLines) {
        for (const std::string& line : stampedLines) {
            logLine(line);
        }
    }
    // Text for a status bar panel: 1 = progress steps, 2 = the last log line.
    virtual void setStatusText(int panel, const std::string& text) = 0;
    // Text appended to the main window's caption ("" removes it).
    virtual void setCaptionSuffix(const std::string& suffix) = 0;
    virtual void setTrayTip(const std::string& tip) = 0;

    virtual void showProgress(const std::string& title) = 0;
    // Percentages are 0..100; a value outside that range leaves its bar unchanged.
    virtual void updateProgress(const std::string& title, const std::string& item,
                                double filePercent, double totalPercent) = 0;
    virtual void closeProgress() = 0;
    // Whether "cancel this file" can act now: true only while a file is being archived, copied
    // or uploaded in a way that can be given up (see FileCancelScope). A window enables its
    // control by it; a host without one ignores it.
    virtual void setFileCancellable(bool cancellable) { (void)cancellable; }

    // Shows a message box and waits for the answer; only called while canAsk() holds.
    // safeDefault is the answer when the box is closed without one.
    virtual MsgAnswer messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                                 MsgAnswer safeDefault) = 0;
    // Offers the choices as buttons and waits: the index of the one taken, or safeDefault when
    // the box is closed without one. Only called while canAsk() holds.
    virtual int choiceBox(const std::string& text, const std::vector<std::string>& choices,
                          int safeDefault) {
        (void)text;
        (void)choices;
        return safeDefault;
    }
    // A failure box: what failed, then the log's own lines about it (details, may be empty). A
    // window also offers to show the log. Only called while canAsk() holds.
    virtual void failureBox(const std::string& text, const std::string& details) {
        messageBox(details.empty() ? text : text + "\n\n" + details, MsgIcon::Critical,
                   MsgButtons::Ok, MsgAnswer::Ok);
    }
    // A message for whoever may read it later, when no box may be shown (the console prints
    // it). Nothing waits for it.
    virtual void notice(const std::string& text, MsgIcon icon) = 0;
};

// Puts a question when someone can answer it; otherwise the question is noticed and answered
// with safeDefault.
MsgAnswer ask(Host& host, const std::string& text, MsgIcon icon, MsgButtons buttons,
              MsgAnswer safeDefault);
// Shows a message that needs no decision: a box when someone can see it, else a notice.
void tell(Host& host, const std::string& text, MsgIcon icon);

// Puts a choice when someone can make it; otherwise it is noticed and safeDefault taken.
int choose(Host& host, const std::string& text, const std::vector<std::string>& choices,
           int safeDefault);
// Tells a failure with the log's lines about it: a failure box when someone can see it, else a
// notice.
void tellFailure(Host& host, const std::string& text, const std::string& details);

// A host that shows nothing and answers every question with its safe default.
class NullHost : public Host {
public:
    void yield() override {}
    bool windowVisible() const override { return false; }
    bool canAsk() const override { return false; }
    void logLine(const std::string&) override {}
    void setStatusText(int, const std::string&) override {}
    void setCaptionSuffix(const std::string&) override {}
    void setTrayTip(const std::string&) override {}
    void showProgress(const std::string&) override {}
    void updateProgress(const std::string&, const std::string&, double, double) override {}
    void closeProgress() override {}
    MsgAnswer messageBox(const std::string&, MsgIcon, MsgButtons, MsgAnswer safeDefault) override {
        return safeDefault;
    }
    void notice(const std::string&, MsgIcon) override {}
};

}  // namespace kestrel
