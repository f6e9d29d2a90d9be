// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// Day and month names for DateTime::format, in the user's language.
struct DateNames {
    std::array<std::string, 7> days;          // Monday first
    std::array<std::string, 12> shortMonths;  // "Jan" ... "Dec"
};

// A civil date and time of day in local time, to the second, as the job store, the schedules
// and the log use them. The default value is the zero date, 30 Dec 1899 00:00:00, which stands
// for "never" in the job records. Arithmetic is on the calendar only: no time zone is applied.
class DateTime {
public:
    DateTime() = default;

    // Returns nothing when a part is out of range (month 13, 30 February, hour 24, ...).
    static std::optional<DateTime> fromParts(int year, int month, int day, int hour = 0,
                                             int minute = 0, int second = 0);
    // Seconds counted from the zero date; negative values lie before it.
    static DateTime fromSerialSeconds(std::int64_t seconds) { return DateTime(seconds); }

    std::int64_t serialSeconds() const { return m_seconds; }
    int year() const;
    int month() const;  // 1..12
    int day() const;    // 1..31
    int hour() const;
    int minute() const;
    int second() const;
    // 1 = Monday ... 7 = Sunday.
    int weekday() const;
    bool isZero() const { return m_seconds == 0; }

    DateTime date() const;           // the same day at 00:00:00
    std::int64_t timeOfDay() const;  // seconds since midnight
    DateTime addDays(std::int64_t days) const { return DateTime(m_seconds + days * 86400); }
    DateTime addSeconds(std::int64_t s) const { return DateTime(m_seconds + s); }

    // Formats with the tokens yyyy, MMMM, MMM, MM, dddd, ddd, dd, HH, mm, ss; every other
    // character is copied. Month and day names are English unless names are given (which
    // supply dddd and MMM).
    std::string format(std::string_view pattern, const DateNames* names = nullptr) const;

    auto operator<=>(const DateTime&) const = default;

private:
    explicit DateTime(std::int64_t seconds) : m_seconds(seconds) {}
    std::int64_t m_seconds = 0;
};

}  // namespace kestrel
