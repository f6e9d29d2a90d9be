#pragma once

#include "platform/clock.h"

namespace kestrel::test {

// A clock that stands still until a test moves it.
class FakeClock : public Clock {
public:
    explicit FakeClock(DateTime now = *DateTime::fromParts(2006, 1, 15, 19, 30, 5)) : m_now(now) {}

    DateTime now() override { return m_now; }
    std::uint64_t tickMs() override { return m_tick; }

    void set(DateTime now) { m_now = now; }
    void advanceSeconds(std::int64_t s) {
        m_now = m_now.addSeconds(s);
        m_tick += static_cast<std::uint64_t>(s) * 1000u;
    }
    void advanceMs(std::uint64_t ms) { m_tick += ms; }

private:
    DateTime m_now;
    std::uint64_t m_tick = 1000;
};

}  // namespace kestrel::test
