// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

#include "jobs/backup.h"
#include "platform/date_time.h"

namespace kestrel {

class Messages;

// The nextStart of a one-time job that has run: no moment matches it again.
DateTime onceRanSentinel();

// Day and month names from the message table (English where the language has none).
DateNames dateNamesOf(const Messages& messages);

// Sets job.nextStart from its schedule and now where there is a next start, and returns the
// next-run text ("Today at 08:00", "Friday, Mar 13 at 08:00", "Not scheduled", or empty for a
// disabled schedule or one that never falls due).
std::string ComputeNextStart(clsBackup& job, const DateTime& now, const Messages& messages);

// The text alone, for a job that must not change (a listing of the store).
std::string nextRunText(const clsBackup& job, const DateTime& now, const Messages& messages);

// Whether the schedule falls due at all: present, enabled and of a known kind.
bool scheduleActive(const clsBackup& job);

// The latest moment at or before now at which the schedule fell due, not before its start; none
// when it never did (or, for a one-time schedule, when its moment still lies ahead).
std::optional<DateTime> previousScheduledMoment(const clsSchedule& schedule, const DateTime& now);

}  // namespace kestrel
