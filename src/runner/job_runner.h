// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/backup_run.h"
#include "ftp/ftp_client.h"
#include "jobs/job_rules.h"
#include "jobs/job_store.h"
#include "jobs/jobs.h"
#include "restore/restore.h"
#include "runner/run_lock.h"

namespace kestrel {

struct AppContext;

// What the program is doing: nothing, a backup run, or a restore (loading a job's catalogue or
// restoring its files).
struct Activity {
    enum class Kind { Idle, Backup, Restore };
    Kind kind = Kind::Idle;
    std::string job;
    bool idle() const { return kind == Kind::Idle; }
};

// What became of a request to the runner.
enum class RunnerResult {
    Done,         // done; for a run or restore: it ran (its summary tells how it went)
    Failed,       // it ran and failed (a catalogue that could not be loaded)
    Busy,         // a backup or restore is active in this program
    JobIsActive,  // the job is being run or restored, here or by another Kestrel process
    NotFound,     // no job has that name (any more)
    NameExists,   // another job has that name
    Invalid,      // the job breaks a rule (the JobProblem says which)
    WrongPassword,
    PasswordUnreadable,  // the job is protected but its password cannot be read: locked
    Locked,              // another Kestrel process is running a backup in this program folder
    Quitting,            // the program is ending and starts nothing new
    StoreFailed,         // the job store could not be read or written (logged)
};

// Tells the front ends what happened, so that a job list, a tray icon or a scheduler refreshes
// without wrapping every call. Calls come on the runner's thread from inside the call that
// caused them; progress comes from inside a run, while it yields.
class RunnerObserver {
public:
    virtual ~RunnerObserver() = default;
    virtual void activityStarted(const Activity&) {}
    virtual void activityProgress(const Activity&, const std::string& /*title*/,
                                  const std::string& /*item*/, double /*filePercent*/,
                                  double /*totalPercent*/) {}
    virtual void backupFinished(const std::string& /*job*/, const RunSummary&) {}
    virtual void restoreFinished(const std::string& /*job*/, const RestoreSummary&) {}
    // After backupFinished or restoreFinished (or a failed load), when the runner is idle again.
    virtual void activityFinished(const Activity&) {}
    virtual void jobsChanged() {}
    // A quit that waited for the activity may now complete.
    virtual void quitReady() {}
};

// The one owner of "what is running" and of the jobs. Every front end (desktop program, service,
// command line) goes through it to run, restore, create, change, delete and reload jobs and to
// quit, also from events that arrive while a run yields to the event loop:
// - while a backup or restore is active, a second one is refused, and so are changes to the
//   job it works on;
// - a run works on a copy of its job and writes its outcome back by name, so no job's end can
//   come under a run, and the jobs may be reloaded at any time;
// - every change goes through the job store's lock and is applied by name to the store as it
//   is on disk, so that changes another process made meanwhile are kept;
// - a backup takes the program folder's run lock, so that no other process runs one beside it
//   in the same temporary folder;
// - quit while busy aborts the activity and completes when it has returned.
//
// Not thread-safe: one thread (the one with the event loop) makes every call. The runner must
// outlive the calls it makes (do not destroy it from inside an observer or a yield).
class JobRunner {
public:
    struct Options {
        FtpClientFactory ftp = makeFtpClient;
    };

    JobRunner(AppContext& ctx, Options options);
    explicit JobRunner(AppContext& ctx) : JobRunner(ctx, Options{}) {}
    ~JobRunner();
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // The jobs as the store held them at the last read or change. The collection may change on
    // every call into the runner and while it yields: walk a copy across such calls.
    const Jobs& jobs() const { return m_jobs; }
    // A job by name (first exact match); null when none.
    std::shared_ptr<const clsBackup> job(const std::string& name) const;

