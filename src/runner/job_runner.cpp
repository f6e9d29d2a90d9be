// SPDX-License-Identifier: GPL-3.0-or-later
#include "runner/job_runner.h"

#include <algorithm>
#include <unordered_map>

#include "core/app_context.h"
#include "engine/set_switch.h"
#include "platform/fs.h"
#include "platform/scratch_dir.h"
#include "platform/signals.h"

namespace kestrel {

// Marks the runner busy for one activity and tells the observers when it begins and ends.
class JobRunner::ActivityScope {
public:
    ActivityScope(JobRunner& runner, Activity::Kind kind, const std::string& job)
        : m_runner(runner) {
        m_runner.m_activity = Activity{kind, job};
        const Activity current = m_runner.m_activity;
        m_runner.notify([&](RunnerObserver& o) { o.activityStarted(current); });
    }
    ~ActivityScope() {
        const Activity ended = m_runner.m_activity;
        m_runner.m_activity = Activity{};
        m_runner.noteStop();
        m_runner.notify([&](RunnerObserver& o) { o.activityFinished(ended); });
        if (m_runner.m_quitPending) {
            m_runner.notify([](RunnerObserver& o) { o.quitReady(); });
        }
    }
    ActivityScope(const ActivityScope&) = delete;
    ActivityScope& operator=(const ActivityScope&) = delete;

private:
    JobRunner& m_runner;
};

JobRunner::JobRunner(AppContext& ctx, Options options)
    : m_ctx(ctx),
      m_options(std::move(options)),
      m_store(ctx.storePath(), ctx.control),
      m_runLock(ctx.paths.path("run.lock")) {
    m_ctx.control.setProgressListener([this](const std::string& title, const std::string& item,
                                             double filePercent, double totalPercent) {
        if (busy()) {
            const Activity current = m_activity;
            notify([&](RunnerObserver& o) {
                o.activityProgress(current, title, item, filePercent, totalPercent);
            });
        }
    });
}

JobRunner::~JobRunner() {
    m_ctx.control.setProgressListener(nullptr);
}

template <typename Fn>
void JobRunner::notify(Fn&& fn) {
    // An observer may add or remove observers while it is told.
    const std::vector<RunnerObserver*> observers = m_observers;
    for (RunnerObserver* o : observers) {
        if (std::find(m_observers.begin(), m_observers.end(), o) != m_observers.end()) {
            fn(*o);
        }
    }
}

void JobRunner::addObserver(RunnerObserver* observer) {
    if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end()) {
        m_observers.push_back(observer);
    }
}

void JobRunner::removeObserver(RunnerObserver* observer) {
    std::erase(m_observers, observer);
}

std::shared_ptr<const clsBackup> JobRunner::job(const std::string& name) const {
    return m_jobs.findShared(name);
}

void JobRunner::adopt(Jobs fresh) {
    // Next starts are computed, never stored: keep them across a reload.
    std::unordered_map<std::string, DateTime> nextStarts;
    for (const auto& job : m_jobs) {
        nextStarts.emplace(job->sName, job->nextStart);
    }
    for (const auto& job : fresh) {
        auto it = nextStarts.find(job->sName);
        if (it != nextStarts.end()) {
            job->nextStart = it->second;
        }
    }
    m_jobs = std::move(fresh);
    notify([](RunnerObserver& o) { o.jobsChanged(); });
}

RunnerResult JobRunner::settle(JobStore::Result result, Jobs fresh) {
    // Whatever the change did, fresh is the store as it now is, unless it could not be read.
    if (result != JobStore::Result::Failed) {
        adopt(std::move(fresh));
    }
    switch (result) {
        case JobStore::Result::Written:
        case JobStore::Result::Unchanged:
            return RunnerResult::Done;
        case JobStore::Result::NotFound:
            return RunnerResult::NotFound;
        case JobStore::Result::NameExists:
            return RunnerResult::NameExists;
        case JobStore::Result::Failed:
            break;
    }
    return RunnerResult::StoreFailed;
}

