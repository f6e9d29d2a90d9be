#include "jobs/job_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "jobs/job_rules.h"
#include "jobs/scramble.h"
#include "jobs/store_format.h"
#include "platform/file_lock.h"
#include "platform/fs.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

class JobStoreTest : public ::testing::Test {
protected:
    test::TestContext t;
    Jobs jobs;
    AppContext& ctx() { return *t.ctx; }
    std::string store() const { return t.ctx->storePath(); }
    bool save() { return SaveJobs(store(), jobs, ctx().control); }
    bool load() {
        jobs.clear();
        return LoadJobs(store(), jobs, ctx().control);
    }

    clsBackup& addJob(const std::string& name) {
        auto job = std::make_unique<clsBackup>();
        job->sName = name;
        return jobs.append(std::move(job));
    }
    // Every feature the store can hold, on three jobs.
    void addSampleJobs() {
        clsBackup& a = addJob("Documents");
        a.sDestinationDir = "/mnt/backup";
        a.IncludeMask = "*.doc;*.txt";
        a.ExcludeMask = "*.tmp";
        a.archived = true;
        a.bZipped = true;
        a.bIncremental = true;
        a.splitSize = 1509949;
        a.Protected = true;
        a.password = "s3cret, with = and ,";
        a.enumStatus = kStatusOk;
        a.lastOK = *DateTime::fromParts(2006, 1, 15, 19, 30);
        a.Schedule = std::make_shared<clsSchedule>();
        a.Schedule->Tip = kScheduleDaily;
        a.Schedule->enabled = true;
        a.Schedule->start = *DateTime::fromParts(2006, 1, 15, 19, 30);
        a.Schedule->Data = 31;
        a.Schedule->StartHour = DateTime().addSeconds(8 * 3600);
        a.AddFile(
            std::make_unique<clsBackupFile>(clsBackupFile{"/home/u/docs", kSourceFolder, 0, 0}));
        a.AddFile(std::make_unique<clsBackupFile>(
            clsBackupFile{"/home/u/a,b.txt", kSourceFile, 1234, 0}));
        a.AddFile(
            std::make_unique<clsBackupFile>(clsBackupFile{"/home/u/pics", kSourceFolder, 0, 0}));

        clsBackup& b = addJob("Remote");
        b.destFTP = true;
        b.objDestination = std::make_shared<clsKestrel>();
        b.objDestination->hostname = "ftp.example.org";
        b.objDestination->port = 2121;
        b.objDestination->username = "backup";
        b.objDestination->password = "ftp pass";
        b.objDestination->bPassiveMode = false;
        b.sDestinationDir = "/backups/remote";
        b.archived = true;
        b.enumStatus = kStatusAborted;
        b.Schedule = std::make_shared<clsSchedule>();
        b.Schedule->Tip = kScheduleHourly;
        b.Schedule->enabled = true;
        b.Schedule->start = *DateTime::fromParts(2026, 12, 6, 10, 0);
        b.Schedule->Data = 30;
        b.AddFile(std::make_unique<clsBackupFile>(clsBackupFile{"/srv/data", kSourceFolder, 0, 0}));

        clsBackup& c = addJob("Plain copy ü");
        c.sDestinationDir = "/media/usb";
        c.enumStatus = kStatusFailed;
        c.AddFile(
            std::make_unique<clsBackupFile>(clsBackupFile{"/etc/hosts", kSourceFile, 158, 0}));
    }
};

