// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "engine/enumeration.h"
#include "jobs/backup.h"

namespace kestrel {

class RunControl;

// What BuildArchive found besides its result.
// The result of an engine step, with the values the steps have always returned.
enum class StepResult { Done = 1, Failed = 2 };

struct BuildOutcome {
    StepResult result = StepResult::Failed;
    std::int64_t notAdded = 0;  // files left out: unreadable, unstorable or skipped by the user
    bool diskFull = false;      // the build failed for lack of space
    bool writeFailed = false;   // a volume or the catalogue could not be written (logged)
};

// Packs the working list into the job's archive in folder (the run's build folder) and, when
// done, replaces the list by the volume files followed by the catalogue. Full jobs start a new
// archive named after the job; incremental ones name their volumes after the job and the
// start time and extend the catalogue fetched before. newChain begins a new catalogue for an
// incremental job whose previous one cannot be used: its volumes are still named apart, by the
// names earlier lists, so that none that the old catalogue needs is replaced.
//
// earlier: what the previous catalogue already uses. A run in the same minute as an earlier
// one must not reuse (and so overwrite) its volumes, and a session in the same second must not
// share its stamp, which is what tells sessions apart.
struct EarlierSessions {
    std::unordered_set<std::string> volumeNames;
    std::unordered_set<std::int64_t> stamps;  // DateTime::serialSeconds
};
// facts: the session's folders and links, for the facts file.
[[nodiscard]] BuildOutcome BuildArchive(RunControl& rc, clsBackup& job, WorkingList& list,
                                        const std::string& folder, bool newChain = false,
                                        const EarlierSessions& earlier = {},
                                        const SessionFacts* facts = nullptr);

// The base name of an incremental session's volumes: the job name and the minute, with the
// seconds and then a letter added when an earlier session of that minute has the name.
std::string incrementalVolumeName(const std::string& jobName, const DateTime& start,
                                  const std::unordered_set<std::string>& usedNames);

}  // namespace kestrel
