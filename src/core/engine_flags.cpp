#include "core/engine_flags.h"

#include "core/app_context.h"

namespace kestrel {

void WaitWhilePaused(AppContext& ctx) {
    const std::string& paused = ctx.msg("strMsgPaused");
    ctx.host.setCaptionSuffix("-" + paused);
    ctx.host.setTrayTip(paused);
    while (ctx.flags.bPauseBackup && !ctx.flags.bAbortBackup && ctx.flags.bBackupRunning) {
        ctx.host.yield();
    }
    ctx.host.setCaptionSuffix("");
}

}  // namespace kestrel