TEST_F(JobStoreTest, WritesTheDocumentedFormat) {
    addSampleJobs();
    const std::string written = writeJobStore(jobs).serialize();
    EXPECT_EQ(written.substr(0, written.find("[Documents]")),
              "[Backups]\r\nDocuments\r\nRemote\r\nPlain copy ü\r\n\r\n");
    const std::string documents =
        "[Documents]\r\nStorage=LOC\r\nDestination=/mnt/backup\r\nType=INCR\r\nCompress=ZIP\r\n"
        "IMSK=*.doc;*.txt\r\nEMSK=*.tmp\r\nStatus=1\r\nProtected=" +
        ToCodeList(ScrambleText("s3cret, with = and ,")) +
        "\r\nOKLast=200601151930\r\nArchived=yes\r\nSplit=1509949\r\n"
        "Schedule=2,200601151930,031,0800\r\nDir0001=/home/u/docs\r\n"
        "File0001=/home/u/a,b.txt,1234\r\nDir0002=/home/u/pics\r\n";
    EXPECT_NE(written.find(documents), std::string::npos) << written;
    const std::string remote =
        "[Remote]\r\nStorage=FTP\r\nHostname=ftp.example.org\r\nPort=2121\r\nUser=backup\r\nPass=" +
        ToCodeList(ScrambleText("ftp pass")) +
        "\r\nPav=PORT\r\nDestination=/backups/remote\r\nType=FULL\r\nCompress=NOT\r\n";
    EXPECT_NE(written.find(remote), std::string::npos) << written;
    EXPECT_NE(written.find("Protected=\r\nOKLast=189912300000\r\nArchived=no\r\nSplit=0\r\n"
                           "Schedule=0\r\nFile0001=/etc/hosts,158\r\n"),
              std::string::npos);
    EXPECT_NE(written.find("Schedule=1,202612061000,030\r\n"), std::string::npos);
}

TEST_F(JobStoreTest, SaveThenLoadThenSaveIsByteIdentical) {
    addSampleJobs();
    ASSERT_TRUE(save());
    const std::string first = test::readAll(store());
    ASSERT_TRUE(load());
    ASSERT_EQ(jobs.count(), 3u);
    ASSERT_TRUE(save());
    EXPECT_EQ(test::readAll(store()), first);

    const clsBackup& a = jobs.at(0);
    EXPECT_EQ(a.sName, "Documents");
    EXPECT_EQ(a.password, "s3cret, with = and ,");
    EXPECT_TRUE(a.Protected);
    ASSERT_EQ(a.Files.size(), 3u);
    EXPECT_EQ(a.Files[1]->sPath, "/home/u/a,b.txt");
    EXPECT_EQ(a.Files[1]->dSize, 1234);
    EXPECT_EQ(a.Files[2]->Index, 2);
    EXPECT_EQ(a.Schedule->StartHour.format("HH:mm"), "08:00");
    const clsBackup& b = jobs.at(1);
    ASSERT_TRUE(b.objDestination);
    EXPECT_EQ(b.objDestination->password, "ftp pass");
    EXPECT_EQ(b.objDestination->port, 2121);
    EXPECT_FALSE(b.objDestination->bPassiveMode);
    EXPECT_EQ(b.enumStatus, kStatusAborted);
    EXPECT_EQ(jobs.at(2).sName, "Plain copy ü");
    EXPECT_TRUE(t.host.logLines.empty());
}

