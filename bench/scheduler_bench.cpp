// SPDX-License-Identifier: GPL-3.0-or-later
// The scheduler's cost per second: a tick over many jobs where nothing falls due, and the next
// starts of every job (the job list's rebuild). Both run in the event loop of the desktop program
// and the service, so they must stay far below a frame.
#include <cstdio>
#include <memory>
#include <string>

#include "bench_util.h"
#include "core/app_context.h"
#include "core/host.h"
#include "jobs/next_start.h"
#include "jobs/scheduler.h"

using namespace kestrel;

namespace {

// Real ticks, a settable date: each tick is one second on.
class StepClock final : public Clock {
public:
    explicit StepClock(DateTime start) : m_now(start) {}
    DateTime now() override { return m_now; }
    std::uint64_t tickMs() override { return m_ms; }
    void step() {
        m_now = m_now.addSeconds(1);
        m_ms += 1000;
    }

private:
    DateTime m_now;
    std::uint64_t m_ms = 1000;
};

class IdleRuns final : public ScheduledRuns {
public:
    Jobs jobs() override { return collection; }
    bool canStart() override { return true; }
    Outcome runScheduled(const std::string&) override {
        ++started;
        return Outcome::Ran;
    }
    Jobs collection;
    int started = 0;
};

// Every kind of schedule, none due in the hour measured.
void addJobs(IdleRuns& runs, int count, const DateTime& base) {
    const std::uint8_t kinds[] = {kScheduleHourly, kScheduleDaily, kScheduleMonthly, kScheduleOnce};
    for (int i = 0; i < count; ++i) {
        auto job = std::make_shared<clsBackup>();
        job->sName = "Job " + std::to_string(i);
        job->Schedule = std::make_shared<clsSchedule>();
        job->Schedule->Tip = kinds[i % 4];
        job->Schedule->enabled = true;
        job->Schedule->start = base.addDays(-30);
        switch (job->Schedule->Tip) {
            case kScheduleHourly:
                job->Schedule->Data = 59;  // minute 59: after the measured hour's ticks
                break;
            case kScheduleDaily:
                job->Schedule->Data = 0x7f;
                job->Schedule->StartHour = DateTime::fromSerialSeconds(20 * 3600 + i % 60 * 60);
                break;
            case kScheduleMonthly:
                job->Schedule->Data = static_cast<std::uint8_t>(i % 28 + 1);
                job->Schedule->StartHour = DateTime::fromSerialSeconds(22 * 3600);
                break;
            default:
                job->Schedule->start = base.addDays(10 + i % 100);
                break;
        }
        runs.collection.append(job);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Options o = bench::parseOptions(argc, argv, {1000, 0, 0, ""});
    bench::Scratch scratch(o.dir);
    const DateTime base = *DateTime::fromParts(2026, 12, 9, 10, 0, 0);
    StepClock clock(base);
    NullHost host;
    AppContext ctx(ProgramFolder(scratch.path() + "/home", {}), clock, host);
    if (!ctx.initialise()) {
        std::fprintf(stderr, "cannot make the program folder\n");
        return 1;
    }
    IdleRuns runs;
    addJobs(runs, o.files, base);
    Scheduler scheduler(ctx.control, ctx.settings, runs);

    const int refreshes = 100;
    const double refresh = bench::timed([&] {
        for (int i = 0; i < refreshes; ++i)
            scheduler.refresh();
    });
    std::printf("next starts of %d jobs: %8.3f ms each (target < 10 ms)\n", o.files,
                refresh * 1000 / refreshes);

    std::string text;
    const double texts = bench::timed([&] {
        for (const auto& job : runs.collection)
            text = ComputeNextStart(*job, base, ctx.messages);
    });
    std::printf("next-run texts of %d jobs: %8.3f ms\n", o.files, texts * 1000);

    const int ticks = 3000;  // 10:00:00 to 10:50:00, nothing due
    const double ticking = bench::timed([&] {
        for (int i = 0; i < ticks; ++i) {
            scheduler.tick();
            clock.step();
        }
    });
    std::printf("tick over %d jobs, nothing due: %8.3f ms each (target < 1 ms)\n", o.files,
                ticking * 1000 / ticks);
    if (runs.started != 0) {
        std::fprintf(stderr, "%d runs started where none was due\n", runs.started);
        return 1;
    }
    return 0;
}
