// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "platform/date_time.h"

namespace kestrel {

// The time sources the program reads. Passed by reference wherever time matters, so that tests
// can set the date (schedules, log stamps, the job store) and advance the tick counter.
class Clock {
public:
    virtual ~Clock() = default;
    // The current local date and time.
    virtual DateTime now() = 0;
    // Milliseconds from an arbitrary start, sleep included; never goes backwards. Time-outs are
    // measured on it.
    virtual std::uint64_t tickMs() = 0;
};

// The local date and time of a moment given in seconds since 1970-01-01 UTC.
DateTime toLocalDateTime(std::int64_t unixSeconds);

// Reads the system's real-time and monotonic clocks.
class SystemClock final : public Clock {
public:
    DateTime now() override;
    std::uint64_t tickMs() override;
};

}  // namespace kestrel