bool JobRunner::jobIsActive(const std::string& name) const {
    if (!m_activity.idle() && m_activity.job == name) {
        return true;
    }
    const auto elsewhere = m_runLock.jobRunElsewhere();
    return elsewhere && *elsewhere == name;
}

void JobRunner::prepareTempFolder() {
    const std::string temp = m_ctx.paths.tempDir();
    std::string error;
    if (!fs::makePrivateDirs(temp, &error) || !fs::deleteFilesIn(temp, &error)) {
        m_ctx.WriteLog(m_ctx.msg("strMsgCantDeleteFilesFromTemp1") + temp +
                       m_ctx.msg("strMsgCantDeleteFilesFromTemp2") + " (" + error + ")");
    }
    ScratchDir::removeStale(temp);
    // Plaintext copies of a protected job's files, when its run did not end.
    const std::string encrypt = fs::join(temp, kEncryptFolder);
    if (fs::isDirectory(encrypt)) {
        if (fs::removeTree(encrypt, &error)) {
            m_ctx.WriteLog(m_ctx.messages.format("strMsgLeftoverRemoved", {{"%d", encrypt}}));
        } else {
            m_ctx.WriteLog(m_ctx.messages.format("strMsgLeftoverNotRemoved",
                                                 {{"%d", encrypt}, {"%s", error}}));
        }
    }
}

void JobRunner::removeRunLeftovers() {
    if (busy()) {
        return;  // the active run or restore owns its working files
    }
    // Only the holder of the run lock may empty the temporary folder or remove a build folder:
    // a backup running in another process owns them. Held to the end, so none starts meanwhile.
    RunLock probe(m_ctx.paths.path("run.lock"));
    if (probe.acquire("", nullptr) != RunLock::Result::Acquired) {
        return;
    }
    prepareTempFolder();
    for (const auto& job : m_jobs) {
        RemoveRunLeftovers(m_ctx.control, *job, job->Protected);
    }
}

bool JobRunner::readJobs() {
    Jobs fresh;
    if (!m_store.read(fresh)) {
        return false;
    }
    adopt(std::move(fresh));
    return true;
}

bool JobRunner::LoadJobs() {
    std::string error;
    if (!fs::makePrivateDirs(m_ctx.paths.tempDir(), &error)) {
        m_ctx.WriteLog(m_ctx.messages.format("strMsgCantCreateWorkFolder",
                                             {{"%d", m_ctx.paths.tempDir()}, {"%s", error}}));
        return false;
    }
    if (!readJobs()) {
        return false;
    }
    removeRunLeftovers();
    return true;
}

bool JobRunner::refreshIfChanged() {
    if (!m_store.changedOnDisk()) {
        return false;
    }
    Jobs fresh;
    if (!m_store.read(fresh)) {
        return false;
    }
    adopt(std::move(fresh));
    return true;
}

RunnerResult JobRunner::addJob(std::unique_ptr<clsBackup> job, JobProblem* problem) {
    if (m_quitPending) {
        return RunnerResult::Quitting;
    }
    refreshIfChanged();
    if (JobProblem p = checkJob(*job, m_jobs)) {
        if (problem != nullptr) {
            *problem = p;
        }
        return RunnerResult::Invalid;
    }
    Jobs fresh;
    const JobStore::Result r = m_store.add(std::shared_ptr<clsBackup>(std::move(job)), fresh);
    return settle(r, std::move(fresh));
}

