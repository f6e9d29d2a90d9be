#pragma once

#include <atomic>

namespace kestrel {

// The flags through which the user steers a running backup or restore. Window events and the
// console's interrupt handler set them; the engine's loops test them after each block or file.
// Atomic so that a signal handler may set bAbortBackup.
struct EngineFlags {
    std::atomic<bool> bBackupRunning{false};
    std::atomic<bool> bAbortBackup{false};
    std::atomic<bool> bPauseBackup{false};
    std::atomic<bool> bCancelFile{false};
};

}  // namespace kestrel

namespace kestrel {

struct AppContext;

// Waits, yielding to the user interface, while a pause is requested and neither an abort nor
// the end of the run came. Shows "-Paused" after the window caption and in the tray tip
// meanwhile.
void WaitWhilePaused(AppContext& ctx);

}  // namespace kestrel
