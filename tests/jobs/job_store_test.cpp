// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/job_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "jobs/job_rules.h"
#include "jobs/scramble.h"
#include "jobs/store_format.h"
#include "platform/file_lock.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "support/job_builder.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

// Whether a copy of a damaged store lies beside the store.
bool hasDamagedCopy(const std::string& home) {
    for (const auto& e : std::filesystem::directory_iterator(home)) {
        if (e.path().filename().string().find(".damaged-") != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::shared_ptr<clsBackup> job(const std::string& name) {
    auto j = std::make_shared<clsBackup>();
    j->sName = name;
    j->sDestinationDir = "/dest/" + name;
    return j;
}

const std::string kPin = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

using Names = std::vector<std::string>;

Names namesOf(const Jobs& seen) {
    Names out;
    for (const auto& j : seen) {
        out.push_back(j->sName);
    }
    return out;
}

class JobStoreTest : public ::testing::Test {
protected:
    test::TestContext t;
    Jobs jobs;
    RunControl& rc() { return t.ctx->control; }
    std::string store() const { return t.ctx->storePath(); }
    bool save() { return SaveJobs(store(), jobs, rc()); }
    bool load(StoreState* state = nullptr) {
        jobs.clear();
        return LoadJobs(store(), jobs, rc(), state);
    }
    clsBackup& addJob(const std::string& name) {
        auto job = std::make_unique<clsBackup>();
        job->sName = name;
        return jobs.append(std::move(job));
    }
    void addSource(clsBackup& job, const std::string& path, std::int32_t kind, int size = 0) {
        job.AddFile(std::make_unique<clsBackupFile>(clsBackupFile{path, kind, size, 0}));
    }
    // Every feature the store can hold, on three jobs.
    void addSampleJobs() {
        clsBackup& a = addJob("Documents");
        a.sDestinationDir = "/mnt/backup";
        a.IncludeMask = "*.doc;*.txt";
        a.ExcludeMask = "*.tmp";
        a.archived = a.bZipped = a.bIncremental = a.Protected = true;
        a.splitSize = 1509949;
        a.password = "s3cret, with = and ,";
        a.enumStatus = kStatusOk;
        a.lastOK = *DateTime::fromParts(2006, 1, 15, 19, 30);
        a.Schedule = test::schedule(kScheduleDaily, 31, a.lastOK, DateTime().addSeconds(8 * 3600));
        addSource(a, "/home/u/docs", kSourceFolder);
        addSource(a, "/home/u/a,b.txt", kSourceFile, 1234);
        addSource(a, "/home/u/pics", kSourceFolder);

        clsBackup& b = addJob("Remote");
        b.destFTP = true;
        b.objDestination = std::make_shared<clsKestrel>(
            clsKestrel{"ftp.example.org", 2121, "backup", "ftp pass", false, true, kPin});
        b.sDestinationDir = "/backups/remote";
        b.IncludeMask = "*.doc";
        b.ExcludeMask = "*.tmp";
        b.archived = b.bZipped = b.bIncremental = b.Protected = true;
        b.password = "secret";
        b.splitSize = 65536;
        b.enumStatus = kStatusAborted;
        b.lastOK = *DateTime::fromParts(2026, 3, 4, 5, 6);
        b.Schedule = test::schedule(kScheduleHourly, 30, *DateTime::fromParts(2026, 12, 6, 10, 0));
        addSource(b, "/srv/data", kSourceFolder);
        addSource(b, "/etc/a,b", kSourceFile, 77);

        clsBackup& c = addJob("Plain copy [main] ü");
        c.sDestinationDir = "/media/usb";
        c.enumStatus = kStatusFailed;
        addSource(c, "/etc/hosts", kSourceFile, 158);
        // Many sources, and a kind the store has no key for (not written).
        for (int i = 0; i < 5000; ++i) {
            addSource(c, "/data/folder number " + std::to_string(i), i % 2, i % 2 ? 0 : i);
        }
        addSource(c, "/x", 5);
    }
};

TEST_F(JobStoreTest, WritesTheDocumentedFormatAndReadsItBackByteForByte) {
    addSampleJobs();
    const std::string written = writeJobStore(jobs).serialize();
    EXPECT_EQ(written.substr(0, written.find("[Documents]")),
              "[Backups]\r\nDocuments\r\nRemote\r\nPlain copy [main] ü\r\n\r\n");
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
        "\r\nPav=PORT\r\nFtpTls=REQUIRED\r\nFtpTlsPin=" + kPin +
        "\r\nDestination=/backups/remote\r\nType=INCR\r\nCompress=ZIP\r\n";
    EXPECT_NE(written.find(remote), std::string::npos) << written;
    EXPECT_NE(written.find("Protected=\r\nOKLast=189912300000\r\nArchived=no\r\nSplit=0\r\n"
                           "Schedule=0\r\nFile0001=/etc/hosts,158\r\n"),
              std::string::npos);
    EXPECT_NE(written.find("Schedule=1,202612061000,030\r\n"), std::string::npos);

    ASSERT_TRUE(save());
    EXPECT_FALSE(fs::exists(store() + ".bak"));
    const std::string first = test::readAll(store());
    EXPECT_EQ(first, written);
    ASSERT_TRUE(load());
    ASSERT_EQ(jobs.count(), 3u);
    ASSERT_TRUE(save());
    EXPECT_EQ(test::readAll(store()), first);
    EXPECT_EQ(test::readAll(store() + ".bak"), first);
    for (const std::string& p : {store(), store() + ".bak"}) {
        EXPECT_EQ(std::filesystem::status(p).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    for (const auto& e : std::filesystem::directory_iterator(t.home())) {
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos);
    }
    EXPECT_EQ(jobs.at(0).password, "s3cret, with = and ,");
    EXPECT_EQ(jobs.at(0).Files[1]->sPath, "/home/u/a,b.txt");
    EXPECT_EQ(jobs.at(0).Files[2]->Index, 2);
    EXPECT_EQ(jobs.at(1).objDestination->password, "ftp pass");
    EXPECT_EQ(jobs.at(2).sName, "Plain copy [main] ü");  // read though no new job may be so named
    ASSERT_EQ(jobs.at(2).Files.size(), 5001u);
    EXPECT_EQ(jobs.at(2).Files[5000]->sPath, "/data/folder number 4999");
    EXPECT_TRUE(t.host.logLines.empty());

    // The reader takes every line the writer writes: without any one, Remote reads back otherwise.
    const auto rewritten = [](const std::vector<std::string>& lines) {
        IniFile cut;
        cut.writeSection(kJobListSection, {"Remote"});
        cut.writeSection("Remote", lines);
        Jobs read;
        std::vector<StoreProblem> problems;
        readJobStore(cut, read, problems);
        return writeJobStore(read).serialize();
    };
    const std::vector<std::string> lines = *writeJobStore(jobs).sectionLines("Remote");
    ASSERT_EQ(lines.size(), 21u);
    const std::string whole = rewritten(lines);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::vector<std::string> without = lines;
        without.erase(without.begin() + static_cast<std::ptrdiff_t>(i));
        EXPECT_NE(rewritten(without), whole) << "not read: " << lines[i];
    }
}

TEST_F(JobStoreTest, HandWrittenStoresLoadAsTheFormatSays) {
    t.dir.write("backups.ini",
                "[backups]\r\nFirst\r\n\r\nSecond\xff"
                "ignored tail\r\nOrphan in list\r\n"
                "[first]\r\ntype=full\r\ncompress=not\r\narchived=Yes\r\n"
                "File0001=C:\\data\\a.txt,1234\r\nFile0002=C:\\data\\b.txt\r\n"
                "File0003=/data/c,d.txt\r\nfile0004 = /data/e.txt , 77 \r\n"
                "Schedule=4,200612312330,000,0000\r\nUnknown=ignored\r\n"
                "[Second]\r\nType=FULL\r\nCompress=NOT\r\nArchived=no\r\nSchedule=0\r\n"
                "Storage=FTP\r\nPort=21\r\n");
    ASSERT_TRUE(load());
    ASSERT_EQ(jobs.count(), 3u);
    const clsBackup& first = jobs.at(0);
    // Only the key is read without case: "full" and "not" are not the words the writer uses.
    EXPECT_TRUE(first.bIncremental && first.bZipped && first.archived);
    const std::vector<std::pair<std::string, int>> files = {{"C:\\data\\a.txt", 1234},
                                                            {"C:\\data\\b.txt", 0},
                                                            {"/data/c,d.txt", 0},
                                                            {"/data/e.txt ", 77}};
    ASSERT_EQ(first.Files.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(first.Files[i]->sPath, files[i].first);
        EXPECT_EQ(first.Files[i]->dSize, files[i].second);
    }
    ASSERT_TRUE(first.Schedule);
    EXPECT_EQ(first.Schedule->Tip, kScheduleOnce);
    EXPECT_EQ(first.Schedule->start, *DateTime::fromParts(2006, 12, 31, 23, 30));
    const clsBackup& second = jobs.at(1);
    EXPECT_FALSE(second.bIncremental || second.bZipped || second.archived);
    EXPECT_EQ(second.Schedule, nullptr);
    EXPECT_TRUE(second.destFTP);
    // A listed name without a section is a job with the defaults.
    EXPECT_EQ(jobs.at(2).sName, "Orphan in list");
    EXPECT_EQ(jobs.at(2).enumStatus, kStatusNeverRun);
    EXPECT_TRUE(t.host.logLines.empty());
}

// An older store has no TLS keys and reads as plain FTP; a damaged TLS choice fails safe, a
// damaged pin is dropped, and both are reported. A local job writes no TLS keys at all.
TEST_F(JobStoreTest, TlsKeysReadAsWrittenAndDamagedOnesAreReported) {
    struct Case {
        std::string lines;
        bool tls;
        std::string pin;
        std::string problem;
    };
    for (const Case& c : std::vector<Case>{
             {"", false, "", ""},
             {"FtpTls=OFF\r\n", false, "", ""},
             {"ftptls=required\r\nFTPTLSPIN=" + kPin + "\r\n", true, kPin, ""},
             {"FtpTls=yes\r\n", true, "", "[J]: FtpTls"},
             {"FtpTls=\r\n", true, "", "[J]: FtpTls"},
             {"FtpTlsPin=" + kPin.substr(1) + "\r\n", false, "", "[J]: FtpTlsPin"},
             {"FtpTlsPin=" + text::upper(kPin) + "\r\n", false, "", "[J]: FtpTlsPin"},
             {"FtpTlsPin=" + kPin.substr(1) + "g\r\n", false, "", "[J]: FtpTlsPin"},
         }) {
        SCOPED_TRACE(c.lines);
        t.host.logLines.clear();
        t.dir.write("backups.ini", "[Backups]\r\nJ\r\n[J]\r\nStorage=FTP\r\nHostname=h\r\n" +
                                       c.lines + "Destination=/d\r\n");
        ASSERT_TRUE(load());
        const clsKestrel& ftp = *jobs.at(0).objDestination;
        EXPECT_EQ(ftp.bTls, c.tls);
        EXPECT_EQ(ftp.sTlsPin, c.pin);
        EXPECT_EQ(ftp.hostname, "h");
        if (c.problem.empty()) {
            EXPECT_TRUE(t.host.logLines.empty());
        } else {
            EXPECT_TRUE(t.loggedContaining(c.problem));
        }
        // What was read is what is written; a copy keeps both.
        const std::string written = writeJobStore(jobs).serialize();
        EXPECT_NE(written.find(c.tls ? "FtpTls=REQUIRED\r\n" : "FtpTls=OFF\r\n"),
                  std::string::npos);
        EXPECT_EQ(written.find("FtpTlsPin=") != std::string::npos, !c.pin.empty());
        const auto copy = jobs.at(0).clone();
        EXPECT_EQ(copy->objDestination->bTls, c.tls);
        EXPECT_EQ(copy->objDestination->sTlsPin, c.pin);
    }
    jobs.clear();
    addJob("Local").objDestination =
        std::make_shared<clsKestrel>(clsKestrel{"h", 21, "u", "p", true, true, kPin});
    EXPECT_EQ(writeJobStore(jobs).serialize().find("FtpTls"), std::string::npos);
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
    // "0", no schedule, is read by the hand-written store test and written by the format test.
    clsSchedule odd;
    odd.Tip = 9;
    EXPECT_EQ(scheduleText(&odd), "");
}

TEST_F(JobStoreTest, DamagedLinesAreSkippedLoggedAndTheOriginalKept) {
    const std::string damaged =
        "[Backups]\r\nGood\r\nBroken\r\nbackups\r\n"
        "[Good]\r\nDestination=/d\r\nDir0001=/src\r\n[backups]\r\nDestination=/elsewhere\r\n"
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
    EXPECT_TRUE(broken.Protected && broken.passwordUnreadable);
    ASSERT_EQ(broken.Files.size(), 1u);
    for (const char* what :
         {"[Broken]: Port", "[Broken]: Pass", "[Broken]: Status", "[Broken]: Split",
          "[Broken]: OKLast", "[Broken]: Schedule", "[Broken]: line without",
          "[Backups]: a job named like the job list"}) {
        EXPECT_TRUE(t.loggedContaining(what)) << what;
    }
    // The original survives beside the store, also after the next two saves, which write no
    // settings into the job list.
    ASSERT_TRUE(save());
    ASSERT_TRUE(save());
    const std::string copy = store() + ".damaged-20060115193005";
    EXPECT_EQ(test::readAll(copy), damaged);
    EXPECT_TRUE(t.loggedContaining("original content is kept as " + copy));
    ASSERT_TRUE(load());
    ASSERT_EQ(jobs.count(), 2u);
    EXPECT_EQ(jobs.at(0).sDestinationDir, "/d");
}

// A "Protected" value that gives no password locks the job, and a save writes it back as read.
TEST_F(JobStoreTest, AnUnreadableProtectionLocksTheJobAndIsWrittenBackAsRead) {
    for (const char* value : {"97,300,98", "97,abc", "97,,98", "97,98,", ",", "-1"}) {
        SCOPED_TRACE(value);
        t.dir.write("backups.ini",
                    "[Backups]\r\nDocs\r\nOther\r\n[Docs]\r\nDestination=/d\r\n"
                    "Protected=" +
                        std::string(value) + "\r\n[Other]\r\nDestination=/o\r\n");
        StoreState state = StoreState::Damaged;
        ASSERT_TRUE(load(&state));
        EXPECT_EQ(state, StoreState::Sound);  // nothing is lost by a rewrite: no copy is kept
        EXPECT_TRUE(jobs.at(0).Protected && jobs.at(0).passwordUnreadable);
        EXPECT_TRUE(jobs.at(0).password.empty());
        EXPECT_FALSE(passwordOpens(jobs.at(0), ""));
        jobs.at(1).sDestinationDir = "/elsewhere";
        ASSERT_TRUE(save());
        EXPECT_NE(test::readAll(store()).find("\r\nProtected=" + std::string(value) + "\r\n"),
                  std::string::npos);
        EXPECT_FALSE(hasDamagedCopy(t.home()));
        ASSERT_TRUE(load());
        EXPECT_TRUE(jobs.at(0).passwordUnreadable);
        EXPECT_EQ(jobs.at(1).sDestinationDir, "/elsewhere");
    }
    // A locked job made in memory, with no value to write back, still reads back locked; a
    // protected one with an empty password reads back unprotected.
    jobs.clear();
    addJob("Made").Protected = true;
    jobs.at(0).passwordUnreadable = true;
    addJob("Empty").Protected = true;
    ASSERT_TRUE(save());
    ASSERT_TRUE(load());
    EXPECT_TRUE(jobs.at(0).passwordUnreadable);
    EXPECT_FALSE(jobs.at(1).Protected);
}

// Reads never write; a run's outcome never rewrites a store with no readable job. A new job:
// the command-line test's ADamagedJobStoreIsReadWithoutWritingAndNeverLostByANewJob.
TEST_F(JobStoreTest, DamagedStoresAreReadWithoutAWriteAndUnreadableOnesNeverRewritten) {
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
        {"empty job list", "[Backups]\r\n" + sections, {}, StoreState::JobsUnreadable},
        {"a damaged list line",
         "[Backups]\r\nDocs\r\nPi\x01"
         "cs\r\n" +
             sections,
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
        t.dir.write("backups.ini", c.content);
        JobStore jobStore(store(), rc());
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(jobStore.read(jobs));
        }
        EXPECT_EQ(namesOf(jobs), c.names);
        EXPECT_EQ(jobStore.state(), c.state);
        if (c.state == StoreState::JobsUnreadable) {
            EXPECT_EQ(jobStore.recordOutcome("Docs", kStatusOk, DateTime(), jobs),
                      JobStore::Result::NotFound);
        }
        EXPECT_EQ(test::readAll(store()), c.content);
        EXPECT_FALSE(hasDamagedCopy(t.home()));
    }
}

TEST_F(JobStoreTest, NamesThatCannotBeStored) {
    EXPECT_TRUE(isStorableJobName("Sicherung ü"));
    for (const char* bad : {"", " lead", "trail ", "Backups", "BACKUPS", "a[b", "a]b", ";x",
                            "tab\there\n", "a\xff", "a/b", "a|b"}) {
        std::string why;
        EXPECT_FALSE(isStorableJobName(bad, &why)) << bad;
        EXPECT_FALSE(t.ctx->msg(why).empty()) << why;
    }
}

// A JobStore and a FileLock over one file conflict as two processes do.
TEST_F(JobStoreTest, ALockHeldElsewhereOrAnUnreadableStoreWritesNothing) {
    JobStore js(store(), rc());
    Jobs seen;
    ASSERT_EQ(js.add(job("Keep"), seen), JobStore::Result::Written);
    const std::string before = test::readAll(store());

    FileLock other;
    ASSERT_EQ(other.tryLock(js.lockPath()), FileLock::Result::Acquired);
    js.setLockWait(20);
    EXPECT_EQ(js.add(job("Lost"), seen), JobStore::Result::Failed);
    EXPECT_TRUE(t.loggedContaining("Cannot write the job store"));
    EXPECT_EQ(namesOf(seen), Names{"Keep"});
    other.unlock();

    // A store that exists but cannot be read is never replaced by what could be read of it.
    const auto rw = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    std::filesystem::permissions(store(), std::filesystem::perms::none);
    if (!std::ifstream(store())) {  // root reads anyway
        EXPECT_EQ(js.add(job("Lost"), seen), JobStore::Result::Failed);
        std::filesystem::permissions(store(), rw);
        EXPECT_EQ(test::readAll(store()), before);
    }
    std::filesystem::permissions(store(), rw);
    ASSERT_EQ(js.add(job("Later"), seen), JobStore::Result::Written);
    ASSERT_TRUE(load());
    EXPECT_EQ(namesOf(jobs), (Names{"Keep", "Later"}));
}

}  // namespace
}  // namespace kestrel