RunnerResult JobRunner::changeJob(const std::string& name, std::unique_ptr<clsBackup> job,
                                  JobProblem* problem) {
    if (m_quitPending) {
        return RunnerResult::Quitting;
    }
    if (jobIsActive(name)) {
        return RunnerResult::JobIsActive;
    }
    refreshIfChanged();
    if (const auto stored = m_jobs.findShared(name); stored && stored->passwordUnreadable) {
        return RunnerResult::PasswordUnreadable;
    }
    if (JobProblem p = checkJob(*job, m_jobs, name)) {
        if (problem != nullptr) {
            *problem = p;
        }
        return RunnerResult::Invalid;
    }
    Jobs fresh;
    const JobStore::Result r =
        m_store.replace(name, std::shared_ptr<clsBackup>(std::move(job)), fresh);
    return settle(r, std::move(fresh));
}

RunnerResult JobRunner::removeJob(const std::string& name,
                                  const std::optional<std::string>& password) {
    if (m_quitPending) {
        return RunnerResult::Quitting;
    }
    if (jobIsActive(name)) {
        return RunnerResult::JobIsActive;
    }
    refreshIfChanged();
    const auto job = m_jobs.findShared(name);
    if (!job) {
        return RunnerResult::NotFound;
    }
    if (job->passwordUnreadable) {
        return RunnerResult::PasswordUnreadable;
    }
    if (job->Protected && !job->password.empty()) {
        m_ctx.WriteLog(m_ctx.messages.format("strMsgRequestPWDel", {{"%d", name}}));
        if (!password || !passwordOpens(*job, *password)) {
            m_ctx.WriteLog(m_ctx.messages.format("strMsgWrongPWDel", {{"%d", name}}));
            return RunnerResult::WrongPassword;
        }
        m_ctx.WriteLog(m_ctx.messages.format("strMsgPasswordOkDel", {{"%d", name}}));
    }
    Jobs fresh;
    const JobStore::Result r = m_store.remove(name, fresh);
    return settle(r, std::move(fresh));
}

RunnerResult JobRunner::setNewPassword(const std::string& name, const std::string& password,
                                       JobProblem* problem) {
    if (m_quitPending) {
        return RunnerResult::Quitting;
    }
    if (jobIsActive(name)) {
        return RunnerResult::JobIsActive;
    }
    refreshIfChanged();
    const auto refuse = [&](const char* key, const std::string& detail) {
        if (problem != nullptr) {
            *problem = JobProblem{key, detail};
        }
        return RunnerResult::Invalid;
    };
    const auto job = m_jobs.findShared(name);
    if (!job) {
        return RunnerResult::NotFound;
    }
    if (!job->passwordUnreadable) {
        return refuse("strMsgJobNotLocked", name);
    }
    if (password.empty()) {
        return refuse("strMsgPasswordMissing", "");
    }
    bool unlocked = false;  // by another process, meanwhile
    Jobs fresh;
    const JobStore::Result r = m_store.update(
        [&](Jobs& on) {
            clsBackup* stored = on.find(name);
            if (stored == nullptr) {
                return JobStore::Change::NotFound;
            }
            if (!stored->passwordUnreadable) {
                unlocked = true;
                return JobStore::Change::Unchanged;
            }
            stored->Protected = true;
            stored->password = password;
            stored->passwordUnreadable = false;
            stored->storedProtection.clear();
            return JobStore::Change::Done;
        },
        fresh);
    const RunnerResult result = settle(r, std::move(fresh));
    if (unlocked) {
        return refuse("strMsgJobNotLocked", name);
    }
    if (result == RunnerResult::Done) {
        m_ctx.WriteLog(m_ctx.messages.format("strMsgPasswordReset", {{"%d", name}}));
    }
    return result;
}

