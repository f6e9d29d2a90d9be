// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/date_time.h"

#include <array>
#include <cstdio>

namespace kestrel {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

Civil civilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {y + (m <= 2), m, d};
}

const std::int64_t kZeroDateDays = daysFromCivil(1899, 12, 30);

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

constexpr std::array<const char*, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kDayNames = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                  "Friday", "Saturday", "Sunday"};

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

std::string twoDigits(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

}  // namespace

std::optional<DateTime> DateTime::fromParts(int year, int month, int day, int hour, int minute,
                                            int second) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > daysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59) {
        return std::nullopt;
    }
    const std::int64_t days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
        kZeroDateDays;
    return DateTime(days * 86400 + hour * 3600 + minute * 60 + second);
}

int DateTime::year() const {
    return static_cast<int>(civilFromDays(floorDiv(m_seconds, 86400) + kZeroDateDays).year);
}
int DateTime::month() const {
    return static_cast<int>(civilFromDays(floorDiv(m_seconds, 86400) + kZeroDateDays).month);
}
int DateTime::day() const {
    return static_cast<int>(civilFromDays(floorDiv(m_seconds, 86400) + kZeroDateDays).day);
}
int DateTime::hour() const {
    return static_cast<int>(timeOfDay() / 3600);
}
int DateTime::minute() const {
    return static_cast<int>(timeOfDay() / 60 % 60);
}
int DateTime::second() const {
    return static_cast<int>(timeOfDay() % 60);
}

int DateTime::weekday() const {
    // 1970-01-01 was a Thursday (4).
    const std::int64_t days = floorDiv(m_seconds, 86400) + kZeroDateDays;
    return static_cast<int>(((days % 7) + 7 + 3) % 7) + 1;
}

DateTime DateTime::date() const {
    return DateTime(floorDiv(m_seconds, 86400) * 86400);
}

std::int64_t DateTime::timeOfDay() const {
    return m_seconds - floorDiv(m_seconds, 86400) * 86400;
}

std::string DateTime::format(std::string_view pattern, const DateNames* names) const {
    const Civil c = civilFromDays(floorDiv(m_seconds, 86400) + kZeroDateDays);
    std::string out;
    size_t i = 0;
    auto starts = [&](std::string_view token) { return pattern.substr(i, token.size()) == token; };
    while (i < pattern.size()) {
        if (starts("yyyy")) {
            char buf[24];  // room for any 64-bit year and its sign
            std::snprintf(buf, sizeof buf, "%04lld", static_cast<long long>(c.year));
            out += buf;
            i += 4;
        } else if (starts("MMMM")) {
            out += kMonthNames[c.month - 1];
            i += 4;
        } else if (starts("MMM")) {
            if (names != nullptr) {
                out += names->shortMonths[c.month - 1];
            } else {
                out += std::string_view(kMonthNames[c.month - 1]).substr(0, 3);
            }
            i += 3;
        } else if (starts("MM")) {
            out += twoDigits(static_cast<int>(c.month));
            i += 2;
        } else if (starts("dddd")) {
            out += names != nullptr ? names->days[weekday() - 1] : kDayNames[weekday() - 1];
            i += 4;
        } else if (starts("ddd")) {
            out += std::string_view(kDayNames[weekday() - 1]).substr(0, 3);
            i += 3;
        } else if (starts("dd")) {
            out += twoDigits(static_cast<int>(c.day));
            i += 2;
        } else if (starts("d")) {
            out += std::to_string(c.day);
            i += 1;
        } else if (starts("HH")) {
            out += twoDigits(hour());
            i += 2;
        } else if (starts("mm")) {
            out += twoDigits(minute());
            i += 2;
        } else if (starts("ss")) {
            out += twoDigits(second());
            i += 2;
        } else {
            out += pattern[i++];
        }
    }
    return out;
}

}  // namespace kestrel
