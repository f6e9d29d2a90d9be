// SPDX-License-Identifier: GPL-3.0-or-later
// kestrel-cli beside other processes in the same program folder, and stopped by Ctrl-C.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "core/app_context.h"
#include "platform/fs.h"
#include "runner/job_runner.h"
#include "support/faults.h"
#include "support/job_builder.h"
#include "support/program.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

class ProcessesTest : public ::testing::Test {
protected:
    test::TestContext t{true};
    test::TempDir data;

    test::ProgramResult cli(std::vector<std::string> args) {
        args.insert(args.begin(), {test::cliPath(), "--home", t.home()});
        return test::runProgram(args);
    }
    // Files of noise below data/folder.
    void noiseFiles(const std::string& folder, int count, size_t size, unsigned seed) {
        for (int i = 0; i < count; ++i) {
            data.write(folder + "/f" + std::to_string(i), test::noise(size, seed + i));
        }
    }
    std::unique_ptr<clsBackup> archiveJob(const std::string& name, const std::string& source) {
        return test::JobBuilder(name)
            .folder(source)
            .to(data.file("dest"))
            .archive()
            .compressed()
            .build();
    }
    void SetUp() override { std::filesystem::create_directories(data.file("dest")); }
};

TEST_F(ProcessesTest, WhatAnotherProcessDoesDuringARunIsKeptAndCannotDisturbIt) {
    JobRunner runner(*t.ctx);
    noiseFiles("big", 6, 200'000, 0);
    const std::string small = data.write("small/a.txt", "small");
    ASSERT_EQ(runner.addJob(archiveJob("Big", data.file("big"))), RunnerResult::Done);

    test::ProgramResult added, deleted, ran, listed;
    bool once = false;
    t.host.onYield = [&] {
        if (once || !runner.busy() || !fs::exists(data.file("dest/.Big.kestrel-build/Big.uxarc"))) {
            return;
        }
        once = true;
        added = cli({"new", "--name", "Other", "--source", data.file("small"), "--dest",
                     data.file("dest"), "--storage", "copy"});
        deleted = cli({"delete", "Big"});
        ran = cli({"run", "Other"});
        listed = cli({"list"});
    };
    RunSummary summary;
    ASSERT_EQ(runner.RunBackup("Big", &summary), RunnerResult::Done);
    t.host.onYield = nullptr;
    ASSERT_TRUE(once) << "the run never yielded while its archive was being built";

    EXPECT_EQ(summary.status, kStatusOk);
    EXPECT_EQ(added.code, 0) << added.err;
    EXPECT_EQ(deleted.code, 1) << deleted.err;
    EXPECT_EQ(ran.code, 1) << ran.err;
    EXPECT_NE(listed.out.find("Other"), std::string::npos);
    EXPECT_NE(listed.out.find("Big"), std::string::npos);

    // Both the new job and the run's outcome are in the store, and in the runner's jobs.
    JobStore store(t.ctx->storePath(), t.ctx->control);
    Jobs onDisk;
    ASSERT_TRUE(store.read(onDisk));
    ASSERT_EQ(onDisk.count(), 2u);
    EXPECT_EQ(onDisk.at(0).sName, "Big");
    EXPECT_EQ(onDisk.at(0).enumStatus, kStatusOk);
    EXPECT_EQ(onDisk.at(0).lastOK.format("yyyyMMddHHmm"), t.clock.now().format("yyyyMMddHHmm"));
    EXPECT_EQ(onDisk.at(1).sName, "Other");
    ASSERT_TRUE(runner.job("Other"));

    // The refused run did not touch the running job's files: its set is whole.
    EXPECT_EQ(cli({"verify", data.file("dest/Big.fs")}).code, 0);
    const test::ProgramResult later = cli({"run", "Other"});
    EXPECT_EQ(later.code, 0) << later.err;
    EXPECT_EQ(test::readAll(data.file("dest") + small), "small");
}

TEST_F(ProcessesTest, CtrlCStopsARunCleanlyAndRecordsItAsAborted) {
    noiseFiles("tree", 3, 300'000, 20);
    ASSERT_EQ(JobRunner(*t.ctx).addJob(archiveJob("Big", data.file("tree"))), RunnerResult::Done);
    // Stopped at its first write into the volume, the run cannot have ended before the signal.
    test::Program run(test::withFaults({test::cliPath(), "--home", t.home(), "run", "Big"},
                                       {{"KESTREL_FAULT_MATCH", ".Big.kestrel-build/Big.uxarc"},
                                        {"KESTREL_FAULT_STOP_AT_WRITE", "1"}}));
    ASSERT_TRUE(run.waitStopped()) << run.wait().err;
    run.signal(SIGINT);
    run.signal(SIGCONT);
    const test::ProgramResult r = run.wait();
    EXPECT_EQ(r.code, 3) << r.err;
    Jobs onDisk;
    ASSERT_TRUE(LoadJobs(t.ctx->storePath(), onDisk, t.ctx->control));
    EXPECT_EQ(onDisk.at(0).enumStatus, kStatusAborted);
    EXPECT_FALSE(fs::exists(data.file("dest/Big.fs"))) << "an aborted run stores nothing";
}

}  // namespace
}  // namespace kestrel
