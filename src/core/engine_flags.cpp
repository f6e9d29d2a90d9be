// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engine_flags.h"

#include "platform/signals.h"

namespace kestrel {

void EngineFlags::requestStop() {
    m_stop.store(true);
    wake();
}

bool EngineFlags::stopRequested() const {
    return m_stop.load() || signals::caughtStopSignal() != 0;
}

std::uint64_t EngineFlags::changes() const {
    std::lock_guard lock(m_mutex);
    return m_changes;
}

void EngineFlags::waitForChange(std::uint64_t seen, std::chrono::milliseconds atMost) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, atMost, [&] { return m_changes != seen; });
}

void EngineFlags::wake() {
    {
        std::lock_guard lock(m_mutex);
        ++m_changes;
    }
    m_changed.notify_all();
}

}  // namespace kestrel
