#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jobs/backup.h"

// How an archive job's set (volumes, checksum file, catalogue) at a local destination is
// replaced without a moment at which neither the old nor the new set can be restored:
//
// 1. every new file is copied beside its name as NAME.kestrel-new (the old set is untouched);
// 2. once all are there and flushed, the journal JOB.fs.switch lists them (written atomically);
// 3. each staged file is renamed over its name, volumes first, the catalogue last; a full set
//    then drops old volumes the new one does not have;
// 4. the journal is removed.
//
// A run killed before step 2 leaves the old set and staged files that the next run removes; one
// killed after it leaves a journal by which the next run or restore completes the switch.
namespace kestrel {

struct AppContext;

inline constexpr std::string_view kStagedSuffix = ".kestrel-new";
inline constexpr std::string_view kSwitchSuffix = ".switch";

// The folder inside a local destination where a run builds the job's archive (.JOB.kestrel-build),
// so that each volume is written once, on the destination's own file system, and staged by a
// rename.
std::string buildFolderOf(const clsBackup& job);

// Whether a file name in the destination belongs to the job's set: JOB.fs, JOB.fs.sums,
// JOB.fs.switch and volumes JOB[stamp][-NNN].uxarc.
bool isSetFileOf(const std::string& jobName, std::string_view fileName);

// Steps 2 to 4 for the staged files (names without the suffix, in the order to rename them).
// False (and *error) when the set could not be put in place; the journal then stays when it was
// written, so that the next run completes the switch.
[[nodiscard]] bool SwitchSet(AppContext& ctx, const clsBackup& job,
                             const std::vector<std::string>& names, bool full, std::string* error);

// Removes the staged files of a run that did not reach its switch.
void DiscardStaged(AppContext& ctx, const clsBackup& job, const std::vector<std::string>& names);

// Completes a switch an interrupted run left (journal present). With removeLeftovers (a run,
// which holds the program folder's run lock) also removes staged files without a journal and
// copies cut short (NAME.part-XXXXXX) of the set's files, and the build folder of a run that
// did not end. Every change is logged.
void RecoverSet(AppContext& ctx, const clsBackup& job, bool removeLeftovers);

}  // namespace kestrel
