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

void WaitWhilePaused(RunControl& rc) {
    const std::string& paused = rc.msg("strMsgPaused");
    rc.host.setCaptionSuffix("-" + paused);
    rc.host.setTrayTip(paused);
    EngineFlags& f = rc.flags;
    for (;;) {
        const std::uint64_t seen = f.changes();
        if (!f.bPauseBackup || f.stopping() || !f.bBackupRunning) {
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
