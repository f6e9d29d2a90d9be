// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/next_start.h"

#include "core/messages.h"

namespace kestrel {
namespace {

DateTime at(const DateTime& day, std::int64_t timeOfDay) {
    return day.date().addSeconds(timeOfDay);
}

DateTime toMinute(const DateTime& t) {
    return t.addSeconds(-t.second());
}

bool isLastDayOfMonth(const DateTime& day) {
    return day.addDays(1).month() != day.month();
}

// Days 1 to 31 by their list index 0 to 30; index 31 is the last day of every month.
bool monthlyDayMatches(std::uint8_t data, const DateTime& day) {
    if (data <= 30) {
        return day.day() == data + 1;
    }
    return data == 31 && isLastDayOfMonth(day);
}

bool weekdayChosen(std::uint8_t mask, const DateTime& day) {
    return (mask & (1u << (7 - day.weekday()))) != 0;
}

std::string twoDigits(int n) {
    std::string text = std::to_string(n);
    if (n >= 0 && n < 10)
        text.insert(text.begin(), '0');
    return text;
}

std::string dateText(const DateTime& t, const Messages& messages) {
    const DateNames names = dateNamesOf(messages);
    return t.format(messages.GetMessage("strMsgDateFormat"), &names);
}

// "Today at" + time. The English text has no blank at its end ("Tomorrow at " has one), which
// would show "Today at08:00": a text that does not end in a blank gets one.
std::string withTime(const Messages& messages, const char* key, const std::string& time) {
    std::string text = messages.GetMessage(key);
    if (!text.empty() && text.back() != ' ') {
        text += ' ';
    }
    return text + time;
}

// "Today at 08:00" or "Friday, Mar 13 at 08:00".
std::string dayText(const DateTime& next, const DateTime& now, const std::string& time,
                    const Messages& messages) {
    if (next.date() == now.date()) {
        return withTime(messages, "strMsgTodayAt", time);
    }
    return dateText(next, messages) + messages.GetMessage("strMsgDateAt") + time;
}

std::string hourly(clsBackup& job, const clsSchedule& s, const DateTime& now,
                   const Messages& messages) {
    const std::int64_t minute = s.Data * 60;
    DateTime next;
    if (now < s.start) {
        next = at(s.start, s.start.hour() * 3600 + minute);
        if (s.start.minute() > s.Data) {
            next = next.addSeconds(3600);
        }
    } else {
        // The current hour's minute is not used, even when it still lies ahead.
        next = at(now, now.hour() * 3600 + 3600 + minute);
    }
    job.nextStart = next;
    const std::string time = std::to_string(next.hour()) + ":" + twoDigits(s.Data);
    // By calendar date, so that the 1st after a month's 31st is tomorrow.
    if (next.date() == now.date().addDays(1)) {
        return withTime(messages, "strMsgTomorrowAt", time);
    }
    if (next.date() == now.date()) {
        return withTime(messages, "strMsgTodayAt", time);
    }
    return dateText(next, messages) + messages.GetMessage("strMsgDateAt") + time;
}

std::string daily(clsBackup& job, const clsSchedule& s, const DateTime& now,
                  const Messages& messages) {
    const std::int64_t time = s.StartHour.timeOfDay();
    DateTime first;
    if (now < s.start) {
        first = time > s.start.timeOfDay() ? s.start.date() : s.start.date().addDays(1);
    } else {
        first = at(now, time) >= now ? now.date() : now.date().addDays(1);
    }
    for (int i = 0; i < 7; ++i) {
        const DateTime day = first.addDays(i);
        if (weekdayChosen(s.Data, day)) {
            job.nextStart = at(day, time);
            return dayText(day, now, s.StartHour.format("HH:mm"), messages);
        }
    }
    return "";
}

std::string monthly(clsBackup& job, const clsSchedule& s, const DateTime& now,
                    const Messages& messages) {
    const std::int64_t time = s.StartHour.timeOfDay();
    DateTime first;
    if (now <= s.start) {
        first = s.start > at(s.start, time) ? s.start.date().addDays(1) : s.start.date();
    } else {
        first = now > at(now, time) ? now.date().addDays(1) : now.date();
    }
    for (int i = 0; i <= 31; ++i) {
        const DateTime day = first.addDays(i);
        if (monthlyDayMatches(s.Data, day)) {
            job.nextStart = at(day, time);
            return dayText(day, now, s.StartHour.format("HH:mm"), messages);
        }
    }
    return "";
}

std::string once(clsBackup& job, const clsSchedule& s, const DateTime& now,
                 const Messages& messages) {
    if (s.start < now) {
        return messages.GetMessage("strMsgNotSched");
    }
    job.nextStart = s.start;
    return dateText(s.start, messages) + messages.GetMessage("strMsgDateAt") +
           s.start.format("HH:mm");
}

}  // namespace

DateTime onceRanSentinel() {
    return *DateTime::fromParts(1955, 1, 1);
}

DateNames dateNamesOf(const Messages& messages) {
    static constexpr const char* kDayKeys[] = {"strMsgMonday",   "strMsgTuesday", "strMsgWednesday",
                                               "strMsgThursday", "strMsgFriday",  "strMsgSaturday",
                                               "strMsgSunday"};
    static constexpr const char* kMonthKeys[] = {
        "strMsgJan", "strMsgFeb", "strMsgMar", "strMsgApr", "strMsgMay", "strMsgJun",
        "strMsgJul", "strMsgAug", "strMsgSep", "strMsgOct", "strMsgNov", "strMsgDec"};
    DateNames names;
    for (size_t i = 0; i < names.days.size(); ++i) {
        names.days[i] = messages.GetMessage(kDayKeys[i]);
    }
    for (size_t i = 0; i < names.shortMonths.size(); ++i) {
        names.shortMonths[i] = messages.GetMessage(kMonthKeys[i]);
    }
    return names;
}

std::string ComputeNextStart(clsBackup& job, const DateTime& now, const Messages& messages) {
    if (!job.Schedule) {
        return messages.GetMessage("strMsgNotSched");
    }
    const clsSchedule& s = *job.Schedule;
    if (!s.enabled) {
        return "";
    }
    switch (s.Tip) {
        case kScheduleHourly:
            return hourly(job, s, now, messages);
        case kScheduleDaily:
            return daily(job, s, now, messages);
        case kScheduleMonthly:
            return monthly(job, s, now, messages);
        case kScheduleOnce:
            return once(job, s, now, messages);
        default:
            return "";
    }
}

std::string nextRunText(const clsBackup& job, const DateTime& now, const Messages& messages) {
    clsBackup scratch;
    scratch.Schedule = job.Schedule;
    scratch.nextStart = job.nextStart;
    return ComputeNextStart(scratch, now, messages);
}

bool scheduleActive(const clsBackup& job) {
    return job.Schedule && job.Schedule->enabled && job.Schedule->Tip >= kScheduleHourly &&
           job.Schedule->Tip <= kScheduleOnce;
}

std::optional<DateTime> previousScheduledMoment(const clsSchedule& s, const DateTime& now) {
    const DateTime from = toMinute(s.start);
    auto counted = [&](const DateTime& moment) -> std::optional<DateTime> {
        if (moment < from) {
            return std::nullopt;
        }
        return moment;
    };
    const std::int64_t time = s.StartHour.timeOfDay();
    switch (s.Tip) {
        case kScheduleHourly: {
            if (s.Data > 59) {
                return std::nullopt;
            }
            DateTime moment = at(now, now.hour() * 3600 + s.Data * 60);
            if (moment > now) {
                moment = moment.addSeconds(-3600);
            }
            return counted(moment);
        }
        case kScheduleDaily:
        case kScheduleMonthly: {
            // A week back finds every weekday; two months back every day of the month.
            const int days = s.Tip == kScheduleDaily ? 7 : 62;
            for (int i = 0; i <= days; ++i) {
                const DateTime day = now.date().addDays(-i);
                const DateTime moment = at(day, time);
                const bool chosen = s.Tip == kScheduleDaily ? weekdayChosen(s.Data, day)
                                                            : monthlyDayMatches(s.Data, day);
                if (chosen && moment <= now) {
                    return counted(moment);
                }
            }
            return std::nullopt;
        }
        case kScheduleOnce:
            if (s.start <= now) {
                return s.start;
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace kestrel
