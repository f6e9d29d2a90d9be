// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/schedule_text.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::pair<const char*, std::uint8_t> kDays[] = {
    {"mon", kMonday}, {"tue", kTuesday},  {"wed", kWednesday}, {"thu", kThursday},
    {"fri", kFriday}, {"sat", kSaturday}, {"sun", kSunday}};
constexpr std::uint8_t kEveryDay = 127;
constexpr std::uint8_t kLastDayEntry = 31;  // the day list's last entry

// "HH:MM" as a time of day on the zero date.
std::optional<DateTime> parseTimeOfDay(std::string_view s) {
    if (s.size() != 5 || s[2] != ':') {
        return std::nullopt;
    }
    auto h = text::parseInt(s.substr(0, 2));
    auto m = text::parseInt(s.substr(3, 2));
    if (!h || !m || *h < 0 || *h > 23 || *m < 0 || *m > 59) {
        return std::nullopt;
    }
    return DateTime().addSeconds(*h * 3600 + *m * 60);
}

std::string twoDigits(unsigned n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02u", n);
    return buf;
}

}  // namespace

std::optional<DateTime> parseDateTimeText(std::string_view s) {
    if (s.size() != 16 || s[4] != '-' || s[7] != '-' || (s[10] != ' ' && s[10] != 'T') ||
        s[13] != ':') {
        return std::nullopt;
    }
    auto num = [&](size_t pos, size_t len) { return text::parseInt(s.substr(pos, len)); };
    auto y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2);
    if (!y || !mo || !d || !h || !mi) {
        return std::nullopt;
    }
    return DateTime::fromParts(static_cast<int>(*y), static_cast<int>(*mo), static_cast<int>(*d),
                               static_cast<int>(*h), static_cast<int>(*mi));
}

std::shared_ptr<clsSchedule> parseScheduleSpec(std::string_view spec, const DateTime& from,
                                               ScheduleTextError* error) {
    auto fail = [&](ScheduleTextError e) -> std::shared_ptr<clsSchedule> {
        *error = e;
        return nullptr;
    };
    *error = ScheduleTextError::None;
    const size_t colon = spec.find(':');
    if (colon == std::string_view::npos) {
        return fail(ScheduleTextError::NoKind);
    }
    const std::string kind = text::lower(spec.substr(0, colon));
    const std::string_view value = spec.substr(colon + 1);
    auto schedule = std::make_shared<clsSchedule>();
    schedule->enabled = true;
    schedule->start = from;
    // "WHAT@HH:MM": sets the time of day and gives WHAT.
    auto withTime = [&](std::string_view* what) {
        const size_t at = value.find('@');
        if (at == std::string_view::npos) {
            return false;
        }
        auto time = parseTimeOfDay(value.substr(at + 1));
        if (!time) {
            return false;
        }
        schedule->StartHour = *time;
        *what = value.substr(0, at);
        return true;
    };
    std::string_view what;
    if (kind == "hourly") {
        auto minute = text::parseInt(value);
        if (!minute || *minute < 0 || *minute > 59) {
            return fail(ScheduleTextError::BadMinute);
        }
        schedule->Tip = kScheduleHourly;
        schedule->Data = static_cast<std::uint8_t>(*minute);
    } else if (kind == "daily") {
        if (!withTime(&what)) {
            return fail(ScheduleTextError::BadTime);
        }
        std::uint8_t mask = 0;
        for (const std::string& day : text::split(text::lower(what), ',')) {
            if (day == "every") {
                mask = kEveryDay;
                continue;
            }
            auto it = std::find_if(std::begin(kDays), std::end(kDays),
                                   [&](const auto& d) { return day == d.first; });
            if (it == std::end(kDays)) {
                return fail(ScheduleTextError::BadDays);
            }
            mask |= it->second;
        }
        schedule->Tip = kScheduleDaily;
        schedule->Data = mask;
    } else if (kind == "monthly") {
        if (!withTime(&what)) {
            return fail(ScheduleTextError::BadTime);
        }
        const std::string day = text::lower(what);
        if (day == "last") {
            schedule->Data = kLastDayEntry;
        } else {
            auto n = text::parseInt(day);
            if (!n || *n < 1 || *n > 31) {
                return fail(ScheduleTextError::BadDay);
            }
            schedule->Data = static_cast<std::uint8_t>(*n - 1);
        }
        schedule->Tip = kScheduleMonthly;
    } else if (kind == "once") {
        auto at = parseDateTimeText(value);
        if (!at) {
            return fail(ScheduleTextError::BadDate);
        }
        schedule->Tip = kScheduleOnce;
        schedule->start = *at;
    } else {
        return fail(ScheduleTextError::UnknownKind);
    }
    return schedule;
}

std::string scheduleSpec(const clsSchedule& s) {
    std::string time = "@";
    time += s.StartHour.format("HH:mm");
    switch (s.Tip) {
        case kScheduleHourly:
            return "hourly:" + twoDigits(s.Data);
        case kScheduleDaily: {
            if ((s.Data & kEveryDay) == kEveryDay) {
                return "daily:every" + time;
            }
            std::string days;
            for (const auto& [name, bit] : kDays) {
                if (s.Data & bit) {
                    if (!days.empty()) {
                        days += ',';
                    }
                    days += name;
                }
            }
            return "daily:" + days + time;
        }
        case kScheduleMonthly:
            return "monthly:" +
                   (s.Data >= kLastDayEntry ? std::string("last") : std::to_string(s.Data + 1)) +
                   time;
        case kScheduleOnce:
            return "once:" + s.start.format("yyyy-MM-dd HH:mm");
        default:
            return "";
    }
}

}  // namespace kestrel
