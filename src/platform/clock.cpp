// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/clock.h"

#include <time.h>

namespace kestrel {

DateTime SystemClock::now() {
    return toLocalDateTime(static_cast<std::int64_t>(::time(nullptr)));
}

DateTime toLocalDateTime(std::int64_t unixSeconds) {
    const auto t = static_cast<time_t>(unixSeconds);
    struct tm local {};
    if (::localtime_r(&t, &local) == nullptr) {
        return DateTime();
    }
    return DateTime::fromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                               local.tm_min, local.tm_sec < 60 ? local.tm_sec : 59)
        .value_or(DateTime());
}

std::uint64_t SystemClock::tickMs() {
    struct timespec ts {};
#ifdef CLOCK_BOOTTIME
    // Counts a suspended machine's sleep too, so that a scheduler sees it woke up.
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
#else
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace kestrel
