#include "jobs/backup.h"

#include <gtest/gtest.h>

#include "jobs/jobs.h"

namespace kestrel {
namespace {

TEST(Backup, NewJobDefaults) {
    const clsBackup job;
    EXPECT_TRUE(job.Files.empty());
    EXPECT_EQ(job.Schedule, nullptr);
    EXPECT_EQ(job.objDestination, nullptr);
    EXPECT_EQ(job.enumStatus, kStatusNeverRun);
    EXPECT_TRUE(job.lastOK.isZero());
    EXPECT_FALSE(job.archived || job.bZipped || job.bIncremental || job.destFTP || job.Protected);
}

TEST(Backup, AddFileNumbersEntriesAndIgnoresNull) {
    clsBackup job;
    EXPECT_EQ(job.AddFile(nullptr), nullptr);
    EXPECT_TRUE(job.Files.empty());
    for (int i = 0; i < 3; ++i) {
        auto* added = job.AddFile(std::make_unique<clsBackupFile>(clsBackupFile{"/p", 1, 0, 99}));
        ASSERT_NE(added, nullptr);
        EXPECT_EQ(added->Index, i);
    }
    job.ResetFiles();
    EXPECT_TRUE(job.Files.empty());
    EXPECT_EQ(job.AddFile(std::make_unique<clsBackupFile>())->Index, 0);
}

TEST(Jobs, LookupTakesTheFirstExactMatch) {
    Jobs jobs;
    for (const char* name : {"Daily", "daily", "Daily"}) {
        auto job = std::make_unique<clsBackup>();
        job->sName = name;
        jobs.append(std::move(job));
    }
    EXPECT_EQ(jobs.find("Daily"), &jobs.at(0));
    EXPECT_EQ(jobs.find("daily"), &jobs.at(1));
    EXPECT_EQ(jobs.find("DAILY"), nullptr);
    EXPECT_EQ(jobs.indexOf("daily"), 1);
    jobs.removeAt(0);
    EXPECT_EQ(jobs.find("Daily"), &jobs.at(1));
    jobs.removeAt(7);  // out of range: nothing happens
    EXPECT_EQ(jobs.count(), 2u);
}

}  // namespace
}  // namespace kestrel
