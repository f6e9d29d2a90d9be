// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/scheduler.h"

#include <algorithm>
#include <cstdlib>

#include "core/run_control.h"
#include "core/settings.h"
#include "jobs/next_start.h"

namespace kestrel {
namespace {

// Ticks further apart than this mean the program was not ticking: asleep, or held up.
constexpr std::int64_t kSteadyTickGap = 120;
// How far the wall clock may drift from real time between ticks and still be running steadily.
constexpr std::int64_t kDrift = 120;

// Whether the wall clock moved by what real time did, give or take a daylight-saving shift (an
// hour, or half of one) rather than a clock set by hand.
bool steadyClock(std::int64_t wall, std::int64_t real) {
    const std::int64_t off = std::llabs(wall - real);
    return off <= kDrift || std::llabs(off - 3600) <= kDrift || std::llabs(off - 1800) <= kDrift;
}

DateTime toMinute(const DateTime& t) {
    return t.addSeconds(-t.second());
}

bool sameSchedule(const clsSchedule& a, const clsSchedule& b) {
    return a.Tip == b.Tip && a.Data == b.Data && a.start == b.start && a.StartHour == b.StartHour &&
           a.enabled == b.enabled;
}

std::string stamp(const DateTime& t) {
    return t.format("yyyy-MM-dd HH:mm");
}

}  // namespace

Scheduler::Scheduler(RunControl& rc, Settings& settings, ScheduledRuns& runs)
    : m_rc(rc), m_settings(settings), m_runs(runs) {}

bool Scheduler::catchUpOn() const {
    return m_settings.general("CatchUpMissedRuns", "0") == "1";
}

bool Scheduler::advanceWindow(const DateTime& now, std::uint64_t tickMs, DateTime* from) {
    const DateTime minute = toMinute(now);
    bool steady = false;
    if (m_lastNow) {
        const std::int64_t wall = now.serialSeconds() - m_lastNow->serialSeconds();
        const auto real = static_cast<std::int64_t>(tickMs / 1000) -
                          static_cast<std::int64_t>(m_lastTickMs / 1000);
        steady = real <= kSteadyTickGap && steadyClock(wall, real);
    }
    if (!steady) {
        // Only the current minute: what passed meanwhile was missed (or is caught up).
        m_doneThrough = minute.addSeconds(-60);
    }
    *from = m_doneThrough;
    // After a clock turned back for the repeated hour, the minutes already looked at stay done.
    m_doneThrough = std::max(m_doneThrough, minute);
    m_lastNow = now;
    m_lastTickMs = tickMs;
    return steady;
}

void Scheduler::notStarted(const std::string& key, const Due& due) {
    JobState& state = m_state[due.name];
    if (state.loggedFor == due.moment) {
        return;
    }
    state.loggedFor = due.moment;
    m_rc.WriteLog(m_rc.format(key, {{"%d", due.name}, {"%t", stamp(due.moment)}}));
}

void Scheduler::collectDue(const Jobs& jobs, const DateTime& now, const DateTime& from,
                           std::vector<Due>& due) {
    const DateTime minute = toMinute(now);
    const DateTime ran = onceRanSentinel();
    for (const auto& job : jobs) {
        if (!scheduleActive(*job) || job->nextStart.isZero() || job->nextStart == ran) {
            continue;
        }
        const DateTime at = toMinute(job->nextStart);
        // Seconds are ignored; minutes since the last tick count too (a daylight-saving gap).
        if (at > minute || (at != minute && at <= from)) {
            continue;
        }
        // The running tick starts it; a tick from inside a run must not queue it twice.
        if (std::find(m_queued.begin(), m_queued.end(), job->sName) != m_queued.end()) {
            continue;
        }
        const Due d{job->sName, job->nextStart};
        auto state = m_state.find(job->sName);
        if (state != m_state.end() && state->second.startedFor == job->nextStart) {
            notStarted("strMsgSchedAlreadyRan", d);
            continue;
        }
        due.push_back(d);
    }
}

void Scheduler::collectMissed(const Jobs& jobs, const DateTime& now,
                              const std::optional<DateTime>& since, std::vector<Due>& due) {
    const DateTime minute = toMinute(now);
    for (const auto& job : jobs) {
        if (!scheduleActive(*job)) {
            continue;
        }
        const auto moment = previousScheduledMoment(*job->Schedule, now);
        // A moment in the current minute is due the ordinary way only when the next start lies
        // in it: an hourly start is computed in the next hour, so a start at 10:00:39 missed
        // 10:00.
        const bool dueNow = toMinute(job->nextStart) == minute;
        if (!moment || toMinute(*moment) > minute || (toMinute(*moment) == minute && dueNow) ||
            (since && *moment <= *since) || (!job->lastOK.isZero() && job->lastOK >= *moment)) {
            continue;
        }
        if (job->Schedule->Tip == kScheduleOnce && job->nextStart == onceRanSentinel()) {
            continue;
        }
        auto state = m_state.find(job->sName);
        if (state != m_state.end() && state->second.startedFor == *moment) {
            continue;
        }
        Due d{job->sName, *moment};
        d.catchUp = true;
        due.push_back(d);
    }
}

void Scheduler::addPending(const Due& due) {
    notStarted("strMsgSchedBusy", due);
    for (const Due& p : m_pending) {
        if (p.name == due.name) {
            return;
        }
    }
    Due waiting = due;
    waiting.delayed = true;
    m_pending.push_back(waiting);
}

std::vector<std::string> Scheduler::pending() const {
    std::vector<std::string> names;
    for (const Due& p : m_pending) {
        names.push_back(p.name);
    }
    return names;
}

void Scheduler::tick() {
    const DateTime now = m_rc.clock.now();
    const std::optional<DateTime> previous = m_lastNow;
    DateTime from;
    const bool steady = advanceWindow(now, m_rc.clock.tickMs(), &from);
    const Jobs jobs = m_runs.jobs();

    std::vector<Due> due;
    collectDue(jobs, now, from, due);
    if (!steady) {
        // At start-up everything before now passed while the program was not running.
        if (catchUpOn()) {
            collectMissed(jobs, now, previous, due);
        } else {
            std::vector<Due> missed;
            collectMissed(jobs, now, previous, missed);
            for (const Due& d : missed) {
                notStarted("strMsgSchedMissed", d);
            }
        }
    }

    if (m_rc.host.windowVisible() && m_settings.blockSchedule) {
        for (const Due& d : due) {
            notStarted("strMsgSchedBlocked", d);
            if (catchUpOn()) {
                // Made up once the window is closed or hidden, as a run missed while asleep.
                Due held = d;
                held.catchUp = true;
                if (std::none_of(m_pending.begin(), m_pending.end(),
                                 [&](const Due& p) { return p.name == d.name; })) {
                    m_pending.push_back(held);
                }
            }
        }
        recomputeStale(now);
        return;
    }
    if (m_inTick || !m_runs.canStart()) {
        for (const Due& d : due) {
            addPending(d);
        }
        recomputeStale(now);
        return;
    }

    // What waited for a run to end goes with what is due now, once each, in collection order.
    std::vector<Due> toRun = std::move(m_pending);
    m_pending.clear();
    for (const Due& d : due) {
        const bool waiting =
            std::any_of(toRun.begin(), toRun.end(), [&](const Due& p) { return p.name == d.name; });
        if (!waiting) {
            toRun.push_back(d);
        }
    }
    if (!toRun.empty()) {
        std::stable_sort(toRun.begin(), toRun.end(), [&](const Due& a, const Due& b) {
            return jobs.indexOf(a.name) < jobs.indexOf(b.name);
        });
        runAll(std::move(toRun));
    }
    recomputeStale(m_rc.clock.now());
}

void Scheduler::runAll(std::vector<Due> due) {
    m_inTick = true;
    bool ran = false;
    for (const Due& d : due) {
        m_queued.push_back(d.name);
    }
    for (size_t i = 0; i < due.size(); ++i) {
        const Due& d = due[i];
        m_queued.erase(m_queued.begin());
        if (!m_runs.canStart()) {
            // Another process took the program folder meanwhile: the rest wait for it.
            m_queued.clear();
            for (size_t j = i; j < due.size(); ++j) {
                addPending(due[j]);
            }
            break;
        }
        if (d.catchUp) {
            m_rc.WriteLog(
                m_rc.format("strMsgSchedCatchUp", {{"%d", d.name}, {"%t", stamp(d.moment)}}));
        } else if (d.delayed) {
            m_rc.WriteLog(m_rc.format("strMsgSchedDelayedStart", {{"%d", d.name}}));
        }
        const DateTime before = m_state[d.name].startedFor;
        m_state[d.name].startedFor = d.moment;
        const ScheduledRuns::Outcome outcome = m_runs.runScheduled(d.name);
        if (outcome == ScheduledRuns::Outcome::Busy) {
            m_state[d.name].startedFor = before;
            addPending(d);
            continue;
        }
        if (outcome == ScheduledRuns::Outcome::Gone) {
            continue;
        }
        ran = true;
        Jobs after = m_runs.jobs();
        clsBackup* job = after.find(d.name);
        if (job != nullptr && job->Schedule && job->Schedule->Tip == kScheduleOnce) {
            job->nextStart = onceRanSentinel();
        }
    }
    m_inTick = false;
    if (ran) {
        refresh();
    }
}

void Scheduler::refresh() {
    const DateTime now = m_rc.clock.now();
    for (const auto& job : m_runs.jobs()) {
        const DateTime before = job->nextStart;
        ComputeNextStart(*job, now, m_rc.messages);
        JobState& state = m_state[job->sName];
        // An hourly start is always computed in the next clock hour: a recomputation after
        // another job's run would push a start still ahead in this hour past it, for ever. An
        // unchanged schedule keeps the start it has until that start ran or passed.
        const bool unchanged = job->Schedule && state.computedFrom &&
                               sameSchedule(*state.computedFrom, *job->Schedule);
        if (unchanged && !before.isZero() && before != onceRanSentinel() &&
            toMinute(before) >= toMinute(now) && before < job->nextStart &&
            state.startedFor != before) {
            job->nextStart = before;
        }
        if (job->Schedule) {
            state.computedFrom = *job->Schedule;
        } else {
            state.computedFrom.reset();
        }
    }
}

void Scheduler::recomputeStale(const DateTime& now) {
    // A next start whose minute passed without a run would never match again.
    const DateTime minute = toMinute(now);
    const DateTime ran = onceRanSentinel();
    for (const auto& job : m_runs.jobs()) {
        if (scheduleActive(*job) && job->nextStart != ran && toMinute(job->nextStart) < minute) {
            ComputeNextStart(*job, now, m_rc.messages);
        }
    }
}

}  // namespace kestrel
