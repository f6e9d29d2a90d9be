// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/job_rules.h"

#include <gtest/gtest.h>

#include "jobs/schedule_text.h"
#include "support/job_builder.h"

namespace kestrel {
namespace {

const DateTime kFrom = *DateTime::fromParts(2026, 1, 5, 8, 0);

TEST(ScheduleText, EveryKindRoundTripsAndDamagedFormsSayWhatIsWrong) {
    ScheduleTextError error = ScheduleTextError::None;
    for (const char* spec :
         {"hourly:05", "hourly:59", "daily:mon,fri@08:00", "daily:every@23:59", "daily:sun@00:00",
          "monthly:1@12:00", "monthly:31@06:30", "monthly:last@18:00", "once:2026-12-31 23:30"}) {
        auto s = parseScheduleSpec(spec, kFrom, &error);
        ASSERT_TRUE(s) << spec;
        EXPECT_TRUE(s->enabled);
        EXPECT_EQ(scheduleSpec(*s), spec);
    }
    auto daily = parseScheduleSpec("DAILY:Mon,Fri@08:00", kFrom, &error);
    ASSERT_TRUE(daily);
    EXPECT_EQ(daily->Data, kMonday | kFriday);
    EXPECT_EQ(daily->start, kFrom);
    EXPECT_EQ(daily->StartHour.format("HH:mm"), "08:00");
    EXPECT_EQ(parseScheduleSpec("monthly:15@12:00", kFrom, &error)->Data, 14);  // counts from 0
    EXPECT_EQ(parseScheduleSpec("once:2026-03-05T14:05", kFrom, &error)->start,
              *DateTime::fromParts(2026, 3, 5, 14, 5));

    const std::pair<const char*, ScheduleTextError> damaged[] = {
        {"daily", ScheduleTextError::NoKind},
        {"weekly:mon@08:00", ScheduleTextError::UnknownKind},
        {"hourly:60", ScheduleTextError::BadMinute},
        {"daily:mon,xyz@08:00", ScheduleTextError::BadDays},
        {"daily:mon@24:00", ScheduleTextError::BadTime},
        {"monthly:32@08:00", ScheduleTextError::BadDay},
        {"once:2026-02-30 10:00", ScheduleTextError::BadDate},
    };
    for (const auto& [spec, expected] : damaged) {
        EXPECT_FALSE(parseScheduleSpec(spec, kFrom, &error)) << spec;
        EXPECT_EQ(error, expected) << spec;
    }
}

TEST(JobRules, SplitSizesNamesAndPasswords) {
    EXPECT_EQ(parseSplitSize("1"), 1);
    EXPECT_EQ(parseSplitSize(" 64k "), 64 * 1024);
    EXPECT_EQ(parseSplitSize("2047M"), 2047 * 1024 * 1024);
    EXPECT_EQ(parseSplitSize("1G"), 1024 * 1024 * 1024);
    for (const char* bad : {"", "0", "-5", "2048M", "2G", "M", "10X", "1.5M"}) {
        EXPECT_FALSE(parseSplitSize(bad)) << bad;
    }
    EXPECT_EQ(cleanJobName("Mon-Fri-backup"), "MonFribackup");

    clsBackup job;
    EXPECT_TRUE(passwordOpens(job, "anything"));
    job.Protected = true;
    job.password = "s3cret";
    EXPECT_TRUE(passwordOpens(job, "s3cret"));
    EXPECT_FALSE(passwordOpens(job, "S3CRET"));
    EXPECT_FALSE(passwordOpens(job, ""));
}

TEST(Jobs, LookupIsExactAndAClonesSharesNothing) {
    Jobs jobs;
    for (const char* name : {"Daily", "daily", "Daily"}) {
        jobs.append(test::JobBuilder(name).build());
    }
    EXPECT_EQ(jobs.find("daily"), &jobs.at(1));
    EXPECT_EQ(jobs.find("DAILY"), nullptr);
    jobs.removeAt(0);
    jobs.removeAt(7);  // out of range: nothing happens
    EXPECT_EQ(jobs.find("Daily"), &jobs.at(1));

    clsBackup job;
    job.Schedule = std::make_shared<clsSchedule>();
    job.objDestination = std::make_shared<clsKestrel>();
    job.objDestination->hostname = "ftp.example";
    EXPECT_EQ(job.AddFile(nullptr), nullptr);
    job.AddFile(std::make_unique<clsBackupFile>(clsBackupFile{"/a", kSourceFile, 3, 0}));
    EXPECT_EQ(job.AddFile(std::make_unique<clsBackupFile>())->Index, 1);
    auto copy = job.clone();
    copy->Schedule->Data = 9;
    copy->objDestination->hostname = "other";
    copy->Files[0]->sPath = "/b";
    EXPECT_EQ(job.Schedule->Data, 0);
    EXPECT_EQ(job.objDestination->hostname, "ftp.example");
    EXPECT_EQ(job.Files[0]->sPath, "/a");
    EXPECT_EQ(copy->Files[0]->dSize, 3);
}

}  // namespace
}  // namespace kestrel