TEST_F(JobStoreTest, SaveKeepsThePreviousVersionAndIsPrivate) {
    addJob("One");
    ASSERT_TRUE(save());
    EXPECT_FALSE(fs::exists(store() + ".bak"));
    const std::string first = test::readAll(store());
    addJob("Two");
    ASSERT_TRUE(save());
    EXPECT_EQ(test::readAll(store() + ".bak"), first);
    EXPECT_NE(test::readAll(store()), first);
    for (const std::string& p : {store(), store() + ".bak"}) {
        EXPECT_EQ(std::filesystem::status(p).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    // No temporary file is left beside the store.
    for (const auto& e : std::filesystem::directory_iterator(t.home())) {
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos);
    }
}

TEST_F(JobStoreTest, AFailedSaveReturnsFalseAndSaysSo) {
    // A folder where the store should be: nothing can replace it, whoever runs the test.
    std::filesystem::create_directories(store() + "/in-the-way");
    addJob("One");
    EXPECT_FALSE(save());
    EXPECT_TRUE(t.loggedContaining("Cannot write the job store"));
    EXPECT_TRUE(fs::isDirectory(store() + "/in-the-way"));
}

TEST_F(JobStoreTest, HandWrittenStoresLoadAsTheFormatSays) {
    t.dir.write("backups.ini",
                "[backups]\r\n"
                "First\r\n"
                "\r\n"
                "Second\xff"
                "ignored tail\r\n"
                "Orphan in list\r\n"
                "[first]\r\n"
                "type=full\r\n"
                "compress=not\r\n"
                "archived=Yes\r\n"
                "File0001=C:\\data\\a.txt,1234\r\n"
                "File0002=C:\\data\\b.txt\r\n"
                "File0003=/data/c,d.txt\r\n"
                "file0004 = /data/e.txt , 77 \r\n"
                "Schedule=4,200612312330,000,0000\r\n"
                "Unknown=ignored\r\n"
                "[Second]\r\n"
                "Type=FULL\r\n"
                "Compress=NOT\r\n"
                "Archived=no\r\n"
                "Schedule=0\r\n"
                "Storage=FTP\r\n"
                "Port=21\r\n");
    ASSERT_TRUE(load());
    ASSERT_EQ(jobs.count(), 3u);
    const clsBackup& first = jobs.at(0);
    // Only the key is read without case: "full" and "not" are not the words the writer uses.
    EXPECT_TRUE(first.bIncremental);
    EXPECT_TRUE(first.bZipped);
    EXPECT_TRUE(first.archived);
    ASSERT_EQ(first.Files.size(), 4u);
    EXPECT_EQ(first.Files[0]->sPath, "C:\\data\\a.txt");
    EXPECT_EQ(first.Files[0]->dSize, 1234);
    EXPECT_EQ(first.Files[1]->sPath, "C:\\data\\b.txt");
    EXPECT_EQ(first.Files[1]->dSize, 0);
    EXPECT_EQ(first.Files[2]->sPath, "/data/c,d.txt");  // no size after the last comma
    EXPECT_EQ(first.Files[2]->dSize, 0);
    EXPECT_EQ(first.Files[3]->sPath, "/data/e.txt ");
    EXPECT_EQ(first.Files[3]->dSize, 77);
    ASSERT_TRUE(first.Schedule);
    EXPECT_EQ(first.Schedule->Tip, kScheduleOnce);
    EXPECT_TRUE(first.Schedule->enabled);
    EXPECT_EQ(first.Schedule->start, *DateTime::fromParts(2006, 12, 31, 23, 30));

    const clsBackup& second = jobs.at(1);
    EXPECT_EQ(second.sName, "Second");
    EXPECT_FALSE(second.bIncremental || second.bZipped || second.archived);
    EXPECT_EQ(second.Schedule, nullptr);
    EXPECT_TRUE(second.destFTP);
    EXPECT_EQ(second.objDestination->port, 21);

    // A listed name without a section is a job with the defaults.
    const clsBackup& orphan = jobs.at(2);
    EXPECT_EQ(orphan.sName, "Orphan in list");
    EXPECT_TRUE(orphan.Files.empty());
    EXPECT_EQ(orphan.enumStatus, kStatusNeverRun);
    EXPECT_TRUE(t.host.logLines.empty());
}

TEST_F(JobStoreTest, MissingStoreGivesNoJobsAndTheSettingsTheirDefaults) {
    t.dir.write("settings.ini", "[Backup\\General Settings]\nstyle=3\nblockSchedule=0\n");
    ASSERT_TRUE(load());
    EXPECT_TRUE(jobs.empty());
    ctx().settings.loadStartupValues(ctx().paths);
    EXPECT_EQ(ctx().settings.style, 3);
    EXPECT_FALSE(ctx().settings.blockSchedule);

    std::filesystem::remove(t.dir.file("settings.ini"));
    ctx().settings.loadStartupValues(ctx().paths);
    EXPECT_EQ(ctx().settings.style, 1);
    EXPECT_TRUE(ctx().settings.blockSchedule);
}

TEST_F(JobStoreTest, ScheduleTextsRoundTripAndDamagedOnesAreRefused) {
    for (const char* text : {"1,200601151930,030", "2,200601151930,031,0800",
                             "3,202612061200,014,1200", "4,200612312330,000,0000"}) {
        std::string problem;
        auto s = parseScheduleText(text, &problem);
        ASSERT_TRUE(s) << text << ": " << problem;
        EXPECT_EQ(scheduleText(s.get()), text);
    }
    for (const char* text : {"x,200601151930,030", "2,2006011519", "2,200613151930,031,0800",
                             "2,200601151930,031,2500", "1,200601151930,999", "1,200601151930"}) {
        std::string problem;
        EXPECT_EQ(parseScheduleText(text, &problem), nullptr) << text;
        EXPECT_FALSE(problem.empty()) << text;
    }
    std::string problem;
    EXPECT_EQ(parseScheduleText("0", &problem), nullptr);
    EXPECT_EQ(parseScheduleText("", &problem), nullptr);
    EXPECT_TRUE(problem.empty());
    clsSchedule odd;
    odd.Tip = 9;
    EXPECT_EQ(scheduleText(&odd), "");
    EXPECT_EQ(scheduleText(nullptr), "0");
}

TEST_F(JobStoreTest, DamagedLinesAreSkippedLoggedAndTheOriginalKept) {
    const std::string damaged =
        "[Backups]\r\nGood\r\nBroken\r\n"
        "[Good]\r\nDestination=/d\r\nDir0001=/src\r\n"
        "[Broken]\r\nStorage=FTP\r\nPort=twenty-one\r\nPass=1,2,999\r\nStatus=x\r\nSplit=\r\n"
        "OKLast=2006\r\nSchedule=q\r\nProtected=abc\r\nDir0001=/kept\r\nDestinat";
    t.dir.write("backups.ini", damaged);
    ASSERT_TRUE(load());
    ASSERT_EQ(jobs.count(), 2u);
    EXPECT_EQ(jobs.at(0).Files.size(), 1u);
    const clsBackup& broken = jobs.at(1);
    EXPECT_EQ(broken.objDestination->port, 21);
    EXPECT_EQ(broken.enumStatus, kStatusNeverRun);
    EXPECT_EQ(broken.splitSize, 0);
    EXPECT_TRUE(broken.lastOK.isZero());
    EXPECT_EQ(broken.Schedule, nullptr);
    EXPECT_TRUE(broken.Protected);
    EXPECT_TRUE(broken.passwordUnreadable);
    ASSERT_EQ(broken.Files.size(), 1u);
    EXPECT_EQ(broken.Files[0]->sPath, "/kept");
    for (const char* what :
         {"Port", "Pass", "Status", "Split", "OKLast", "Schedule", "line without"}) {
        EXPECT_TRUE(t.loggedContaining(std::string("[Broken]: ") + what)) << what;
    }

    // The original survives beside the store, also after the next two saves.
    ASSERT_TRUE(save());
    ASSERT_TRUE(save());
    const std::string copy = store() + ".damaged-20060115193005";
    EXPECT_EQ(test::readAll(copy), damaged);
    EXPECT_TRUE(t.loggedContaining("original content is kept as " + copy));
}

TEST_F(JobStoreTest, AJobNamedLikeTheJobListIsSkipped) {
    t.dir.write("backups.ini",
                "[Backups]\r\nDocs\r\nbackups\r\n[Docs]\r\nDestination=/d\r\n"
                "[backups]\r\nDestination=/elsewhere\r\n");
    ASSERT_TRUE(load());
    ASSERT_EQ(jobs.count(), 1u);
    EXPECT_EQ(jobs.at(0).sName, "Docs");
    EXPECT_TRUE(t.loggedContaining("[Backups]: a job named like the job list"));
    // Saving it writes no settings into the job list: the store reads back the same.
    ASSERT_TRUE(save());
    ASSERT_TRUE(load());
    ASSERT_EQ(jobs.count(), 1u);
    EXPECT_EQ(jobs.at(0).sName, "Docs");
    EXPECT_EQ(jobs.at(0).sDestinationDir, "/d");
}

// Copies of damaged stores beside the store, by name.
std::vector<std::string> damagedCopies(const std::string& home) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(home)) {
        const std::string name = e.path().filename().string();
        if (name.find(".damaged-") != std::string::npos) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> contents;
    for (const std::string& name : names) {
        contents.push_back(test::readAll(home + "/" + name));
    }
    return contents;
}

