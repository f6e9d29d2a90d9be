// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>

#include "platform/clock.h"

namespace kestrel::test {

// A clock whose date stands still until a test moves it. Its tick counter runs with real time
// (plus what the test adds), so that time-outs still end.
class FakeClock : public Clock {
public:
    explicit FakeClock(DateTime now = *DateTime::fromParts(2006, 1, 15, 19, 30, 5)) : m_now(now) {}

    DateTime now() override { return m_now; }
    std::uint64_t tickMs() override {
        if (m_held) {
            return m_tick;
        }
        const auto real = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
        return m_tick + static_cast<std::uint64_t>(real);
    }
    // The tick counter stands still too, until a test advances it: no time-out ends by itself.
    void holdTicks() {
        m_tick = tickMs();
        m_held = true;
    }

    void set(DateTime now) { m_now = now; }
    void advanceSeconds(std::int64_t s) {
        m_now = m_now.addSeconds(s);
        m_tick += static_cast<std::uint64_t>(s) * 1000u;
    }
    void advanceMs(std::uint64_t ms) { m_tick += ms; }

private:
    DateTime m_now;
    std::uint64_t m_tick = 1000;
    bool m_held = false;
};

}  // namespace kestrel::test
