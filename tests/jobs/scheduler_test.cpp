// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/scheduler.h"

#include <gtest/gtest.h>
#include <time.h>

#include <functional>

#include "core/app_context.h"
#include "jobs/next_start.h"
#include "support/job_builder.h"
#include "support/process_state.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

DateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return *DateTime::fromParts(y, mo, d, h, mi, s);
}

// Jobs and runs without an engine: a run records its name and the time, and may do what a
// run's yields would (advance the clock, tick again).
class FakeRuns : public ScheduledRuns {
public:
    explicit FakeRuns(Clock& clock) : m_clock(clock) {}

    Jobs jobs() override { return collection; }
    bool canStart() override { return !otherProcessRuns && !running; }
    Outcome runScheduled(const std::string& name) override {
        clsBackup* job = collection.find(name);
        if (job == nullptr) {
            return Outcome::Gone;
        }
        running = true;
        ran.push_back(name + "@" + m_clock.now().format("MM-dd HH:mm"));
        if (duringRun) {
            duringRun(name);
        }
        job->lastOK = m_clock.now();
        running = false;
        return Outcome::Ran;
    }

    clsBackup& add(const std::string& name, std::uint8_t tip, std::uint8_t data, DateTime start,
                   std::int64_t timeOfDay = 0) {
        auto job = std::make_shared<clsBackup>();
        job->sName = name;
        job->Schedule = test::schedule(tip, data, start, DateTime::fromSerialSeconds(timeOfDay));
        return collection.append(job);
    }

    Jobs collection;
    std::vector<std::string> ran;
    bool otherProcessRuns = false;
    bool running = false;
    std::function<void(const std::string&)> duringRun;

private:
    Clock& m_clock;
};

class SchedulerTest : public ::testing::Test {
protected:
    test::TestContext t;
    FakeRuns runs{t.clock};
    Scheduler scheduler{t.ctx->control, t.ctx->settings, runs};

    // Ticks once a second for the given number of seconds.
    void tickFor(int seconds) { tickFor(scheduler, seconds); }
    void tickFor(Scheduler& ticked, int seconds) {
        for (int i = 0; i < seconds; ++i) {
            ticked.tick();
            t.clock.advanceSeconds(1);
        }
    }
    void start(const DateTime& now) {
        t.clock.set(now);
        scheduler.refresh();
    }
};

TEST_F(SchedulerTest, JobsDueInOneMinuteRunInCollectionOrderAndAOnceJobRunsOnce) {
    runs.add("Hourly", kScheduleHourly, 0, at(2026, 1, 1));
    runs.add("Once", kScheduleOnce, 0, at(2026, 12, 9, 10, 0, 30));
    runs.add("Later", kScheduleHourly, 1, at(2026, 1, 1));
    start(at(2026, 12, 9, 9, 59, 50));
    // Both start within the first tick of 10:00, though the once-job's start is half a minute on.
    tickFor(120);
    EXPECT_EQ(runs.ran, (std::vector<std::string>{"Hourly@12-09 10:00", "Once@12-09 10:00",
                                                  "Later@12-09 10:01"}));
    EXPECT_EQ(runs.collection.find("Once")->nextStart, at(2026, 12, 9, 10, 0, 30))
        << "recomputed while its start still lay ahead";
    EXPECT_TRUE(
        t.loggedContaining("Once was due at 2026-12-09 10:00 but not started: it already "
                           "ran for that time"));
    // Every hour both hourly jobs run: a run of one does not push the other's start on.
    tickFor(3600);
    EXPECT_EQ(runs.ran.size(), 5u);
    EXPECT_EQ(nextRunText(*runs.collection.find("Once"), t.clock.now(), t.ctx->messages),
              "Not scheduled");
}