RunnerResult JobRunner::RunBackup(const std::string& name, RunSummary* summary) {
    if (m_quitPending) {
        m_ctx.WriteLog(m_ctx.msg("strMsgQuitPending"));
        return RunnerResult::Quitting;
    }
    if (busy() || m_ctx.flags.bBackupRunning) {
        m_ctx.WriteLog(m_ctx.msg("strMsgBackupPending"));
        return RunnerResult::Busy;
    }
    refreshIfChanged();
    const auto stored = m_jobs.findShared(name);
    if (!stored) {
        m_ctx.WriteLog(m_ctx.messages.format("strMsgJobNotFound", {{"%d", name}}));
        return RunnerResult::NotFound;
    }
    if (stored->passwordUnreadable) {
        m_ctx.WriteLog(m_ctx.messages.format("strMsgJobLocked", {{"%d", name}}));
        return RunnerResult::PasswordUnreadable;
    }
    std::string holder;
    switch (m_runLock.acquire(name, &holder)) {
        case RunLock::Result::Acquired:
            break;
        case RunLock::Result::Busy:
            m_ctx.WriteLog(m_ctx.messages.format("strMsgRunLocked", {{"%s", holder}}));
            return RunnerResult::Locked;
        case RunLock::Result::Failed:
            m_ctx.WriteLog(m_ctx.messages.format("strMsgRunLockFailed", {{"%s", holder}}));
            return RunnerResult::Locked;
    }
    struct ReleaseLock {
        RunLock& lock;
        ~ReleaseLock() { lock.release(); }
    };
    RunSummary result;
    {
        ActivityScope scope(*this, Activity::Kind::Backup, name);
        ReleaseLock release{m_runLock};
        prepareTempFolder();
        std::unique_ptr<clsBackup> job = stored->clone();

        // The store reads "failed" from the start, so a run that never reaches its end (the
        // program killed, the machine off) is not taken for a good one.
        Jobs fresh;
        const JobStore::Result started =
            m_store.recordOutcome(name, kStatusFailed, job->lastOK, fresh);
        if (started == JobStore::Result::Failed) {
            // A run whose outcome cannot be kept would leave the store showing the last good
            // one: the user would not learn that this run failed.
            m_ctx.WriteLog(m_ctx.messages.format("strMsgStoreStartFailed",
                                                 {{"%s", m_ctx.storePath()}, {"%d", name}}));
            return RunnerResult::Failed;
        }
        adopt(std::move(fresh));

        RunOptions options;
        options.ftp = m_options.ftp;
        options.tempDir = m_ctx.paths.tempDir();
        options.saveOutcome = [this, &name](const clsBackup& done) {
            Jobs after;
            const JobStore::Result r =
                m_store.recordOutcome(name, done.enumStatus, done.lastOK, after);
            if (r == JobStore::Result::Failed) {
                m_ctx.WriteLog(m_ctx.messages.format("strMsgStoreEndFailed", {{"%d", name}}));
                return false;
            }
            adopt(std::move(after));
            return true;  // a job deleted meanwhile stays deleted
        };
        result = BackupJob(m_ctx, *job, name, options);
        m_runLock.release();  // before the observers hear of the end: they may start the next
        notify([&](RunnerObserver& o) { o.backupFinished(name, result); });
    }
    if (summary != nullptr) {
        *summary = result;
    }
    return RunnerResult::Done;
}

RunnerResult JobRunner::openRestore(const std::string& name, RestoreState& state) {
    if (m_quitPending) {
        return RunnerResult::Quitting;
    }
    if (busy()) {
        return RunnerResult::Busy;
    }
    refreshIfChanged();
    const auto job = m_jobs.findShared(name);
    if (!job) {
        return RunnerResult::NotFound;
    }
    if (job->passwordUnreadable) {
        return RunnerResult::PasswordUnreadable;
    }
    ActivityScope scope(*this, Activity::Kind::Restore, name);
    return LoadCatalogue(m_ctx, *job, state) ? RunnerResult::Done : RunnerResult::Failed;
}

