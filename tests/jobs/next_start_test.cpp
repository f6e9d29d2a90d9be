#include "jobs/next_start.h"

#include <gtest/gtest.h>

#include "core/messages.h"

namespace kestrel {
namespace {

DateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return *DateTime::fromParts(y, mo, d, h, mi, s);
}

DateTime timeOfDay(int h, int mi) {
    return DateTime::fromSerialSeconds(h * 3600 + mi * 60);
}

class NextStartTest : public ::testing::Test {
protected:
    Messages messages;
    clsBackup job;

    void schedule(std::uint8_t tip, std::uint8_t data, DateTime start, DateTime hour = {}) {
        job.Schedule = std::make_shared<clsSchedule>();
        job.Schedule->Tip = tip;
        job.Schedule->Data = data;
        job.Schedule->start = start;
        job.Schedule->StartHour = hour;
        job.Schedule->enabled = true;
        job.nextStart = DateTime();
    }
    std::string next(const DateTime& now) { return ComputeNextStart(job, now, messages); }
};

TEST_F(NextStartTest, HourlyUsesTheNextClockHourAndTheStartWhileItLiesAhead) {
    schedule(kScheduleHourly, 30, at(2026, 1, 1));
    // The current hour's :30 is not used, even while it lies ahead.
    EXPECT_EQ(next(at(2026, 12, 9, 10, 10)), "Today at 11:30");
    EXPECT_EQ(job.nextStart, at(2026, 12, 9, 11, 30));
    next(at(2026, 12, 9, 10, 45));
    EXPECT_EQ(job.nextStart, at(2026, 12, 9, 11, 30));
    // The hour without a leading zero; across midnight it is tomorrow.
    EXPECT_EQ(next(at(2026, 12, 9, 8, 5)), "Today at 9:30");
    EXPECT_EQ(next(at(2026, 12, 9, 23, 45)), "Tomorrow at 0:30");
    EXPECT_EQ(job.nextStart, at(2026, 12, 10, 0, 30));
    // At the end of a month and of a year tomorrow is the 1st, by calendar date.
    EXPECT_EQ(next(at(2026, 12, 31, 23, 40)), "Tomorrow at 0:30");
    EXPECT_EQ(job.nextStart, at(2027, 1, 1, 0, 30));
    EXPECT_EQ(next(at(2026, 4, 30, 23, 40)), "Tomorrow at 0:30");

    // A start tomorrow: its own hour, or the one after when its minute is past :30.
    schedule(kScheduleHourly, 30, at(2026, 12, 10, 14, 0));
    EXPECT_EQ(next(at(2026, 12, 9, 9, 0)), "Tomorrow at 14:30");
    schedule(kScheduleHourly, 30, at(2026, 12, 10, 14, 40));
    next(at(2026, 12, 9, 9, 0));
    EXPECT_EQ(job.nextStart, at(2026, 12, 10, 15, 30));
    // Further ahead: a date text.
    schedule(kScheduleHourly, 5, at(2026, 12, 14, 9, 0));
    EXPECT_EQ(next(at(2026, 12, 9, 9, 0)), "Monday, Dec 14 at 9:05");
}

TEST_F(NextStartTest, DailyFindsTheNextChosenWeekday) {
    // Monday and Friday at 08:00; 2026-12-09 is a Wednesday.
    schedule(kScheduleDaily, kMonday | kFriday, at(2026, 1, 1), timeOfDay(8, 0));
    EXPECT_EQ(next(at(2026, 12, 9, 9, 0)), "Friday, Dec 11 at 08:00");
    EXPECT_EQ(job.nextStart, at(2026, 12, 11, 8, 0));
    EXPECT_EQ(next(at(2026, 12, 7, 7, 0)), "Today at 08:00");
    // The run moment itself is still today; a second later it is next Friday.
    EXPECT_EQ(next(at(2026, 12, 7, 8, 0)), "Today at 08:00");
    next(at(2026, 12, 7, 8, 0, 1));
    EXPECT_EQ(job.nextStart, at(2026, 12, 11, 8, 0));
    // Only Mondays, on a Monday after the time: a week on.
    schedule(kScheduleDaily, kMonday, at(2026, 1, 1), timeOfDay(8, 0));
    next(at(2026, 12, 7, 9, 0));
    EXPECT_EQ(job.nextStart, at(2026, 12, 14, 8, 0));
    // A start ahead: its own day only when the time of day is later than the start's.
    schedule(kScheduleDaily, 127, at(2026, 12, 10, 8, 0), timeOfDay(8, 0));
    next(at(2026, 12, 9, 9, 0));
    EXPECT_EQ(job.nextStart, at(2026, 12, 11, 8, 0));
    // An empty mask: no next start and no text.
    schedule(kScheduleDaily, 0, at(2026, 1, 1), timeOfDay(8, 0));
    job.nextStart = at(2026, 1, 2);
    EXPECT_EQ(next(at(2026, 12, 9, 9, 0)), "");
    EXPECT_EQ(job.nextStart, at(2026, 1, 2));
}

TEST_F(NextStartTest, MonthlyDaysAndTheLastDayOfEachMonth) {
    schedule(kScheduleMonthly, 14, at(2026, 1, 1), timeOfDay(12, 0));
    EXPECT_EQ(next(at(2026, 12, 20, 9, 0)), "Friday, Jan 15 at 12:00");
    EXPECT_EQ(job.nextStart, at(2027, 1, 15, 12, 0));
    EXPECT_EQ(next(at(2026, 12, 15, 11, 0)), "Today at 12:00");
    // Day 31 with no 31st within the window: none.
    schedule(kScheduleMonthly, 30, at(2026, 1, 1), timeOfDay(12, 0));
    EXPECT_EQ(next(at(2026, 4, 1, 13, 0)), "");
    next(at(2026, 3, 30, 13, 0));
    EXPECT_EQ(job.nextStart, at(2026, 3, 31, 12, 0));

    // "Last day! ": the 28th of a common February, the 29th of a leap year's, the 30th or 31st.
    schedule(kScheduleMonthly, 31, at(2020, 1, 1), timeOfDay(23, 0));
    next(at(2027, 2, 10));
    EXPECT_EQ(job.nextStart, at(2027, 2, 28, 23, 0));
    next(at(2028, 2, 10));
    EXPECT_EQ(job.nextStart, at(2028, 2, 29, 23, 0));
    next(at(2028, 2, 29, 23, 30));
    EXPECT_EQ(job.nextStart, at(2028, 3, 31, 23, 0));
    next(at(2026, 4, 1));
    EXPECT_EQ(job.nextStart, at(2026, 4, 30, 23, 0));
    EXPECT_EQ(*previousScheduledMoment(*job.Schedule, at(2028, 3, 5)), at(2028, 2, 29, 23, 0));
}

TEST_F(NextStartTest, OnceAndTheKindsWithoutAStart) {
    schedule(kScheduleOnce, 0, at(2026, 12, 9, 9, 1));
    EXPECT_EQ(next(at(2026, 12, 9, 9, 0)), "Wednesday, Dec 09 at 09:01");
    EXPECT_EQ(job.nextStart, at(2026, 12, 9, 9, 1));
    // Passed: "Not scheduled", and the sentinel of a job that ran stays.
    job.nextStart = onceRanSentinel();
    EXPECT_EQ(next(at(2026, 12, 9, 9, 2)), "Not scheduled");
    EXPECT_EQ(job.nextStart, onceRanSentinel());

    job.Schedule->enabled = false;
    EXPECT_EQ(next(at(2026, 12, 9, 9, 0)), "");
    job.Schedule->enabled = true;
    job.Schedule->Tip = 9;
    EXPECT_EQ(next(at(2026, 12, 9, 9, 0)), "");
    job.Schedule.reset();
    EXPECT_EQ(next(at(2026, 12, 9, 9, 0)), "Not scheduled");
}

TEST_F(NextStartTest, PreviousMomentsForCatchingUp) {
    schedule(kScheduleHourly, 30, at(2026, 12, 9, 9, 0));
    EXPECT_EQ(*previousScheduledMoment(*job.Schedule, at(2026, 12, 9, 11, 10)),
              at(2026, 12, 9, 10, 30));
    EXPECT_EQ(*previousScheduledMoment(*job.Schedule, at(2026, 12, 9, 11, 30)),
              at(2026, 12, 9, 11, 30));
    // Not before the schedule's start.
    EXPECT_FALSE(previousScheduledMoment(*job.Schedule, at(2026, 12, 9, 9, 20)));
    schedule(kScheduleDaily, kFriday, at(2026, 1, 1), timeOfDay(8, 0));
    EXPECT_EQ(*previousScheduledMoment(*job.Schedule, at(2026, 12, 9, 9, 0)),
              at(2026, 12, 4, 8, 0));
    schedule(kScheduleOnce, 0, at(2026, 12, 9, 9, 1));
    EXPECT_FALSE(previousScheduledMoment(*job.Schedule, at(2026, 12, 9, 9, 0)));
    EXPECT_EQ(*previousScheduledMoment(*job.Schedule, at(2026, 12, 10)), at(2026, 12, 9, 9, 1));
}

}  // namespace
}  // namespace kestrel