TEST_F(SchedulerTest, AVisibleWindowHoldsBackARunOnlyWithTheBlock) {
    runs.add("Docs", kScheduleHourly, 0, at(2026, 1, 1));
    start(at(2026, 12, 9, 9, 59, 58));
    t.host.visible = true;
    tickFor(70);
    EXPECT_TRUE(runs.ran.empty()) << "blocked by default";
    // Its next start moved on, so the next hour runs.
    t.ctx->settings.blockSchedule = false;
    tickFor(3600);
    EXPECT_EQ(runs.ran, (std::vector<std::string>{"Docs@12-09 11:00"}));
    // With missed runs caught up, a held run starts once the window is hidden.
    t.ctx->settings.blockSchedule = true;
    ASSERT_TRUE(t.ctx->settings.saveGeneral("CatchUpMissedRuns", "1"));
    tickFor(3600);
    EXPECT_EQ(runs.ran.size(), 1u);
    t.host.visible = false;
    tickFor(1);
    EXPECT_EQ(runs.ran.size(), 2u);
    EXPECT_TRUE(
        t.loggedContaining("Docs missed its scheduled run of 2026-12-09 12:00; it runs now"));
}

TEST_F(SchedulerTest, AJumpOfTwoDaysLeavesNoStaleNextStartAndMissedRunsAreNotMadeUp) {
    runs.add("Daily", kScheduleDaily, 127, at(2026, 1, 1), 8 * 3600);
    start(at(2026, 12, 9, 7, 0));
    tickFor(5);
    // Asleep for two days: the 08:00 runs of the 9th, 10th and 11th passed.
    t.clock.set(at(2026, 12, 11, 12, 0));
    tickFor(5);
    EXPECT_TRUE(runs.ran.empty()) << "missed runs are not made up by default";
    EXPECT_TRUE(
        t.loggedContaining("Daily missed its scheduled run of 2026-12-11 08:00: Kestrel "
                           "was not running or the machine slept"));
    EXPECT_EQ(runs.collection.find("Daily")->nextStart, at(2026, 12, 12, 8, 0));
    t.clock.set(at(2026, 12, 12, 7, 59, 59));
    tickFor(3);
    EXPECT_EQ(runs.ran, (std::vector<std::string>{"Daily@12-12 08:00"}));
}

// Started within the minute of a passed moment: missed (and caught up), never dropped unsaid.
TEST_F(SchedulerTest, AStartInTheMinuteOfAPassedMomentCountsItAsMissed) {
    runs.add("Hourly", kScheduleHourly, 0, at(2026, 1, 1)).lastOK = at(2026, 12, 1);
    runs.add("Daily", kScheduleDaily, 127, at(2026, 1, 1), 10 * 3600).lastOK = at(2026, 12, 1);
    start(at(2026, 12, 9, 10, 0, 39));
    tickFor(5);
    EXPECT_TRUE(runs.ran.empty());
    EXPECT_TRUE(
        t.loggedContaining("Hourly missed its scheduled run of 2026-12-09 10:00: Kestrel "
                           "was not running or the machine slept"));

    ASSERT_TRUE(t.ctx->settings.saveGeneral("CatchUpMissedRuns", "1"));
    Scheduler fresh{t.ctx->control, t.ctx->settings, runs};
    t.clock.set(at(2026, 12, 10, 10, 0, 39));
    fresh.refresh();
    tickFor(fresh, 5);
    EXPECT_EQ(runs.ran, (std::vector<std::string>{"Hourly@12-10 10:00", "Daily@12-10 10:00"}));
    EXPECT_TRUE(
        t.loggedContaining("Hourly missed its scheduled run of 2026-12-10 10:00; it runs now"));
}

