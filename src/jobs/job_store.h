#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/backup.h"
#include "jobs/jobs.h"
#include "platform/ini_file.h"

namespace kestrel {

struct AppContext;

// The job store: every job in backups.ini in the program folder, with the previous version kept
// as backups.ini.bak.

// Builds the jobs collection from the store. Also reads the settings "style" and
// "blockSchedule" and prepares the temporary folder. A damaged store loads what can be read,
// logs each line it skipped and keeps a copy of the original beside it. False when the store
// exists but cannot be read, or the temporary folder cannot be made. prepareTempFolder false
// leaves the temporary folder alone (for commands that run beside a running program).
bool LoadJobs(AppContext& ctx, bool prepareTempFolder = true);

// Rewrites the store from the jobs collection, as one atomic replacement readable only by its
// owner, after copying the previous version to backups.ini.bak. False (and a log line) when the
// new store could not be written; the old one is then still in place.
bool SaveJobs(AppContext& ctx);

// The new-job command's naming: advances the setting "bkpIndex" and returns the proposed name
// ("New backup 4").
std::string NewJob(AppContext& ctx);

// A problem found while reading a store: the section and what was skipped.
struct StoreProblem {
    std::string section;
    std::string what;
};

// Reads jobs from a parsed store into the collection (appending), noting every line it had to
// skip. Never fails: what cannot be read is left at the job defaults.
void readJobStore(const IniFile& ini, Jobs& jobs, std::vector<StoreProblem>& problems);
// The store file for a jobs collection.
IniFile writeJobStore(const Jobs& jobs);

// The "Schedule" value of a job ("0" for none).
std::string scheduleText(const clsSchedule* schedule);
// Reads a "Schedule" value. Nothing for "0" or "" (no schedule); sets *problem and returns
// nothing when the text is damaged.
std::shared_ptr<clsSchedule> parseScheduleText(std::string_view text, std::string* problem);

// Whether a name can be stored as a job: not empty, no blanks around it, no control characters,
// no "[", "]", "/" or "|" (names become file names and catalogue fields), and not the name of
// the job list section. *why says what is wrong.
bool isStorableJobName(std::string_view name, std::string* why = nullptr);

}  // namespace kestrel