// A "Protected" value that gives no password keeps the job protected and locked, and a save of
// the store (another job changed) writes the value back as it was read.
TEST_F(JobStoreTest, AnUnreadableProtectionLocksTheJobAndIsWrittenBackAsRead) {
    const std::string other = "[Other]\r\nDestination=/o\r\n";
    for (const char* value : {"97,300,98", "97,abc", "97,,98", "97,98,", ",", "-1"}) {
        SCOPED_TRACE(value);
        const std::string locked =
            "[Docs]\r\nStorage=LOC\r\nDestination=/d\r\nProtected=" + std::string(value) +
            "\r\nArchived=yes\r\n";
        t.dir.write("backups.ini", "[Backups]\r\nDocs\r\nOther\r\n" + locked + other);
        StoreState state = StoreState::Damaged;
        jobs.clear();
        ASSERT_TRUE(LoadJobs(store(), jobs, ctx().control, &state));
        EXPECT_EQ(state, StoreState::Sound);  // nothing is lost by a rewrite: no copy is kept
        ASSERT_EQ(jobs.count(), 2u);
        EXPECT_TRUE(jobs.at(0).Protected);
        EXPECT_TRUE(jobs.at(0).passwordUnreadable);
        EXPECT_TRUE(jobs.at(0).password.empty());
        EXPECT_FALSE(passwordOpens(jobs.at(0), ""));

        jobs.at(1).sDestinationDir = "/elsewhere";
        ASSERT_TRUE(save());
        const std::string written = test::readAll(store());
        EXPECT_NE(written.find("\r\nProtected=" + std::string(value) + "\r\n"), std::string::npos)
            << written;
        EXPECT_TRUE(damagedCopies(t.home()).empty());
        ASSERT_TRUE(load());
        EXPECT_TRUE(jobs.at(0).passwordUnreadable);
        EXPECT_EQ(jobs.at(1).sDestinationDir, "/elsewhere");
    }

    // A locked job made in memory, with no value to write back, still reads back locked.
    jobs.clear();
    addJob("Made").Protected = true;
    jobs.at(0).passwordUnreadable = true;
    ASSERT_TRUE(save());
    ASSERT_TRUE(load());
    EXPECT_TRUE(jobs.at(0).passwordUnreadable);
}