TEST_F(SchedulerTest, AJobDueDuringARunStartsWhenItEndsOnce) {
    runs.add("Long", kScheduleHourly, 0, at(2026, 1, 1));
    runs.add("Short", kScheduleHourly, 5, at(2026, 1, 1));
    // The long run yields to the event loop for ten minutes, which keeps ticking.
    runs.duringRun = [&](const std::string& name) {
        if (name == "Long") {
            tickFor(600);
        }
    };
    start(at(2026, 12, 9, 9, 59, 59));
    tickFor(2);
    EXPECT_EQ(runs.ran, (std::vector<std::string>{"Long@12-09 10:00"}));
    EXPECT_EQ(scheduler.pending(), (std::vector<std::string>{"Short"}));
    EXPECT_TRUE(t.loggedContaining("Short is due at 2026-12-09 10:05 while another backup runs"));
    tickFor(1);
    EXPECT_EQ(runs.ran, (std::vector<std::string>{"Long@12-09 10:00", "Short@12-09 10:10"}));
    EXPECT_TRUE(t.logged("Starting Short, which fell due while another backup ran"));
    tickFor(600);
    EXPECT_EQ(runs.ran.size(), 2u);

    // Another process's run: the job waits for it, then runs once.
    runs.duringRun = nullptr;
    runs.otherProcessRuns = true;
    t.clock.set(at(2026, 12, 9, 11, 4, 50));
    tickFor(120);
    EXPECT_EQ(runs.ran.size(), 2u);
    runs.otherProcessRuns = false;
    tickFor(2);
    EXPECT_EQ(runs.ran.back(), "Short@12-09 11:06");
    tickFor(60);
    EXPECT_EQ(runs.ran.size(), 3u) << ::testing::PrintToString(runs.ran);
}

TEST_F(SchedulerTest, ADisabledScheduleDoesNotRunOnItsOldNextStart) {
    clsBackup& job = runs.add("Off", kScheduleHourly, 0, at(2026, 1, 1));
    start(at(2026, 12, 9, 9, 59, 59));
    job.Schedule->enabled = false;
    tickFor(3);
    EXPECT_TRUE(runs.ran.empty());
}

// Local time in a zone with daylight saving, from a moment in UTC that a test moves.
class ZoneClock : public Clock {
public:
    DateTime now() override { return toLocalDateTime(unix); }
    std::uint64_t tickMs() override { return static_cast<std::uint64_t>(unix) * 1000u; }
    std::int64_t unix = 0;
};

class DaylightSavingTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_tz.emplace("TZ", "Europe/Berlin");
        ::tzset();
        if (toLocalDateTime(1774746000) != at(2026, 3, 29, 3, 0)) {
            GTEST_SKIP() << "no time zone data for Europe/Berlin";
        }
    }
    void TearDown() override {
        m_tz.reset();
        ::tzset();
    }
    // Ticks once a second from one UTC moment to another, running what falls due.
    std::vector<std::string> runAcross(std::int64_t from, std::int64_t to, std::int64_t timeOfDay) {
        ZoneClock clock;
        test::TestContext t;
        AppContext ctx(t.ctx->paths, clock, t.host);
        EXPECT_TRUE(ctx.initialise());
        FakeRuns runs(clock);
        runs.add("Night", kScheduleDaily, 127, at(2026, 1, 1), timeOfDay);
        Scheduler scheduler(ctx.control, ctx.settings, runs);
        clock.unix = from;
        scheduler.refresh();
        for (; clock.unix < to; ++clock.unix) {
            scheduler.tick();
        }
        return runs.ran;
    }

private:
    std::optional<test::ScopedEnv> m_tz;
};

TEST_F(DaylightSavingTest, AMomentInTheGapRunsAfterItAndOneInTheRepeatedHourRunsOnce) {
    // 29 March 2026: 02:00 CET becomes 03:00 CEST at 01:00 UTC; 02:30 does not exist.
    EXPECT_EQ(runAcross(1774746000 - 600, 1774746000 + 600, 2 * 3600 + 30 * 60),
              (std::vector<std::string>{"Night@03-29 03:00"}));
    // 25 October 2026: 03:00 CEST becomes 02:00 CET at 01:00 UTC; 02:30 comes twice.
    EXPECT_EQ(runAcross(1792890000 - 3 * 3600, 1792890000 + 2 * 3600, 2 * 3600 + 30 * 60),
              (std::vector<std::string>{"Night@10-25 02:30"}));
}

}  // namespace
}  // namespace kestrel
