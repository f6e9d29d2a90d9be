#include "jobs/job_rules.h"

#include <gtest/gtest.h>

#include "jobs/schedule_text.h"
#include "support/job_builder.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

const DateTime kFrom = *DateTime::fromParts(2026, 1, 5, 8, 0);

TEST(ScheduleText, EveryKindRoundTripsThroughItsShortForm) {
    for (const char* spec :
         {"hourly:05", "hourly:59", "daily:mon,fri@08:00", "daily:every@23:59", "daily:sun@00:00",
          "monthly:1@12:00", "monthly:31@06:30", "monthly:last@18:00", "once:2026-12-31 23:30"}) {
        ScheduleTextError error = ScheduleTextError::None;
        auto s = parseScheduleSpec(spec, kFrom, &error);
        ASSERT_TRUE(s) << spec;
        EXPECT_EQ(error, ScheduleTextError::None);
        EXPECT_TRUE(s->enabled);
        EXPECT_EQ(scheduleSpec(*s), spec);
    }
    ScheduleTextError error = ScheduleTextError::None;
    auto daily = parseScheduleSpec("DAILY:Mon,Fri@08:00", kFrom, &error);
    ASSERT_TRUE(daily);
    EXPECT_EQ(daily->Tip, kScheduleDaily);
    EXPECT_EQ(daily->Data, kMonday | kFriday);
    EXPECT_EQ(daily->start, kFrom);
    EXPECT_EQ(daily->StartHour.format("HH:mm"), "08:00");
    auto monthly = parseScheduleSpec("monthly:15@12:00", kFrom, &error);
    ASSERT_TRUE(monthly);
    EXPECT_EQ(monthly->Data, 14);  // the day list counts from 0
    auto once = parseScheduleSpec("once:2026-03-05T14:05", kFrom, &error);
    ASSERT_TRUE(once);
    EXPECT_EQ(once->start, *DateTime::fromParts(2026, 3, 5, 14, 5));
}

TEST(ScheduleText, DamagedFormsSayWhatIsWrong) {
    const std::pair<const char*, ScheduleTextError> cases[] = {
        {"daily", ScheduleTextError::NoKind},
        {"weekly:mon@08:00", ScheduleTextError::UnknownKind},
        {"hourly:60", ScheduleTextError::BadMinute},
        {"hourly:-1", ScheduleTextError::BadMinute},
        {"daily:mon,xyz@08:00", ScheduleTextError::BadDays},
        {"daily:mon@24:00", ScheduleTextError::BadTime},
        {"daily:mon", ScheduleTextError::BadTime},
        {"monthly:0@08:00", ScheduleTextError::BadDay},
        {"monthly:32@08:00", ScheduleTextError::BadDay},
        {"once:2026-02-30 10:00", ScheduleTextError::BadDate},
        {"once:2026-1-5 10:00", ScheduleTextError::BadDate},
    };
    for (const auto& [spec, expected] : cases) {
        ScheduleTextError error = ScheduleTextError::None;
        EXPECT_FALSE(parseScheduleSpec(spec, kFrom, &error)) << spec;
        EXPECT_EQ(error, expected) << spec;
    }
}

TEST(JobRules, SplitSizesAndNames) {
    EXPECT_EQ(parseSplitSize("1"), 1);
    EXPECT_EQ(parseSplitSize("650M"), 650 * 1024 * 1024);
    EXPECT_EQ(parseSplitSize(" 64k "), 64 * 1024);
    EXPECT_EQ(parseSplitSize("2047M"), 2047 * 1024 * 1024);
    EXPECT_EQ(parseSplitSize("1G"), 1024 * 1024 * 1024);
    for (const char* bad : {"", "0", "-5", "2048M", "2G", "M", "10X", "1.5M"}) {
        EXPECT_FALSE(parseSplitSize(bad)) << bad;
    }
    EXPECT_EQ(cleanJobName("Mon-Fri-backup"), "MonFribackup");
}

class CheckJobTest : public ::testing::Test {
protected:
    test::TempDir dest;
    Jobs jobs;

