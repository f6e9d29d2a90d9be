// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "jobs/backup.h"
#include "platform/date_time.h"

namespace kestrel {

// Schedules in the short form the command line takes and shows:
//   hourly:MM                 minute MM of every hour
//   daily:DAYS@HH:MM          DAYS a list of mon,tue,wed,thu,fri,sat,sun, or every
//   monthly:DAY@HH:MM         DAY 1 to 31, or last
//   once:YYYY-MM-DD HH:MM
enum class ScheduleTextError {
    None,
    NoKind,       // no "KIND:" in front
    UnknownKind,  // not hourly, daily, monthly or once
    BadMinute,
    BadDays,
    BadDay,
    BadTime,
    BadDate,
};

// Reads a schedule; from is the moment it starts counting (its start, for every kind but once).
// Null with *error set when the text is not one of the forms above.
std::shared_ptr<clsSchedule> parseScheduleSpec(std::string_view spec, const DateTime& from,
                                               ScheduleTextError* error);

// The short form of a schedule, which parseScheduleSpec reads back to the same kind, data and
// time ("" for a kind it does not know). The start of the count is not part of it.
std::string scheduleSpec(const clsSchedule& schedule);

// "YYYY-MM-DD HH:MM" (or with "T" for the blank) as a local date and time.
std::optional<DateTime> parseDateTimeText(std::string_view text);

}  // namespace kestrel
