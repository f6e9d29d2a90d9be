// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jobs/scheduler.h"
#include "runner/job_runner.h"

namespace kestrel {

// The scheduler over the job runner: its runs go through the runner, with its refusals and
// locks, and every change of the jobs recomputes their next starts. Whoever owns the event loop
// calls tick() every second.
class RunnerScheduler final : private ScheduledRuns, private RunnerObserver {
public:
    RunnerScheduler(AppContext& ctx, JobRunner& runner);
    ~RunnerScheduler() override;
    RunnerScheduler(const RunnerScheduler&) = delete;
    RunnerScheduler& operator=(const RunnerScheduler&) = delete;

    void tick() { m_scheduler.tick(); }
    void refresh() { m_scheduler.refresh(); }
    Scheduler& scheduler() { return m_scheduler; }

private:
    Jobs jobs() override;
    bool canStart() override;
    Outcome runScheduled(const std::string& name) override;
    void jobsChanged() override;

    JobRunner& m_runner;
    Scheduler m_scheduler;
    bool m_refreshing = false;
};

}  // namespace kestrel
