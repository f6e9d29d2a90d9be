// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/run_control.h"

namespace kestrel {
namespace {
// With an event loop the host waits for events; without one nothing can happen between flag
// changes but a stop signal, which is seen within the wait.
constexpr std::chrono::milliseconds kPausedEventWait{200};
constexpr std::chrono::milliseconds kPausedSleep{250};
// A box shows the last few; a run that failed on every file has the rest in the log.
constexpr size_t kFailuresShown = 3;
}  // namespace

void RunControl::noteFailure(std::string_view text) {
    // The failure lines share their language's prefix ("FAIL:", "FEHLER:").
    const std::string& sample = msg("strMsgUploadFail");
    const size_t colon = sample.find(':');
    const std::string_view prefix = colon == std::string::npos
                                        ? std::string_view("FAIL:")
                                        : std::string_view(sample).substr(0, colon + 1);
    if (!text.starts_with(prefix)) {
        return;
    }
    m_failures.emplace_back(text);
    if (m_failures.size() > kFailuresShown) {
        m_failures.pop_front();
        ++m_earlierFailures;
    }
}

std::string RunControl::failureDetails() const {
    std::string details;
    if (m_earlierFailures > 0) {
        details = format("strMsgEarlierFailures", {{"%n", std::to_string(m_earlierFailures)}});
    }
    for (const std::string& line : m_failures) {
        details += (details.empty() ? "" : "\n") + line;
    }
    return details;
}

void RunControl::updateProgress(const std::string& title, const std::string& item,
                                double filePercent, double totalPercent) {
    host.updateProgress(title, item, filePercent, totalPercent);
    if (m_listener) {
        m_listener(title, item, filePercent, totalPercent);
    }
}

void RunControl::setFileCancellable(bool cancellable) {
    if (m_fileCancellable != cancellable) {
        m_fileCancellable = cancellable;
        host.setFileCancellable(cancellable);
    }
}

FileCancelScope::FileCancelScope(RunControl& rc, bool cancellable) : m_rc(rc) {
    m_rc.flags.bCancelFile = false;
    m_rc.setFileCancellable(cancellable);
}

FileCancelScope::~FileCancelScope() {
    m_rc.setFileCancellable(false);
    m_rc.flags.bCancelFile = false;
}

void WaitWhilePaused(RunControl& rc) {
    const std::string& paused = rc.msg("strMsgPaused");
    rc.host.setCaptionSuffix("-" + paused);
    rc.host.setTrayTip(paused);
    EngineFlags& f = rc.flags;
    for (;;) {
        const std::uint64_t seen = f.changes();
        // A file cancelled while paused is given up at once; the run stays paused after it.
        if (!f.bPauseBackup || f.stopping() || !f.bBackupRunning ||
            (f.bCancelFile && rc.fileCancellable())) {
            break;
        }
        if (rc.host.hasEventLoop()) {
            rc.host.waitForEvents(kPausedEventWait);
        } else {
            f.waitForChange(seen, kPausedSleep);
        }
    }
    rc.host.setCaptionSuffix("");
}

}  // namespace kestrel
