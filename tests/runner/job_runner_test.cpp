// SPDX-License-Identifier: GPL-3.0-or-later
#include "runner/job_runner.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fs.h"
#include "runner/runner_scheduler.h"
#include "support/job_builder.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

class RunnerTest : public ::testing::Test {
protected:
    test::TestContext t{true};
    test::TempDir src;
    test::TempDir dest;
    JobRunner runner{*t.ctx};

    void SetUp() override {
        src.write("tree/a.txt", "alpha");
        src.write("tree/sub/b.bin", std::string(300'000, 'b'));
        src.write("tree/c.txt", "gamma");
    }

    std::unique_ptr<clsBackup> job(const std::string& name, bool archived,
                                   const std::string& password = "") {
        return test::JobBuilder(name)
            .folder(src.file("tree"))
            .to(dest.path())
            .archive(archived)
            .password(password)
            .build();
    }
    void add(const std::string& name, bool archived, const std::string& password = "") {
        ASSERT_EQ(runner.addJob(job(name, archived, password)), RunnerResult::Done);
    }
    Jobs onDisk() {
        Jobs jobs;
        EXPECT_TRUE(LoadJobs(t.ctx->storePath(), jobs, t.ctx->control));
        return jobs;
    }
};

TEST_F(RunnerTest, ChangesToTheRunningJobAreRefusedAndAReloadIsHarmless) {
    add("Big", true);
    add("Other", false);
    std::vector<RunnerResult> during;
    bool tempIntact = false;
    t.host.onYield = [&] {
        if (!during.empty() || !fs::exists(dest.file(".Big.kestrel-build/Big.uxarc"))) {
            return;
        }
        during.push_back(runner.removeJob("Big", std::nullopt));
        during.push_back(runner.changeJob("Big", job("Big", false)));
        during.push_back(runner.RunBackup("Other"));
        during.push_back(runner.LoadJobs() ? RunnerResult::Done : RunnerResult::StoreFailed);
        tempIntact = fs::exists(dest.file(".Big.kestrel-build/Big.uxarc"));
        // Jobs other than the running one may change meanwhile.
        during.push_back(runner.changeJob("Other", job("Renamed", false)));
    };
    RunSummary summary;
    ASSERT_EQ(runner.RunBackup("Big", &summary), RunnerResult::Done);
    t.host.onYield = nullptr;
    EXPECT_EQ(during, (std::vector<RunnerResult>{RunnerResult::JobIsActive,
                                                 RunnerResult::JobIsActive, RunnerResult::Busy,
                                                 RunnerResult::Done, RunnerResult::Done}));
    EXPECT_TRUE(tempIntact) << "a reload during a run must leave the run's files alone";
    EXPECT_TRUE(t.logged("Backup process pending!"));
    EXPECT_EQ(summary.status, kStatusOk);
    const Jobs disk = onDisk();
    ASSERT_EQ(disk.count(), 2u);
    EXPECT_EQ(disk.at(0).enumStatus, kStatusOk);
    EXPECT_EQ(disk.at(1).sName, "Renamed");
    EXPECT_FALSE(runner.busy());
}

TEST_F(RunnerTest, AJobDeletedElsewhereDuringItsRunStaysDeleted) {
    add("Gone", false);
    add("Stays", false);
    JobStore elsewhere(t.ctx->storePath(), t.ctx->control);
    bool removed = false;
    t.host.onYield = [&] {
        if (removed || !runner.busy()) {
            return;
        }
        Jobs seen;
        removed = elsewhere.remove("Gone", seen) == JobStore::Result::Written;
        // The runner picks the change up; the run goes on with its own copy of the job.
        EXPECT_TRUE(runner.refreshIfChanged());
        EXPECT_FALSE(runner.job("Gone"));
    };
    RunSummary summary;
    ASSERT_EQ(runner.RunBackup("Gone", &summary), RunnerResult::Done);
    t.host.onYield = nullptr;
    ASSERT_TRUE(removed);
    EXPECT_EQ(summary.status, kStatusOk);
    EXPECT_EQ(summary.stored, 3);
    const Jobs disk = onDisk();
    ASSERT_EQ(disk.count(), 1u);
    EXPECT_EQ(disk.at(0).sName, "Stays");
    EXPECT_EQ(runner.RunBackup("Gone"), RunnerResult::NotFound);
    EXPECT_TRUE(t.logged("No backup named Gone!"));
}

TEST_F(RunnerTest, NothingElseRunsDuringARestoreAndItsWorkingFolderIsItsOwn) {
    add("Safe", true, "pw");
    ASSERT_EQ(runner.RunBackup("Safe"), RunnerResult::Done);
    RestoreState state;
    ASSERT_EQ(runner.openRestore("Safe", state), RunnerResult::Done);
    ASSERT_TRUE(state.work);
    const std::string work = state.work->path();
    EXPECT_EQ(fs::parentOf(work) + "/", t.ctx->paths.tempDir());
    state.tree.setChecked(state.tree.sessions()[0], true);

    std::vector<RunnerResult> during;
    bool volumeThere = false;
    t.host.onYield = [&] {
        if (!during.empty() || !fs::exists(fs::join(work, "Safe.uxarc"))) {
            return;
        }
        RestoreState other;
        during.push_back(runner.RunBackup("Safe"));
        during.push_back(runner.openRestore("Safe", other));
        during.push_back(runner.restore(state, RestoreOptions{}));
        during.push_back(runner.removeJob("Safe", "pw"));
        volumeThere = fs::exists(fs::join(work, "Safe.uxarc"));
    };
    RestoreSummary summary;
    test::TempDir out;
    ASSERT_EQ(runner.restore(state, RestoreOptions{false, out.path(), false}, &summary),
              RunnerResult::Done);
    t.host.onYield = nullptr;
    EXPECT_EQ(during, (std::vector<RunnerResult>{RunnerResult::Busy, RunnerResult::Busy,
                                                 RunnerResult::Busy, RunnerResult::JobIsActive}));
    EXPECT_TRUE(volumeThere);
    EXPECT_EQ(summary.restored, 3);
    EXPECT_EQ(test::readAll(out.path() + src.file("tree/a.txt")), "alpha");

    // The working folder, with the decrypted catalogue and volume, goes with the state.
    state = RestoreState{};
    EXPECT_FALSE(fs::exists(work));
}

TEST_F(RunnerTest, LoadJobsPreparesTheTemporaryFolderOnlyWhenNoRunOwnsIt) {
    const std::string leftover = t.dir.write("temp/leftover.uxarc", "x");
    t.dir.write("temp/keep/sub.txt", "x");
    t.dir.write("temp/scratch-dead01/.lock", "");  // left by a crashed reader

    RunLock other(t.ctx->paths.path("run.lock"));
    ASSERT_EQ(other.acquire("Elsewhere", nullptr), RunLock::Result::Acquired);
    ASSERT_TRUE(runner.LoadJobs());
    EXPECT_TRUE(fs::exists(leftover)) << "another process's run owns the temporary folder";
    other.release();

    ASSERT_TRUE(runner.LoadJobs());
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_FALSE(fs::exists(t.dir.file("temp/scratch-dead01")));
    EXPECT_TRUE(fs::exists(t.dir.file("temp/keep/sub.txt")));

    std::filesystem::remove_all(t.dir.file("temp"));
    ASSERT_TRUE(runner.LoadJobs());
    EXPECT_TRUE(fs::isDirectory(t.dir.file("temp")));
}

TEST_F(RunnerTest, AJobWhosePasswordCannotBeReadIsLockedUntilItGetsANewOne) {
    // The store tests read every kind of damaged value; one is enough for the runner.
    test::TempDir otherDest;
    const auto hourly = [](std::unique_ptr<clsBackup> j) {
        j->Schedule = test::schedule(kScheduleHourly, 0, *DateTime::fromParts(2006, 1, 1, 0, 0));
        return j;
    };
    ASSERT_EQ(runner.addJob(hourly(job("Vault", true, "old"))), RunnerResult::Done);
    auto other = hourly(job("Other", true));
    other->sDestinationDir = otherDest.path();
    ASSERT_EQ(runner.addJob(std::move(other)), RunnerResult::Done);
    test::setStoredValue(t.ctx->storePath(), "Vault", "Protected", "97,abc");
    ASSERT_TRUE(runner.readJobs());
    ASSERT_TRUE(runner.job("Vault")->passwordUnreadable);

    // Whatever the password given, nothing runs, changes or goes (the main window's test refuses
    // restore and delete too).
    auto unprotected = job("Vault", true);
    EXPECT_EQ(runner.RunBackup("Vault"), RunnerResult::PasswordUnreadable);
    EXPECT_EQ(runner.changeJob("Vault", std::move(unprotected)), RunnerResult::PasswordUnreadable);
    EXPECT_EQ(runner.removeJob("Vault", ""), RunnerResult::PasswordUnreadable);
    EXPECT_TRUE(std::filesystem::is_empty(dest.path()));
    EXPECT_TRUE(t.logged(t.ctx->messages.format("strMsgJobLocked", {{"%d", "Vault"}})));

    // The scheduler leaves it alone and runs the other job that is due.
    t.clock.set(*DateTime::fromParts(2006, 1, 15, 19, 59, 50));
    RunnerScheduler scheduler(*t.ctx, runner);
    for (int i = 0; i < 20; ++i) {
        scheduler.tick();
        t.clock.advanceSeconds(1);
    }
    EXPECT_TRUE(fs::exists(otherDest.file("Other.fs"))) << "the tick ran what was due";
    EXPECT_TRUE(std::filesystem::is_empty(dest.path()));
    EXPECT_TRUE(runner.job("Vault")->passwordUnreadable);

    // Only a new password unlocks it; its runs are then encrypted.
    JobProblem problem;
    EXPECT_EQ(runner.setNewPassword("Vault", "", &problem), RunnerResult::Invalid);
    EXPECT_EQ(problem.key, "strMsgPasswordMissing");
    EXPECT_EQ(runner.setNewPassword("Other", "new", &problem), RunnerResult::Invalid);
    EXPECT_EQ(problem.key, "strMsgJobNotLocked");
    ASSERT_EQ(runner.setNewPassword("Vault", "new"), RunnerResult::Done);
    EXPECT_TRUE(t.logged("The backup Vault has a new password and is no longer locked."));
    const Jobs disk = onDisk();
    EXPECT_FALSE(disk.at(0).passwordUnreadable);
    EXPECT_EQ(disk.at(0).password, "new");
    RunSummary summary;
    ASSERT_EQ(runner.RunBackup("Vault", &summary), RunnerResult::Done);
    EXPECT_EQ(summary.status, kStatusOk);
    std::string stored;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dest.path())) {
        stored += e.is_regular_file() ? test::readAll(e.path().string()) : "";
    }
    EXPECT_FALSE(stored.empty());
    EXPECT_EQ(stored.find("gamma"), std::string::npos);
    EXPECT_EQ(stored.find(std::string(64, 'b')), std::string::npos);
}

}  // namespace
}  // namespace kestrel