// Stores as editors, crashes and hand edits leave them: what a read finds, and what a save that
// adds a job does to them. Reads never write.
TEST_F(JobStoreTest, DamagedStoresAreKeptOnceBeforeARewriteOrNotRewrittenAtAll) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string list = "[Backups]\r\nDocs\r\nPics\r\n";
    const std::string sections = "[Docs]\r\nDestination=/d\r\n[Pics]\r\nDestination=/p\r\n";
    std::string junk;  // no line starts a section
    for (int i = 0; i < 4096; ++i) {
        const char c = static_cast<char>((i * 7919) % 256);
        junk += c == '[' ? 'x' : c;
    }
    struct Case {
        const char* what;
        std::string content;
        std::vector<std::string> names;
        StoreState state;
    };
    const std::vector<Case> cases = {
        {"BOM, CR LF", bom + list + sections, {"Docs", "Pics"}, StoreState::Sound},
        {"BOM, LF", bom + "[Backups]\nDocs\n[Docs]\nDestination=/d\n", {"Docs"}, StoreState::Sound},
        {"BOM only", bom, {}, StoreState::Sound},
        {"two BOMs", bom + bom + list + sections, {}, StoreState::JobsUnreadable},
        {"NULs before the list",
         std::string(3, '\0') + list + sections,
         {},
         StoreState::JobsUnreadable},
        {"empty job list", "[Backups]\r\n" + sections, {}, StoreState::JobsUnreadable},
        {"a damaged list line",
         "[Backups]\r\nDocs\r\nPi\x01"
         "cs\r\n" +
             sections,
         {"Docs"},
         StoreState::Damaged},
        {"a section the list lacks",
         "[Backups]\r\nDocs\r\n" + sections,
         {"Docs"},
         StoreState::Damaged},
        {"twice the same section",
         list + sections + "[docs]\r\nDestination=/e\r\n",
         {"Docs", "Pics"},
         StoreState::Damaged},
        {"binary junk", junk, {}, StoreState::Damaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& e : std::filesystem::directory_iterator(t.home())) {
            if (e.path().filename().string().starts_with("backups.ini")) {
                std::filesystem::remove(e.path());
            }
        }
        t.dir.write("backups.ini", c.content);
        StoreState state = StoreState::Sound;
        for (int i = 0; i < 3; ++i) {
            jobs.clear();
            ASSERT_TRUE(LoadJobs(store(), jobs, ctx().control, &state));
        }
        std::vector<std::string> names;
        for (const auto& job : jobs) {
            names.push_back(job->sName);
        }
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(state, c.state);
        EXPECT_TRUE(damagedCopies(t.home()).empty());

        addJob("New");
        if (c.state == StoreState::JobsUnreadable) {
            EXPECT_FALSE(save());
            EXPECT_EQ(test::readAll(store()), c.content);
            EXPECT_TRUE(t.loggedContaining("Not one job of the job store " + store()));
            EXPECT_TRUE(damagedCopies(t.home()).empty());
            continue;
        }
        ASSERT_TRUE(save());
        ASSERT_TRUE(save());
        const std::string written = test::readAll(store());
        EXPECT_TRUE(written.starts_with("[Backups]\r\n")) << written;
        EXPECT_EQ(damagedCopies(t.home()), c.state == StoreState::Damaged
                                               ? std::vector<std::string>{c.content}
                                               : std::vector<std::string>{});
        names.push_back("New");
        jobs.clear();
        ASSERT_TRUE(LoadJobs(store(), jobs, ctx().control, &state));
        EXPECT_EQ(state, StoreState::Sound);
        EXPECT_EQ(jobs.count(), names.size());
    }
}

