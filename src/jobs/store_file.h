// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "jobs/jobs.h"

namespace kestrel {

class RunControl;

// The job store file: every job in backups.ini in the program folder, with the previous version
// kept as backups.ini.bak.

// What reading a store found. Damaged: lines were skipped (each is logged). JobsUnreadable: the
// store holds job sections but not one job could be read from it.
enum class StoreState { Sound, Damaged, JobsUnreadable };

// Reads the store at path into jobs (appending). A damaged store loads what can be read and logs
// each line it skipped; reading writes nothing. A missing store is an empty one. False (and a
// log line) when the store exists but cannot be read. *state (when given) receives what the
// read found.
[[nodiscard]] bool LoadJobs(const std::string& path, Jobs& jobs, RunControl& rc,
                            StoreState* state = nullptr);

// Rewrites the store at path from jobs, as one atomic replacement readable only by its owner,
// after copying the previous version to path + ".bak". A damaged previous version is first kept
// as path + ".damaged-" + a time stamp, once per distinct content. False (and a log line) when
// the new store could not be written, or was refused: the previous version cannot be read or
// copied, or none of its jobs can be read. The old store is then still in place.
[[nodiscard]] bool SaveJobs(const std::string& path, const Jobs& jobs, RunControl& rc);

}  // namespace kestrel
