// SPDX-License-Identifier: GPL-3.0-or-later
#include "runner/runner_scheduler.h"
#include "core/app_context.h"

namespace kestrel {

RunnerScheduler::RunnerScheduler(AppContext& ctx, JobRunner& runner)
    : m_runner(runner), m_scheduler(ctx.control, ctx.settings, *this) {
    m_runner.addObserver(this);
    m_scheduler.refresh();
}

RunnerScheduler::~RunnerScheduler() {
    m_runner.removeObserver(this);
}

Jobs RunnerScheduler::jobs() {
    // A store another process changed (a job edited with kestrel-cli) is read first.
    m_runner.refreshIfChanged();
    return m_runner.jobs();
}

bool RunnerScheduler::canStart() {
    return !m_runner.busy() && !m_runner.quitPending() && !m_runner.jobRunElsewhere();
}

ScheduledRuns::Outcome RunnerScheduler::runScheduled(const std::string& name) {
    switch (m_runner.RunBackup(name)) {
        case RunnerResult::Done:
        case RunnerResult::Failed:
            return Outcome::Ran;
        case RunnerResult::Busy:
        case RunnerResult::JobIsActive:
        case RunnerResult::Locked:
        case RunnerResult::Quitting:
            return Outcome::Busy;
        case RunnerResult::PasswordUnreadable:
            // Locked: refused and logged; the next moment is tried again, for the user may
            // have set a new password by then.
            return Outcome::Gone;
        default:
            return Outcome::Gone;
    }
}

void RunnerScheduler::jobsChanged() {
    // A changed schedule carries the next start of the old one until recomputed.
    if (m_refreshing) {
        return;
    }
    m_refreshing = true;
    m_scheduler.refresh();
    m_refreshing = false;
}

}  // namespace kestrel
