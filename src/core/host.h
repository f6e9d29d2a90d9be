#pragma once

#include <string>

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
    // Whether the main window is visible; message boxes of the engine are only shown then.
    virtual bool windowVisible() const = 0;

    // A new stamped line of the program log, for the log list.
    virtual void logLine(const std::string& stampedLine) = 0;
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

    // Shows a message or asks a question. When nobody can answer (no window, no terminal) the
    // host returns safeDefault at once instead of waiting.
    virtual MsgAnswer messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                                 MsgAnswer safeDefault) = 0;
};

// A host that shows nothing and answers every question with its safe default.
class NullHost : public Host {
public:
    void yield() override {}
    bool windowVisible() const override { return false; }
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
};

}  // namespace kestrel