    // Reads the job store, and nothing else (for commands that work beside a running program).
    [[nodiscard]] bool readJobs();
    // Reads the job store (start-up, and a manual reload), creates the temporary folder and
    // removes what runs that did not end left behind (removeRunLeftovers). False when the store
    // cannot be read or the temporary folder cannot be made.
    [[nodiscard]] bool LoadJobs();
    // When idle and no process runs a backup in the program folder (its run lock, held
    // meanwhile, is free): empties the temporary folder, removes the working folders their
    // owners left there and, for every job with a local destination, the build folder of a run
    // that did not end (and the staged files of protected jobs), logging each. A killed run's
    // plaintext goes at the next start of any front end, not only at its job's next run.
    void removeRunLeftovers();
    // Reads the store again when another process changed it; true when it did.
    bool refreshIfChanged();
    // What the last read or change found in the job store.
    StoreState storeState() const { return m_store.state(); }

    // Adds a new job; *problem says why an Invalid job was refused.
    [[nodiscard]] RunnerResult addJob(std::unique_ptr<clsBackup> job,
                                      JobProblem* problem = nullptr);
    // Replaces the job named name by job (which may carry a new name).
    [[nodiscard]] RunnerResult changeJob(const std::string& name, std::unique_ptr<clsBackup> job,
                                         JobProblem* problem = nullptr);
    // Deletes a job. A protected job needs its password: the request, the wrong and the right
    // password are logged.
    [[nodiscard]] RunnerResult removeJob(const std::string& name,
                                         const std::optional<std::string>& password);

    // Gives a job whose password cannot be read a new one, which unlocks it; the one way to
    // change such a job, for the front ends to offer once the user confirmed. Invalid when the
    // job is not locked, or the password is empty.
    [[nodiscard]] RunnerResult setNewPassword(const std::string& name, const std::string& password,
                                              JobProblem* problem = nullptr);

    // A backup of the job with that name, to its end. Refusals (Busy, NotFound,
    // PasswordUnreadable, Locked, Quitting) are logged. *summary (when given) receives the run's
    // summary.
    [[nodiscard]] RunnerResult RunBackup(const std::string& name, RunSummary* summary = nullptr);

    // The first step of a restore: the job's catalogue, fetched into a working folder of the
    // state's own and read into its tree. For an FTP job, state.ftp must hold a logged-in
    // session first. Failed when the catalogue cannot be had; PasswordUnreadable for a locked
    // job (its sets need the password that was lost: the user sets it again to restore).
    [[nodiscard]] RunnerResult openRestore(const std::string& name, RestoreState& state);
    // Restores the checked files of a state that openRestore filled.
    [[nodiscard]] RunnerResult restore(RestoreState& state, const RestoreOptions& options,
                                       RestoreSummary* summary = nullptr);

    // The user's commands for the active run, from window events during its yields.
    void setPaused(bool paused);
    bool paused() const;
    void abort();
    // Skips the file at work; does nothing where that cannot be done (RunControl tells).
    void cancelFile();

    enum class Quit { Now, Deferred };
    // The program is to end. Now: nothing is active, go ahead. Deferred: the activity is being
    // aborted; observers get quitReady once it has returned. Either way nothing new starts.
    Quit requestQuit();
    bool quitPending() const { return m_quitPending; }

    const Activity& activity() const { return m_activity; }
    bool busy() const { return !m_activity.idle(); }
    // The job another Kestrel process is running a backup of in this program folder, if any.
    std::optional<std::string> jobRunElsewhere() const { return m_runLock.jobRunElsewhere(); }

    // The message that explains a refusal, for the front ends to show.
    std::string refusalText(RunnerResult result, const std::string& job,
                            const JobProblem& problem = {}) const;

    void addObserver(RunnerObserver* observer);
    void removeObserver(RunnerObserver* observer);

private:
    class ActivityScope;

    // Takes the collection a store change left, carrying over what only lives in memory.
    void adopt(Jobs fresh);
    RunnerResult settle(JobStore::Result result, Jobs fresh);
    bool jobIsActive(const std::string& name) const;
    void prepareTempFolder();
    void noteStop();
    template <typename Fn>
    void notify(Fn&& fn);

    AppContext& m_ctx;
    Options m_options;
    JobStore m_store;
    RunLock m_runLock;
    Jobs m_jobs;
    Activity m_activity;
    bool m_quitPending = false;
    std::vector<RunnerObserver*> m_observers;
};

}  // namespace kestrel
