#include "core/run_control.h"

namespace kestrel {
namespace {
// With an event loop the host waits for events; without one nothing can happen between flag
// changes but a stop signal, which is seen within the wait.
constexpr std::chrono::milliseconds kPausedEventWait{200};
constexpr std::chrono::milliseconds kPausedSleep{250};
}  // namespace

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
