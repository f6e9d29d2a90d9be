// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/backup.h"
#include "jobs/jobs.h"
#include "platform/ini_file.h"

// The text of the job store: the section "Backups" names the jobs, one a line, in their order;
// each job has a section of its own, named after it, of "key=value" lines.
namespace kestrel {

inline constexpr std::string_view kJobListSection = "Backups";

// A problem found while reading a store: the section and what was skipped.
struct StoreProblem {
    std::string section;
    std::string what;
};

// Reads jobs from a parsed store into the collection (appending), noting every line it had to
// skip, and sections the job list does not lead to. Never fails: what cannot be read is left at
// the job defaults.
void readJobStore(const IniFile& ini, Jobs& jobs, std::vector<StoreProblem>& problems);
// The store file for a jobs collection.
IniFile writeJobStore(const Jobs& jobs);

// The "Schedule" value of a job ("0" for none).
std::string scheduleText(const clsSchedule* schedule);
// Reads a "Schedule" value. Nothing for "0" or "" (no schedule); sets *problem and returns
// nothing when the text is damaged.
std::shared_ptr<clsSchedule> parseScheduleText(std::string_view text, std::string* problem);

}  // namespace kestrel
