#pragma once

#include <cstdint>

#include "engine/enumeration.h"
#include "jobs/backup.h"

namespace kestrel {

struct AppContext;

// What BuildArchive found besides its result.
struct BuildOutcome {
    int result = 2;             // 1 done, 2 failed
    std::int64_t notAdded = 0;  // files that could not be opened and were left out
    bool diskFull = false;      // the build failed for lack of space
};

// Packs the working list into the job's archive in the temporary folder and, when done,
// replaces the list by the volume files followed by the catalogue. Full jobs start a new
// archive named after the job; incremental ones name their volumes after the job and the
// start time and extend the catalogue fetched before. forceFull builds a full archive for an
// incremental job (when its previous catalogue could not be read).
BuildOutcome BuildArchive(AppContext& ctx, clsBackup& job, WorkingList& list,
                          bool forceFull = false);

}  // namespace kestrel
