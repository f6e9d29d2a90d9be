// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "jobs/jobs.h"
#include "platform/date_time.h"

namespace kestrel {

class RunControl;
class Settings;

// What the scheduler starts its runs through: the job runner, seen from the layer below it.
class ScheduledRuns {
public:
    virtual ~ScheduledRuns() = default;
    // The jobs now, sharing their objects: the scheduler sets their nextStart.
    virtual Jobs jobs() = 0;
    // Whether a backup may start now: nothing is active in this program, no other process runs a
    // backup in its program folder, and the program is not ending.
    virtual bool canStart() = 0;
    enum class Outcome { Ran, Busy, Gone };
    // Runs the job to its end. Busy: another run got there first; Gone: no such job any more.
    virtual Outcome runScheduled(const std::string& name) = 0;
};

// Starts the jobs whose schedule falls due. Whoever owns the event loop calls tick() every
// second, also while a run yields to that loop: a job that falls due meanwhile is started when
// the run ends. Moments are matched to the minute over every minute since the last tick, so a
// moment in a daylight-saving gap runs at the first minute after it, and a moment in a repeated
// hour runs once; a moment that passed while the program did not tick (asleep, not running) is
// missed, unless the setting "CatchUpMissedRuns" is "1".
class Scheduler {
public:
    Scheduler(RunControl& rc, Settings& settings, ScheduledRuns& runs);

    void tick();
    // Recomputes every job's next start (the job list's rebuild).
    void refresh();
    // Names of the jobs waiting for the active run to end, in the order they start.
    std::vector<std::string> pending() const;

private:
    struct Due {
        std::string name;
        DateTime moment;
        bool catchUp = false;
        bool delayed = false;  // waited for another run to end
    };
    struct JobState {
        DateTime startedFor;  // the moment the job was last started for
        DateTime loggedFor;   // the moment a "not started" line was last written for
        std::optional<clsSchedule> computedFrom;  // the schedule nextStart was computed from
    };

    // Which minutes this tick covers; false when the clock jumped (sleep, a set clock).
    bool advanceWindow(const DateTime& now, std::uint64_t tickMs, DateTime* from);
    void collectDue(const Jobs& jobs, const DateTime& now, const DateTime& from,
                    std::vector<Due>& due);
    void collectMissed(const Jobs& jobs, const DateTime& now, const std::optional<DateTime>& since,
                       std::vector<Due>& due);
    void notStarted(const std::string& key, const Due& due);
    void addPending(const Due& due);
    void runAll(std::vector<Due> due);
    void recomputeStale(const DateTime& now);
    bool catchUpOn() const;

    RunControl& m_rc;
    Settings& m_settings;
    ScheduledRuns& m_runs;
    std::unordered_map<std::string, JobState> m_state;
    std::vector<Due> m_pending;
    std::vector<std::string> m_queued;  // what the running tick is still to start
    std::optional<DateTime> m_lastNow;
    std::uint64_t m_lastTickMs = 0;
    DateTime m_doneThrough;  // the last minute whose due jobs were looked at
    bool m_inTick = false;
};

}  // namespace kestrel