RunnerResult JobRunner::restore(RestoreState& state, const RestoreOptions& options,
                                RestoreSummary* summary) {
    if (m_quitPending) {
        return RunnerResult::Quitting;
    }
    if (busy() || m_ctx.flags.bBackupRunning) {
        return RunnerResult::Busy;
    }
    const std::string name = state.job ? state.job->sName : "";
    RestoreSummary result;
    {
        ActivityScope scope(*this, Activity::Kind::Restore, name);
        // The flags of a run steer a restore too: pause waits only while one is running.
        m_ctx.flags.bPauseBackup = false;
        m_ctx.flags.bCancelFile = false;
        m_ctx.flags.bBackupRunning = true;
        result = RestoreSelectedFiles(m_ctx, state, options);
        m_ctx.flags.bBackupRunning = false;
        notify([&](RunnerObserver& o) { o.restoreFinished(name, result); });
    }
    if (summary != nullptr) {
        *summary = result;
    }
    return RunnerResult::Done;
}

void JobRunner::setPaused(bool paused) {
    m_ctx.flags.bPauseBackup = paused && busy();
}

bool JobRunner::paused() const {
    return m_ctx.flags.bPauseBackup;
}

void JobRunner::abort() {
    if (busy()) {
        m_ctx.flags.bAbortBackup = true;
    }
}

void JobRunner::cancelFile() {
    // Between files, or in a step that cannot be cut short, it would skip the next file.
    if (busy() && m_ctx.control.fileCancellable()) {
        m_ctx.flags.bCancelFile = true;
    }
}

JobRunner::Quit JobRunner::requestQuit() {
    m_quitPending = true;
    if (!busy()) {
        return Quit::Now;
    }
    m_ctx.flags.bAbortBackup = true;
    return Quit::Deferred;
}

void JobRunner::noteStop() {
    if (!m_ctx.flags.stopRequested()) {
        return;
    }
    const int signal = signals::caughtStopSignal();
    m_ctx.WriteLog(m_ctx.messages.format("strMsgStopRequested",
                                         {{"%d", signal != 0 ? std::to_string(signal) : "-"}}));
    m_quitPending = true;
}

std::string JobRunner::refusalText(RunnerResult result, const std::string& job,
                                   const JobProblem& problem) const {
    const Messages& m = m_ctx.messages;
    // The job may well be in the store: it is the store that cannot be read.
    const bool unreadable = m_store.state() == StoreState::JobsUnreadable;
    if (unreadable && (result == RunnerResult::NotFound || result == RunnerResult::StoreFailed)) {
        return m.format("strMsgStoreJobsUnreadable", {{"%d", m_store.path()}});
    }
    switch (result) {
        case RunnerResult::Done:
            return "";
        case RunnerResult::Failed:
            return m.GetMessage("strMsgCantCreateRestList");
        case RunnerResult::Busy:
            return m.GetMessage("strMsgBackupPending");
        case RunnerResult::JobIsActive:
            return m.format("strMsgJobIsActive", {{"%d", job}});
        case RunnerResult::NotFound:
            return m.format("strMsgJobNotFound", {{"%d", job}});
        case RunnerResult::NameExists:
            return m.GetMessage("strMsgBackupNameExists");
        case RunnerResult::Invalid: {
            const std::string& text = m.GetMessage(problem.key);
            if (text.find("%d") != std::string::npos || problem.detail.empty()) {
                return m.format(problem.key, {{"%d", problem.detail}});
            }
            return text + " (" + problem.detail + ")";
        }
        case RunnerResult::WrongPassword:
            return m.format("strMsgWrongPWDel", {{"%d", job}});
        case RunnerResult::PasswordUnreadable:
            return m.format("strMsgJobLocked", {{"%d", job}});
        case RunnerResult::Locked:
            return m.format("strMsgRunLocked", {{"%s", m_runLock.jobRunElsewhere().value_or("")}});
        case RunnerResult::Quitting:
            return m.GetMessage("strMsgQuitPending");
        case RunnerResult::StoreFailed:
            return m.format("strMsgStoreWriteFailed", {{"%s", m_store.path()}});
    }
    return "";
}

}  // namespace kestrel