    std::unique_ptr<clsBackup> valid(const std::string& name) {
        return test::JobBuilder(name).folder("/src").to(dest.path()).build();
    }
};

TEST_F(CheckJobTest, EachRuleHasItsMessage) {
    jobs.append(valid("Daily"));
    EXPECT_FALSE(checkJob(*valid("Weekly"), jobs));
    EXPECT_EQ(checkJob(*valid("DAILY"), jobs).key, "strMsgBackupNameExists");
    EXPECT_EQ(checkJob(*valid("DAILY"), jobs).field, JobField::Name);
    // The job keeps its own name, in any case, when it is changed.
    EXPECT_FALSE(checkJob(*valid("Daily"), jobs, "Daily"));
    EXPECT_EQ(checkJob(*valid("a|b"), jobs).key, "strMsgNameBadChars");
    EXPECT_EQ(checkJob(*valid(""), jobs).key, "strMsgNameEmpty");

    auto noSources = valid("N");
    noSources->ResetFiles();
    EXPECT_EQ(checkJob(*noSources, jobs).key, "strMsgNoSrcToBackup");

    auto twice = valid("T");
    twice->AddFile(std::make_unique<clsBackupFile>(clsBackupFile{"/src", kSourceFolder, 0, 0}));
    const JobProblem dup = checkJob(*twice, jobs);
    EXPECT_EQ(dup.key, "strMsgFileAlreadyAdded");
    EXPECT_EQ(dup.detail, "/src");
    EXPECT_EQ(dup.field, JobField::Sources);

    auto missing = valid("M");
    missing->sDestinationDir = dest.file("not-there");
    EXPECT_EQ(checkJob(*missing, jobs).key, "strMsgDestDirNotExists");
    EXPECT_EQ(checkJob(*missing, jobs).field, JobField::Destination);

    auto ftpCopies = valid("F");
    ftpCopies->destFTP = true;
    ftpCopies->objDestination = std::make_shared<clsKestrel>();
    ftpCopies->sDestinationDir = "/remote";
    EXPECT_EQ(checkJob(*ftpCopies, jobs).key, "strMsgCantUseThisOptWithFTP");
    ftpCopies->archived = true;
    EXPECT_FALSE(checkJob(*ftpCopies, jobs)) << "an FTP folder is not checked on this disk";

    auto split = valid("S");
    split->splitSize = 1024;
    EXPECT_EQ(checkJob(*split, jobs).key, "strMsgSplitNeedsArchive");
    EXPECT_EQ(checkJob(*split, jobs).field, JobField::ArchiveType);
    split->archived = true;
    EXPECT_FALSE(checkJob(*split, jobs));
}

TEST(JobRules, PasswordsOpenOnlyTheirJob) {
    clsBackup job;
    EXPECT_TRUE(passwordOpens(job, "anything"));
    job.Protected = true;
    job.password = "s3cret";
    EXPECT_TRUE(passwordOpens(job, "s3cret"));
    EXPECT_FALSE(passwordOpens(job, "S3CRET"));
    EXPECT_FALSE(passwordOpens(job, ""));
}

TEST(JobRules, ACloneSharesNothingWithItsJob) {
    clsBackup job;
    job.sName = "Original";
    job.Schedule = std::make_shared<clsSchedule>();
    job.Schedule->Data = 5;
    job.objDestination = std::make_shared<clsKestrel>();
    job.objDestination->hostname = "ftp.example";
    job.AddFile(std::make_unique<clsBackupFile>(clsBackupFile{"/a", kSourceFile, 3, 0}));
    auto copy = job.clone();
    copy->Schedule->Data = 9;
    copy->objDestination->hostname = "other";
    copy->Files[0]->sPath = "/b";
    copy->sName = "Copy";
    EXPECT_EQ(job.Schedule->Data, 5);
    EXPECT_EQ(job.objDestination->hostname, "ftp.example");
    EXPECT_EQ(job.Files[0]->sPath, "/a");
    EXPECT_EQ(copy->Files[0]->dSize, 3);
    EXPECT_EQ(job.sName, "Original");
}

}  // namespace
}  // namespace kestrel
