#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/backup.h"
#include "jobs/jobs.h"
#include "platform/date_time.h"
#include "platform/fs.h"
#include "platform/ini_file.h"

namespace kestrel {

class RunControl;
class Settings;

// The job store: every job in backups.ini in the program folder, with the previous version kept
// as backups.ini.bak.

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

// The new-job command's naming: advances the setting "bkpIndex" and returns the proposed name
// ("New backup 4").
std::string NewJob(Settings& settings);

// The store as every process working in one program folder shares it. Reads need no lock: the
// file is only ever replaced whole, and a read writes nothing (unless a killed writer left a
// temporary file to remove). A change takes the store's lock (path + ".lock"), reads the
// store as it is on disk at that moment, applies itself by job name and writes the result, so
// that what another process changed meanwhile is kept.
class JobStore {
public:
    // What a change did to the jobs it was given.
    enum class Change { Done, Unchanged, NotFound, NameExists };
    // The outcome of update: Written, or why nothing was written.
    enum class Result { Written, Unchanged, NotFound, NameExists, Failed };

    JobStore(std::string path, RunControl& rc) : m_path(std::move(path)), m_rc(rc) {}

    const std::string& path() const { return m_path; }
    std::string lockPath() const { return m_path + ".lock"; }

    // Reads the store into jobs (replacing what they held). False when it cannot be read.
    [[nodiscard]] bool read(Jobs& jobs);
    // Applies change to the store as it is on disk now and writes the result when the change
    // says Done. jobs receives the store as it is afterwards (also when nothing was written,
    // unless it could not be read: Failed leaves jobs alone).
    [[nodiscard]] Result update(const std::function<Change(Jobs&)>& change, Jobs& jobs);

    // The changes the program makes, by job name.
    // Appends the job; NameExists when a job has that name in any letter case.
    [[nodiscard]] Result add(std::shared_ptr<clsBackup> job, Jobs& jobs);
    // Puts job in the place of the job named name (it may carry a new name); NotFound when that
    // job is gone, NameExists when the new name is another job's.
    [[nodiscard]] Result replace(const std::string& name, std::shared_ptr<clsBackup> job,
                                 Jobs& jobs);
    [[nodiscard]] Result remove(const std::string& name, Jobs& jobs);
    // A run's outcome; NotFound (nothing written) when the job was deleted meanwhile.
    [[nodiscard]] Result recordOutcome(const std::string& name, std::int32_t status,
                                       const DateTime& lastOK, Jobs& jobs);

    // Whether the file changed since this object last read or wrote it.
    bool changedOnDisk() const;
    // What the last read or change found in the store.
    StoreState state() const { return m_state; }

    // How long a change waits for another holder of the lock (10 s unless set).
    void setLockWait(int ms) { m_lockWaitMs = ms; }

private:
    std::vector<std::string> writeLeftovers() const;
    void removeWriteLeftovers();
    std::string m_path;
    RunControl& m_rc;
    fs::FileStamp m_seen;
    StoreState m_state = StoreState::Sound;
    int m_lockWaitMs = 10'000;
};

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

// Whether a name can be stored as a job: not empty, no blanks around it, no control characters,
// no "[", "]", "/" or "|" (names become file names and catalogue fields), and not the name of
// the job list section. *whyKey receives the key of the message that says what is wrong.
bool isStorableJobName(std::string_view name, std::string* whyKey = nullptr);

}  // namespace kestrel