TEST_F(JobStoreTest, ManySourcesSurviveARoundTrip) {
    clsBackup& job = addJob("Big");
    for (int i = 0; i < 5000; ++i) {
        job.AddFile(std::make_unique<clsBackupFile>(
            clsBackupFile{"/data/folder number " + std::to_string(i), i % 2, i % 2 ? 0 : i, 0}));
    }
    ASSERT_TRUE(save());
    ASSERT_TRUE(load());
    ASSERT_EQ(jobs.at(0).Files.size(), 5000u);
    EXPECT_EQ(jobs.at(0).Files[4999]->sPath, "/data/folder number 4999");
}

TEST_F(JobStoreTest, UnusualNamesAndEntryKinds) {
    clsBackup& job = addJob("Weekly [main]");
    job.AddFile(std::make_unique<clsBackupFile>(clsBackupFile{"/x", 5, 0, 0}));  // not written
    job.Protected = true;  // with an empty password: loads as unprotected
    ASSERT_TRUE(save());
    ASSERT_TRUE(load());
    ASSERT_EQ(jobs.count(), 1u);
    EXPECT_EQ(jobs.at(0).sName, "Weekly [main]");
    EXPECT_TRUE(jobs.at(0).Files.empty());
    EXPECT_FALSE(jobs.at(0).Protected);
}

TEST_F(JobStoreTest, JobNamesThatCannotBeStored) {
    EXPECT_TRUE(isStorableJobName("Daily backup"));
    EXPECT_TRUE(isStorableJobName("Sicherung ü"));
    for (const char* bad : {"", " lead", "trail ", "Backups", "BACKUPS", "a[b", "a]b", ";x",
                            "tab\there\n", "a\xff", "a/b", "a|b"}) {
        std::string why;
        EXPECT_FALSE(isStorableJobName(bad, &why)) << bad;
        EXPECT_FALSE(ctx().msg(why).empty()) << why;
    }
}

