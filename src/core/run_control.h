// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "core/engine_flags.h"
#include "core/host.h"
#include "core/log.h"
#include "core/messages.h"
#include "platform/clock.h"

namespace kestrel {

// What a long operation (writing or reading an archive, an FTP session, a copy) needs of the
// program: the flags the user steers it with, the log and the message table, the clock, and the
// host that shows its progress and serves the event loop. The archive container and the FTP
// client take this rather than the whole application context. It refers to objects it does not
// own, which must outlive it.
class RunControl {
public:
    using ProgressListener = std::function<void(const std::string& title, const std::string& item,
                                                double filePercent, double totalPercent)>;

    RunControl(EngineFlags& flagsRef, Host& hostRef, Clock& clockRef, const Messages& messagesRef,
               Log& logRef)
        : flags(flagsRef), host(hostRef), clock(clockRef), messages(messagesRef), log(logRef) {}
    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    void WriteLog(std::string_view text) {
        log.WriteLog(text);
        noteFailure(text);
    }
    // The line a run writes for every file it stored (see Log::WriteLogBatched).
    void WriteLogBatched(std::string_view text) { log.WriteLogBatched(text); }
    // The last failure lines logged ("FAIL: ..." in the user's language) since clearFailures(),
    // newest last, with a count of the earlier ones: why a run or a connection failed, for its
    // box. Cleared where a run or a connection begins.
    void clearFailures() {
        m_failures.clear();
        m_earlierFailures = 0;
    }
    std::string failureDetails() const;
    const std::string& msg(std::string_view key) const { return messages.GetMessage(key); }
    std::string format(
        std::string_view key,
        std::initializer_list<std::pair<std::string_view, std::string_view>> values) const {
        return messages.format(key, values);
    }

    // Progress goes to the host's progress window and to the listener, when one is set (the
    // runner's observers).
    void showProgress(const std::string& title) { host.showProgress(title); }
    void updateProgress(const std::string& title, const std::string& item, double filePercent,
                        double totalPercent);
    void closeProgress() { host.closeProgress(); }
    void setProgressListener(ProgressListener listener) { m_listener = std::move(listener); }

    // Whether "cancel this file" can act now; the host hears of every change. Set through
    // FileCancelScope.
    void setFileCancellable(bool cancellable);
    bool fileCancellable() const { return m_fileCancellable; }

    EngineFlags& flags;
    Host& host;
    Clock& clock;
    const Messages& messages;
    Log& log;

private:
    void noteFailure(std::string_view text);

    ProgressListener m_listener;
    std::deque<std::string> m_failures;
    std::int64_t m_earlierFailures = 0;
    bool m_fileCancellable = false;
};

// Marks the work on one file, which the user may cancel by itself ("Cancel this file") when
// cancellable: the host's control is enabled while the scope lives and disabled after it. A
// cancel is only taken from inside such a scope: one pressed for a file that ended before it
// was seen is dropped on entry and on exit, so it never skips the next file. The work inside
// tests bCancelFile and clears it when it acts on it.
class FileCancelScope {
public:
    explicit FileCancelScope(RunControl& rc, bool cancellable = true);
    ~FileCancelScope();
    FileCancelScope(const FileCancelScope&) = delete;
    FileCancelScope& operator=(const FileCancelScope&) = delete;

private:
    RunControl& m_rc;
};

// Waits while a pause is requested and neither an abort, a stop, the end of the run nor a
// cancel of the file at work (inside a FileCancelScope) came,
// showing "-Paused" after the window caption and in the tray tip meanwhile. With an event loop
// it waits in the host's loop; without one it sleeps until a flag changes. Either way a paused
// run costs no processor time.
void WaitWhilePaused(RunControl& rc);

// A run control of its own, for work outside a program folder (a benchmark, checking an archive
// set): the built-in English messages, a log that reaches only the host, and flags nobody sets
// unless the caller does.
class StandaloneControl {
public:
    StandaloneControl(Host& host, Clock& clock)
        : log("", clock, host), control(flags, host, clock, messages, log) {}

    EngineFlags flags;
    Messages messages;
    Log log;
    RunControl control;
};

}  // namespace kestrel
