// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kestrel {

// The flags through which the user steers a running backup or restore. Window events, the
// progress window and the service set them; the engine's loops test them after each block or
// file. Every change wakes a paused run's wait, from any thread.
class EngineFlags {
public:
    // One flag: reads and writes like a bool.
    class Flag {
    public:
        explicit Flag(EngineFlags& owner) : m_owner(owner) {}
        Flag(const Flag&) = delete;
        Flag& operator=(const Flag&) = delete;
        Flag& operator=(bool value) {
            m_value.store(value);
            m_owner.wake();
            return *this;
        }
        operator bool() const { return m_value.load(); }

    private:
        EngineFlags& m_owner;
        std::atomic<bool> m_value{false};
    };

    EngineFlags() = default;
    EngineFlags(const EngineFlags&) = delete;
    EngineFlags& operator=(const EngineFlags&) = delete;

    Flag bBackupRunning{*this};
    Flag bAbortBackup{*this};
    Flag bPauseBackup{*this};
    Flag bCancelFile{*this};

    // A request to stop all work and end the program: a stop signal (SIGINT, SIGTERM) or the
    // service's stop. Unlike the user's abort, nothing clears it.
    void requestStop();
    bool stopRequested() const;
    // Whether the operation under way must end now: the user aborted or a stop was requested.
    bool stopping() const { return bAbortBackup || stopRequested(); }

    // Counts changes; waitForChange(changes(), ...) after testing the flags misses none.
    std::uint64_t changes() const;
    // Blocks until a flag changes after the count seen, or at most for the given time (a stop
    // signal is only seen at the end of that time: a signal handler cannot wake a waiter).
    void waitForChange(std::uint64_t seen, std::chrono::milliseconds atMost);

private:
    void wake();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_changes = 0;  // guarded by m_mutex
    std::atomic<bool> m_stop{false};
};

}  // namespace kestrel