TEST_F(JobStoreTest, NewJobAdvancesTheCounterEveryTime) {
    EXPECT_EQ(NewJob(ctx().settings), "New backup 1");
    EXPECT_EQ(NewJob(ctx().settings), "New backup 2");
    EXPECT_EQ(NewJob(ctx().settings), "New backup 3");
    EXPECT_EQ(ctx().settings.general("bkpIndex"), "3");
    ASSERT_TRUE(ctx().settings.saveGeneral("bkpIndex", "41"));
    EXPECT_EQ(NewJob(ctx().settings), "New backup 42");
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// Two JobStore objects over one file stand for two processes (the desktop program and
// kestrel-cli): their locks conflict as those of two processes do.
class SharedStoreTest : public ::testing::Test {
protected:
    test::TestContext t;
    RunControl& rc() { return t.ctx->control; }
    std::string path() const { return t.ctx->storePath(); }

    static std::shared_ptr<clsBackup> job(const std::string& name) {
        auto j = std::make_shared<clsBackup>();
        j->sName = name;
        j->sDestinationDir = "/dest/" + name;
        return j;
    }
    Jobs onDisk() {
        Jobs jobs;
        EXPECT_TRUE(LoadJobs(path(), jobs, rc()));
        return jobs;
    }
    static std::vector<std::string> names(const Jobs& jobs) {
        std::vector<std::string> out;
        for (const auto& j : jobs) {
            out.push_back(j->sName);
        }
        return out;
    }
};

TEST_F(SharedStoreTest, ChangesOfTwoProcessesAreBothKept) {
    JobStore program(path(), rc());
    JobStore cli(path(), rc());
    Jobs seenByProgram;
    Jobs seenByCli;
    ASSERT_EQ(program.add(job("Big"), seenByProgram), JobStore::Result::Written);
    ASSERT_EQ(program.add(job("Small"), seenByProgram), JobStore::Result::Written);
    EXPECT_FALSE(program.changedOnDisk());

    // While the program runs "Big", the command line adds a job and deletes another.
    ASSERT_TRUE(cli.read(seenByCli));
    ASSERT_EQ(cli.add(job("New"), seenByCli), JobStore::Result::Written);
    ASSERT_EQ(cli.remove("Small", seenByCli), JobStore::Result::Written);
    EXPECT_TRUE(program.changedOnDisk());

    // The run's outcome goes in by name: the other process's changes stay.
    const DateTime when = *DateTime::fromParts(2026, 3, 4, 5, 6);
    ASSERT_EQ(program.recordOutcome("Big", kStatusOk, when, seenByProgram),
              JobStore::Result::Written);
    EXPECT_EQ(names(seenByProgram), (std::vector<std::string>{"Big", "New"}));
    const Jobs disk = onDisk();
    EXPECT_EQ(names(disk), (std::vector<std::string>{"Big", "New"}));
    EXPECT_EQ(disk.at(0).enumStatus, kStatusOk);
    EXPECT_EQ(disk.at(0).lastOK, when);
    EXPECT_EQ(disk.at(1).sDestinationDir, "/dest/New");

    // A job deleted elsewhere during its run is not brought back by the run's outcome.
    ASSERT_EQ(cli.remove("Big", seenByCli), JobStore::Result::Written);
    EXPECT_EQ(program.recordOutcome("Big", kStatusFailed, when, seenByProgram),
              JobStore::Result::NotFound);
    EXPECT_EQ(names(onDisk()), (std::vector<std::string>{"New"}));
    EXPECT_EQ(names(seenByProgram), (std::vector<std::string>{"New"}));
}

TEST_F(SharedStoreTest, NamesClashInAnyCaseAndReplaceFollowsTheName) {
    JobStore store(path(), rc());
    Jobs seen;
    ASSERT_EQ(store.add(job("Daily"), seen), JobStore::Result::Written);
    ASSERT_EQ(store.add(job("Weekly"), seen), JobStore::Result::Written);
    EXPECT_EQ(store.add(job("DAILY"), seen), JobStore::Result::NameExists);
    EXPECT_EQ(store.replace("Daily", job("weekly"), seen), JobStore::Result::NameExists);
    EXPECT_EQ(store.replace("Gone", job("Gone"), seen), JobStore::Result::NotFound);
    EXPECT_EQ(store.remove("Gone", seen), JobStore::Result::NotFound);

    // A rename keeps the job's place; a change of case of its own name is no clash.
    ASSERT_EQ(store.replace("Daily", job("Nightly"), seen), JobStore::Result::Written);
    ASSERT_EQ(store.replace("Weekly", job("WEEKLY"), seen), JobStore::Result::Written);
    EXPECT_EQ(names(onDisk()), (std::vector<std::string>{"Nightly", "WEEKLY"}));
}

TEST_F(SharedStoreTest, ALockHeldElsewhereOrAnUnreadableStoreWritesNothing) {
    JobStore store(path(), rc());
    Jobs seen;
    ASSERT_EQ(store.add(job("Keep"), seen), JobStore::Result::Written);
    const std::string before = test::readAll(path());

    FileLock other;
    ASSERT_EQ(other.tryLock(store.lockPath()), FileLock::Result::Acquired);
    store.setLockWait(20);
    EXPECT_EQ(store.add(job("Lost"), seen), JobStore::Result::Failed);
    EXPECT_TRUE(t.loggedContaining("Cannot write the job store"));
    EXPECT_EQ(names(seen), (std::vector<std::string>{"Keep"}));
    other.unlock();

    // A store that exists but cannot be read is never replaced by what could be read of it.
    std::filesystem::permissions(path(), std::filesystem::perms::none);
    if (!std::ifstream(path())) {  // root reads anyway
        EXPECT_EQ(store.add(job("Lost"), seen), JobStore::Result::Failed);
        std::filesystem::permissions(
            path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        EXPECT_EQ(test::readAll(path()), before);
    }
    std::filesystem::permissions(
        path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_EQ(store.add(job("Later"), seen), JobStore::Result::Written);
    EXPECT_EQ(names(onDisk()), (std::vector<std::string>{"Keep", "Later"}));
}

TEST_F(SharedStoreTest, ADamagedStoreIsCopiedOncePerContentAndOnlyBeforeAWrite) {
    const std::string first = "[Backups]\r\nDocs\r\n[Docs]\r\nDestination=/d\r\nStatus=x\r\n";
    const std::string second = "[Backups]\r\nDocs\r\n[Docs]\r\nDestination=/d\r\nSplit=y\r\n";
    JobStore program(path(), rc());
    JobStore cli(path(), rc());
    Jobs seen;
    size_t kept = 0;
    for (const std::string& damaged : {first, first, second}) {
        t.dir.write("backups.ini", damaged);
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(program.read(seen));
            ASSERT_TRUE(cli.read(seen));
        }
        EXPECT_EQ(cli.state(), StoreState::Damaged);
        EXPECT_EQ(damagedCopies(t.home()).size(), kept);
        ASSERT_EQ(cli.add(job("New"), seen), JobStore::Result::Written);
        EXPECT_EQ(cli.state(), StoreState::Sound);
        EXPECT_EQ(names(onDisk()), (std::vector<std::string>{"Docs", "New"}));
        kept = damagedCopies(t.home()).size();
    }
    EXPECT_EQ(damagedCopies(t.home()), (std::vector<std::string>{first, second}));
}

TEST_F(SharedStoreTest, AStoreWithNoReadableJobRefusesEveryWrite) {
    const std::string damaged = "[Backupz]\r\nDocs\r\n[Docs]\r\nDestination=/d\r\n";
    t.dir.write("backups.ini", damaged);
    JobStore store(path(), rc());
    Jobs seen;
    ASSERT_TRUE(store.read(seen));
    EXPECT_EQ(store.state(), StoreState::JobsUnreadable);
    EXPECT_EQ(store.add(job("New"), seen), JobStore::Result::Failed);
    EXPECT_EQ(store.recordOutcome("Docs", kStatusOk, DateTime(), seen), JobStore::Result::NotFound);
    EXPECT_EQ(test::readAll(path()), damaged);
    EXPECT_FALSE(fs::exists(path() + ".bak"));
    EXPECT_TRUE(damagedCopies(t.home()).empty());
    EXPECT_TRUE(t.loggedContaining("Not one job of the job store " + path() + " can be read"));
}

}  // namespace
}  // namespace kestrel
