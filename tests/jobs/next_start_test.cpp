// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/next_start.h"

#include <gtest/gtest.h>

#include "core/messages.h"
#include "support/job_builder.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

DateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return *DateTime::fromParts(y, mo, d, h, mi, s);
}

DateTime timeOfDay(int h, int mi) {
    return DateTime::fromSerialSeconds(h * 3600 + mi * 60);
}

using test::schedule;

TEST(NextStart, EveryKindFindsItsNextMomentAndSaysIt) {
    const DateTime y2026 = at(2026, 1, 1);
    const auto hourly30 = schedule(kScheduleHourly, 30, y2026);
    const auto monFri = schedule(kScheduleDaily, kMonday | kFriday, y2026, timeOfDay(8, 0));
    const auto the15th = schedule(kScheduleMonthly, 14, y2026, timeOfDay(12, 0));
    const auto the31st = schedule(kScheduleMonthly, 30, y2026, timeOfDay(12, 0));
    const auto lastDay = schedule(kScheduleMonthly, 31, at(2020, 1, 1), timeOfDay(23, 0));
    struct Case {
        const char* what;
        std::shared_ptr<clsSchedule> schedule;
        DateTime now;
        const char* text;  // nullptr: not checked
        DateTime next;     // zero: not checked
    };
    // 2026-12-09 is a Wednesday.
    const Case cases[] = {
        {"not this hour's :30", hourly30, at(2026, 12, 9, 10, 10), "Today at 11:30",
         at(2026, 12, 9, 11, 30)},
        {"across the year", hourly30, at(2026, 12, 31, 23, 40), "Tomorrow at 0:30",
         at(2027, 1, 1, 0, 30)},
        {"start past :30", schedule(kScheduleHourly, 30, at(2026, 12, 10, 14, 40)),
         at(2026, 12, 9, 9, 0), nullptr, at(2026, 12, 10, 15, 30)},
        {"next chosen weekday", monFri, at(2026, 12, 9, 9, 0), "Friday, Dec 11 at 08:00",
         at(2026, 12, 11, 8, 0)},
        {"the run moment itself", monFri, at(2026, 12, 7, 8, 0), "Today at 08:00", DateTime()},
        {"a second later", monFri, at(2026, 12, 7, 8, 0, 1), nullptr, at(2026, 12, 11, 8, 0)},
        {"a week on", schedule(kScheduleDaily, kMonday, y2026, timeOfDay(8, 0)),
         at(2026, 12, 7, 9, 0), nullptr, at(2026, 12, 14, 8, 0)},
        {"start's own day only if later",
         schedule(kScheduleDaily, 127, at(2026, 12, 10, 8, 0), timeOfDay(8, 0)),
         at(2026, 12, 9, 9, 0), nullptr, at(2026, 12, 11, 8, 0)},
        {"monthly next month", the15th, at(2026, 12, 20, 9, 0), "Friday, Jan 15 at 12:00",
         at(2027, 1, 15, 12, 0)},
        {"no 31st in the window", the31st, at(2026, 4, 1, 13, 0), "", DateTime()},
        {"the 31st", the31st, at(2026, 3, 30, 13, 0), nullptr, at(2026, 3, 31, 12, 0)},
        {"last day, common February", lastDay, at(2027, 2, 10), nullptr, at(2027, 2, 28, 23, 0)},
        {"last day, leap February", lastDay, at(2028, 2, 10), nullptr, at(2028, 2, 29, 23, 0)},
        {"last day, 31 days", lastDay, at(2028, 2, 29, 23, 30), nullptr, at(2028, 3, 31, 23, 0)},
        {"last day, 30 days", lastDay, at(2026, 4, 1), nullptr, at(2026, 4, 30, 23, 0)},
        {"once", schedule(kScheduleOnce, 0, at(2026, 12, 9, 9, 1)), at(2026, 12, 9, 9, 0),
         "Wednesday, Dec 09 at 09:01", at(2026, 12, 9, 9, 1)},
    };
    const Messages messages;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        clsBackup job;
        job.Schedule = c.schedule;
        const std::string text = ComputeNextStart(job, c.now, messages);
        if (c.text != nullptr) {
            EXPECT_EQ(text, c.text);
        }
        if (!c.next.isZero()) {
            EXPECT_EQ(job.nextStart, c.next);
        }
    }
    EXPECT_EQ(*previousScheduledMoment(*lastDay, at(2028, 3, 5)), at(2028, 2, 29, 23, 0));
}

TEST(NextStart, GermanWritesTheDayBeforeTheMonth) {
    Messages german;
    german.FillMessages(test::sourceLanguagesDir() + "/german.lng");
    clsBackup job;
    job.Schedule = schedule(kScheduleOnce, 0, at(2026, 12, 31, 23, 30));
    EXPECT_EQ(ComputeNextStart(job, at(2026, 12, 9), german), "Donnerstag, 31. Dez. um 23:30");
    job.Schedule->start = at(2027, 3, 5, 8, 0);
    EXPECT_EQ(ComputeNextStart(job, at(2026, 12, 9), german), "Freitag, 5. März um 08:00");
}

TEST(NextStart, SchedulesWithoutANextMoment) {
    const Messages messages;
    clsBackup job;
    // An empty mask: no next start and no text.
    job.Schedule = schedule(kScheduleDaily, 0, at(2026, 1, 1), timeOfDay(8, 0));
    job.nextStart = at(2026, 1, 2);
    EXPECT_EQ(ComputeNextStart(job, at(2026, 12, 9, 9, 0), messages), "");
    EXPECT_EQ(job.nextStart, at(2026, 1, 2));
    // A passed once-job: "Not scheduled", and the sentinel of a job that ran stays.
    job.Schedule = schedule(kScheduleOnce, 0, at(2026, 12, 9, 9, 1));
    job.nextStart = onceRanSentinel();
    EXPECT_EQ(ComputeNextStart(job, at(2026, 12, 9, 9, 2), messages), "Not scheduled");
    EXPECT_EQ(job.nextStart, onceRanSentinel());
    EXPECT_FALSE(previousScheduledMoment(*job.Schedule, at(2026, 12, 9, 9, 0)));
    EXPECT_EQ(*previousScheduledMoment(*job.Schedule, at(2026, 12, 10)), at(2026, 12, 9, 9, 1));

    job.Schedule->enabled = false;
    EXPECT_EQ(ComputeNextStart(job, at(2026, 12, 9, 9, 0), messages), "");
    job.Schedule->enabled = true;
    job.Schedule->Tip = 9;
    EXPECT_EQ(ComputeNextStart(job, at(2026, 12, 9, 9, 0), messages), "");
    job.Schedule.reset();
    EXPECT_EQ(ComputeNextStart(job, at(2026, 12, 9, 9, 0), messages), "Not scheduled");
}

}  // namespace
}  // namespace kestrel
