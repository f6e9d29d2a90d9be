#include "engine/backup_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "archive/catalogue.h"
#include "archive/volume_reader.h"
#include "engine/archive_build.h"
#include "engine/encryption.h"
#include "engine/set_switch.h"
#include "jobs/job_store.h"
#include "jobs/jobs.h"
#include "platform/fs.h"
#include "platform/mounts.h"
#include "platform/text.h"
#include "support/job_builder.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

class RunTest : public ::testing::Test {
protected:
    test::TestContext t{true};
    test::TempDir src;
    test::TempDir dest;

    std::map<std::string, std::unique_ptr<clsBackup>> jobs;

    AppContext& ctx() { return *t.ctx; }

    // A run as the job runner makes it: the outcome is written to the store.
    RunSummary run(const std::string& name) { return run(ctx(), *jobs.at(name), name); }
    static RunSummary run(AppContext& c, clsBackup& job, const std::string& name) {
        RunOptions options;
        options.saveOutcome = [&c](const clsBackup& done) {
            Jobs stored;
            stored.append(done.clone());
            return SaveJobs(c.storePath(), stored, c.control);
        };
        return BackupJob(c, job, name, options);
    }

    clsBackup& addJob(const std::string& name, bool archived, bool zipped, bool incremental) {
        jobs[name] = test::JobBuilder(name)
                         .folder(src.file("tree"))
                         .to(dest.path())
                         .archive(archived)
                         .compressed(zipped)
                         .incremental(incremental)
                         .build();
        return *jobs[name];
    }

    // The job stores exactly these files of the tree.
    void onlyFiles(clsBackup& job, std::initializer_list<const char*> files) {
        job.ResetFiles();
        for (const char* f : files) {
            job.AddFile(
                std::make_unique<clsBackupFile>(clsBackupFile{src.file(f), kSourceFile, 0, 0}));
        }
    }

    void makeTree() {
        src.write("tree/a.txt", "alpha");
        src.write("tree/sub/b.doc", std::string(150'000, 'b'));
        src.write("tree/sub/deeper/c.tmp", "temporary");
        src.write("tree/empty.txt", "");
    }

    // Every file of the catalogue at the destination, read back from the volumes there.
    std::map<std::string, std::string> restoreAll(const std::string& name, bool zipped) {
        std::map<std::string, std::string> files;
        auto cat = ReadCatalogue(dest.file(name + ".fs"));
        EXPECT_TRUE(cat);
        if (!cat) {
            return files;
        }
        FolderVolumes volumes(dest.path());
        VolumeReader reader(nullptr, volumes, zipped);
        for (const auto& rec : cat->records) {
            std::string data;  // a later session's record replaces an earlier one
            const auto sink = [&data](std::string_view d) {
                data.append(d);
                return true;
            };
            EXPECT_EQ(reader.extract(rec, sink).status, ExtractStatus::Ok) << rec.fname;
            files[rec.fname] = data;
        }
        return files;
    }
};

TEST_F(RunTest, FullPlainCopyMirrorsTheTreeAndRecordsSuccess) {
    makeTree();
    clsBackup& job = addJob("Copy", false, false, false);
    const RunSummary r = run("Copy");
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.stored, 4);
    EXPECT_EQ(r.notStored, 0);
    EXPECT_EQ(job.enumStatus, kStatusOk);
    EXPECT_EQ(job.lastOK, t.clock.now());
    EXPECT_EQ(test::readAll(dest.path() + src.file("tree/sub/b.doc")), std::string(150'000, 'b'));
    EXPECT_TRUE(fs::exists(dest.path() + src.file("tree/empty.txt")));
    EXPECT_TRUE(t.logged("Backup started at ...2006-01-15 19:30:05"));
    EXPECT_TRUE(t.logged("Backup Copy..."));
    EXPECT_EQ(t.host.statusHistory,
              (std::vector<std::string>{
                  "Creating list of files ...", "List of files created. Continue backup ...",
                  "Backup Copy terminated normally at 2006-01-15 19:30:05!"}));
    const std::string stars(72, '*');
    ASSERT_GE(t.host.logLines.size(), 6u);
    std::vector<std::string> tail;
    for (auto line = t.host.logLines.end() - 6; line != t.host.logLines.end(); ++line) {
        tail.push_back(line->substr(line->find("]-") + 2));
    }
    EXPECT_EQ(tail,
              (std::vector<std::string>{stars, "*   Backup files stored:  4", "*   Not stored:   0",
                                        "*   Total backup files count: 4", stars,
                                        "Backup of Copy finished succesfully!"}));
    EXPECT_EQ(t.host.status1, "Backup Copy terminated normally at 2006-01-15 19:30:05!");
    EXPECT_FALSE(ctx().flags.bBackupRunning);
    EXPECT_TRUE(t.host.boxes.empty());  // no window: no message box
    // The store holds the outcome.
    EXPECT_NE(
        test::readAll(ctx().storePath()).find("Status=1\r\nProtected=\r\nOKLast=200601151930"),
        std::string::npos);
}

TEST_F(RunTest, MasksAndAnEmptyResult) {
    makeTree();
    clsBackup& job = addJob("Masked", false, false, false);
    job.IncludeMask = "*.*";
    job.ExcludeMask = "*.tmp";
    EXPECT_EQ(run("Masked").stored, 3);
    EXPECT_FALSE(fs::exists(dest.path() + src.file("tree/sub/deeper/c.tmp")));

    job.IncludeMask = "*.nothing";
    const DateTime before = job.lastOK;
    t.clock.advanceSeconds(60);
    const RunSummary r = run("Masked");
    EXPECT_EQ(r.total, 0);
    EXPECT_EQ(job.enumStatus, kStatusOk);
    EXPECT_EQ(job.lastOK, before) << "an empty run is no successful backup";
    EXPECT_EQ(std::count_if(t.host.logLines.begin(), t.host.logLines.end(),
                            [](const std::string& line) {
                                return line.find("No files were found for backup!") !=
                                       std::string::npos;
                            }),
              2);
    EXPECT_TRUE(t.logged("*   Total backup files count: 0"));
}

// A source file that is gone, or a folder that cannot be read: counted as not stored, the run
// fails and records no good run.
TEST_F(RunTest, WhatCannotBeReadCountsAsNotStoredAndFailsTheRun) {
    makeTree();
    clsBackup& job = addJob("Partial", false, false, false);
    onlyFiles(job, {"tree/a.txt", "tree/sub/b.doc", "tree/empty.txt", "tree/missing.txt"});
    job.AddFile(std::make_unique<clsBackupFile>(
        clsBackupFile{src.file("no such folder"), kSourceFolder, 0, 0}));
    t.host.visible = true;
    const RunSummary r = run("Partial");
    EXPECT_EQ(r.stored, 3);
    EXPECT_EQ(r.notStored, 2);
    EXPECT_EQ(job.enumStatus, kStatusFailed);
    EXPECT_TRUE(t.logged("Backup of Partial failed!"));
    ASSERT_FALSE(t.host.boxes.empty());
    // The box says why, with the log's own failure lines.
    EXPECT_TRUE(t.host.boxes.back().text.starts_with(
        "Backup of Partial failed!\n\nFAIL: Can't read folder " + src.file("no such folder")))
        << t.host.boxes.back().text;
    EXPECT_TRUE(job.lastOK.isZero());
}

TEST_F(RunTest, FullCompressedSplitArchiveRestoresEveryFile) {
    makeTree();
    src.write("tree/big.bin", std::string(3'000'000, 'z') + "end");
    clsBackup& job = addJob("Arc", true, true, false);
    job.splitSize = 2000;
    const RunSummary r = run("Arc");
    EXPECT_EQ(job.enumStatus, kStatusOk);
    EXPECT_EQ(r.notStored, 0);
    EXPECT_TRUE(fs::exists(dest.file("Arc.uxarc")));
    EXPECT_TRUE(fs::exists(dest.file("Arc-001.uxarc")));
    EXPECT_EQ(r.total, r.stored);
    EXPECT_TRUE(t.logged("5-5"));
    const auto files = restoreAll("Arc", true);
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(files.at(src.file("tree/big.bin")).size(), 3'000'003u);
    EXPECT_EQ(files.at(src.file("tree/a.txt")), "alpha");
    // The build folder is gone: only the set is left.
    const auto names = fs::listDir(dest.path());
    ASSERT_TRUE(names);
    for (const std::string& name : *names) {
        EXPECT_TRUE(isSetFileOf("Arc", name)) << name;
    }
}

TEST_F(RunTest, IncrementalRunsStoreOnlyWhatChanged) {
    makeTree();
    clsBackup& job = addJob("Inc", true, false, true);
    run("Inc");
    ASSERT_EQ(job.enumStatus, kStatusOk);
    const std::string first = "Inc200601151930";
    EXPECT_TRUE(fs::exists(dest.file(first + ".uxarc")));

    // Change one file (content and time), add one; nothing else.
    t.clock.advanceSeconds(120);
    std::ofstream(src.file("tree/a.txt")) << "alpha, changed";
    std::filesystem::last_write_time(
        src.file("tree/a.txt"),
        std::filesystem::last_write_time(src.file("tree/a.txt")) + std::chrono::seconds(5));
    src.write("tree/new.txt", "new");
    const RunSummary r = run("Inc");
    EXPECT_EQ(job.enumStatus, kStatusOk);
    EXPECT_EQ(r.total, 2);  // one volume and the catalogue; the checksum file travels uncounted
    EXPECT_TRUE(t.logged("2-2"));
    EXPECT_TRUE(fs::exists(dest.file("Inc200601151932.uxarc")));
    auto cat = ReadCatalogue(dest.file("Inc.fs"));
    ASSERT_TRUE(cat);
    ASSERT_EQ(cat->records.size(), 6u);
    EXPECT_EQ(cat->records[4].dSession.format("yyyyMMddHHmm"), "200601151932");
    const auto files = restoreAll("Inc", false);
    EXPECT_EQ(files.at(src.file("tree/a.txt")), "alpha, changed");
    EXPECT_EQ(files.at(src.file("tree/new.txt")), "new");

    // Nothing changed: nothing to store.
    t.clock.advanceSeconds(60);
    EXPECT_EQ(run("Inc").total, 0);

    // A change within the same minute as the last session gets volumes of its own.
    src.write("tree/quick.txt", "quick");
    EXPECT_EQ(run("Inc").total, 2);
    EXPECT_TRUE(fs::exists(dest.file("Inc200601151933.uxarc")));
    t.clock.advanceSeconds(1);
    src.write("tree/quicker.txt", "quicker");
    EXPECT_EQ(run("Inc").total, 2);
    EXPECT_TRUE(fs::exists(dest.file("Inc20060115193306.uxarc")));
    src.write("tree/quickest.txt", "quickest");
    EXPECT_EQ(run("Inc").total, 2);
    EXPECT_TRUE(fs::exists(dest.file("Inc20060115193307.uxarc")));
    auto sessions = ReadCatalogue(dest.file("Inc.fs"));
    ASSERT_TRUE(sessions);
    // Two sessions in the same second keep stamps of their own.
    EXPECT_EQ(sessions->records[sessions->records.size() - 2].dSession.format("HHmmss"), "193306");
    EXPECT_EQ(sessions->records.back().dSession.format("HHmmss"), "193307");
    const auto again = restoreAll("Inc", false);
    EXPECT_EQ(again.at(src.file("tree/quick.txt")), "quick");
    EXPECT_EQ(again.at(src.file("tree/quicker.txt")), "quicker");
    EXPECT_EQ(again.at(src.file("tree/quickest.txt")), "quickest");
    EXPECT_EQ(again.at(src.file("tree/new.txt")), "new");
}

TEST(IncrementalNames, SameMinuteSessionsGetDistinctNames) {
    const DateTime at = *DateTime::fromParts(2026, 3, 5, 14, 5, 9);
    EXPECT_EQ(incrementalVolumeName("Docs", at, {}), "Docs202603051405");
    EXPECT_EQ(incrementalVolumeName("Docs", at, {"Docs202603051405"}), "Docs20260305140509");
    EXPECT_EQ(incrementalVolumeName("Docs", at, {"Docs202603051405", "Docs20260305140509"}),
              "Docs20260305140509a");
}

TEST_F(RunTest, ProtectedArchivesAreEncryptedAndIncrementalRunsDecryptTheCatalogue) {
    makeTree();
    clsBackup& job = addJob("Safe", true, true, true);
    job.Protected = true;
    job.password = "s3cret pass";
    run("Safe");
    ASSERT_EQ(job.enumStatus, kStatusOk);
    const std::string stored = test::readAll(dest.file("Safe.fs"));
    EXPECT_EQ(stored.find("fname="), std::string::npos);

    t.clock.advanceSeconds(120);
    src.write("tree/later.txt", "later");
    const RunSummary r = run("Safe");
    EXPECT_EQ(job.enumStatus, kStatusOk);
    EXPECT_EQ(r.total, 2);
    // Decrypted, the catalogue lists both sessions.
    const std::string copy = t.dir.write("check/Safe.fs", test::readAll(dest.file("Safe.fs")));
    ASSERT_TRUE(DecryptFile(ctx().control, encryptionTool(ctx().paths), copy, "s3cret pass"));
    auto cat = ReadCatalogue(copy);
    ASSERT_TRUE(cat);
    EXPECT_EQ(cat->records.size(), 5u);
}

// A previous catalogue that cannot be read (here one flipped bit; another password is the CLI's
// integrity test) is kept as it is, with every volume it needs; the run's full backup begins a
// new catalogue beside it and is reported, so that the user learns where the earlier sessions
// went.
TEST_F(RunTest, AnUnreadableCatalogueIsKeptAndANewOneBegun) {
    makeTree();
    clsBackup& job = addJob("Safe", true, true, true);
    job.Protected = true;
    job.password = "old pass";
    ASSERT_EQ(run("Safe").status, kStatusOk);
    t.clock.advanceSeconds(120);
    src.write("tree/later.txt", "later");
    ASSERT_EQ(run("Safe").status, kStatusOk);
    const std::string sumsBefore = test::readAll(dest.file("Safe.fs.sums"));
    auto volumesBefore = fs::listDir(dest.path());
    ASSERT_TRUE(volumesBefore);
    std::string damaged = test::readAll(dest.file("Safe.fs"));
    damaged[damaged.size() / 2] ^= 0x10;
    dest.write("Safe.fs", damaged);
    t.clock.advanceSeconds(120);
    src.write("tree/newest.txt", "newest");
    const RunSummary r = run("Safe");
    EXPECT_EQ(r.status, kStatusFailed);
    EXPECT_EQ(r.stored, r.total);
    EXPECT_EQ(r.notStored, 0);
    const std::string kept = keptCatalogueName("Safe", t.clock.now());
    EXPECT_TRUE(t.loggedContaining("cannot be used"));
    EXPECT_TRUE(t.logged("FAIL: The earlier sessions of Safe are kept in " + dest.file(kept) +
                         ", where the restore finds them; the new full backup begins a new "
                         "catalogue."));
    EXPECT_TRUE(t.logged("Backup of Safe failed!"));
    // The old catalogue, its checksum file and every volume stay as they were.
    EXPECT_EQ(test::readAll(dest.file(kept)), damaged);
    EXPECT_EQ(test::readAll(dest.file(kept + ".sums")), sumsBefore);
    for (const std::string& name : *volumesBefore) {
        if (text::endsWith(name, ".uxarc")) {
            EXPECT_TRUE(fs::exists(dest.file(name))) << name;
        }
    }
    // The new catalogue holds the new full session alone, every file of the tree.
    const std::string copy = t.dir.write("check/Safe.fs", test::readAll(dest.file("Safe.fs")));
    ASSERT_TRUE(DecryptFile(ctx().control, encryptionTool(ctx().paths), copy, job.password));
    auto cat = ReadCatalogue(copy);
    ASSERT_TRUE(cat);
    EXPECT_EQ(cat->records.size(), 6u);
    std::set<std::string> sessions;
    for (const auto& rec : cat->records) {
        sessions.insert(rec.dSession.format("yyyyMMddHHmmss"));
    }
    EXPECT_EQ(sessions.size(), 1u);
    // The next run goes on from the new catalogue.
    t.clock.advanceSeconds(120);
    src.write("tree/last.txt", "last");
    EXPECT_EQ(run("Safe").status, kStatusOk);
}

TEST_F(RunTest, ProtectedPlainCopiesNeverTouchTheSources) {
    makeTree();
    clsBackup& job = addJob("SafeCopy", false, false, false);
    job.Protected = true;
    job.password = "pw";
    run("SafeCopy");
    EXPECT_EQ(job.enumStatus, kStatusOk);
    EXPECT_EQ(test::readAll(src.file("tree/a.txt")), "alpha");
    const std::string copy = dest.path() + src.file("tree/a.txt");
    EXPECT_NE(test::readAll(copy), "alpha");
    ASSERT_TRUE(DecryptFile(ctx().control, encryptionTool(ctx().paths), copy, "pw"));
    EXPECT_EQ(test::readAll(copy), "alpha");
}

TEST_F(RunTest, AFailedEncryptionStoresNothingForThatFile) {
    makeTree();
    test::TestContext bare;  // no encryption tool
    auto job = test::JobBuilder("NoTool")
                   .file(src.file("tree/a.txt"))
                   .to(dest.path())
                   .password("pw")
                   .build();
    const RunSummary r = run(*bare.ctx, *job, "NoTool");
    EXPECT_EQ(r.stored, 0);
    EXPECT_EQ(r.notStored, 1);
    EXPECT_FALSE(fs::exists(dest.path() + src.file("tree/a.txt")));
    EXPECT_TRUE(bare.loggedContaining("FAIL: Encryption of"));
}

TEST_F(RunTest, AbortDuringTheTransferEndsTheRunAsAborted) {
    makeTree();
    clsBackup& job = addJob("Stop", false, false, false);
    int copies = 0;
    t.host.onYield = [&] {
        for (const std::string& line : t.host.logLines) {
            copies += line.find("OK: Copy of") != std::string::npos;
        }
        if (copies > 0) {
            ctx().flags.bAbortBackup = true;
        }
    };
    const RunSummary r = run("Stop");
    t.host.onYield = nullptr;
    EXPECT_EQ(job.enumStatus, kStatusAborted);
    EXPECT_EQ(r.status, kStatusAborted);
    EXPECT_EQ(t.host.status1, "Backup aborted by user!");
    EXPECT_FALSE(t.logged("*   Total backup files count: 4"));
    EXPECT_FALSE(ctx().flags.bBackupRunning);
    EXPECT_NE(test::readAll(ctx().storePath()).find("Status=3"), std::string::npos);
}

TEST_F(RunTest, PausingWaitsAndShowsItInTheCaption) {
    makeTree();
    clsBackup& job = addJob("Pause", false, false, false);
    t.host.eventLoop = true;  // the pause waits in the host's loop, which yields here
    int yields = 0;
    int whilePaused = 0;
    t.host.onYield = [&] {
        ++yields;
        if (yields == 3) {
            ctx().flags.bPauseBackup = true;
        } else if (ctx().flags.bPauseBackup && ++whilePaused == 50) {
            ctx().flags.bPauseBackup = false;
        }
    };
    run("Pause");
    t.host.onYield = nullptr;
    EXPECT_EQ(job.enumStatus, kStatusOk);
    EXPECT_EQ(whilePaused, 50);
    EXPECT_EQ(t.host.captionHistory, (std::vector<std::string>{"-Paused", ""}));
    EXPECT_EQ(t.host.trayTip, "Paused");

    // Aborting while paused ends the wait at once.
    t.host.onYield = [&] {
        if (!ctx().flags.bPauseBackup && !ctx().flags.bAbortBackup) {
            ctx().flags.bPauseBackup = true;
        } else if (ctx().flags.bPauseBackup) {
            ctx().flags.bAbortBackup = true;
        }
    };
    run("Pause");
    t.host.onYield = nullptr;
    EXPECT_EQ(job.enumStatus, kStatusAborted);
}

// "Cancel this file" pressed on the second of three files, as the progress window can: only
// while the host has the control enabled. A press that reaches the engine between files (a
// click queued before the control was disabled) must not skip anything.
struct CancelCase {
    const char* name;
    bool archived;
    bool zipped;
};

class CancelFileTest : public RunTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelFileTest, TheCancelledFileIsSkippedAndTheRunGoesOnToItsSummary) {
    const CancelCase& c = GetParam();
    src.write("tree/1.txt", "one");
    src.write("tree/2.bin", std::string(300'000, '2'));
    src.write("tree/3.txt", "three");
    clsBackup& job = addJob("Cancel", c.archived, c.zipped, false);
    onlyFiles(job, {"tree/1.txt", "tree/2.bin", "tree/3.txt"});
    bool cancelled = false;
    t.host.onYield = [&] {
        if (!t.host.fileCancellable) {
            ctx().flags.bCancelFile = cancelled;  // late presses, after the one that counted
        } else if (!cancelled && t.loggedContaining(src.file("tree/1.txt")) &&
                   !t.loggedContaining(src.file("tree/2.bin"))) {
            ctx().flags.bCancelFile = true;
            cancelled = true;
        }
    };
    const RunSummary r = run("Cancel");
    t.host.onYield = nullptr;

    ASSERT_TRUE(cancelled);
    EXPECT_TRUE(t.logged(src.file("tree/2.bin") + " skipped (cancelled by the user)"));
    EXPECT_FALSE(t.loggedContaining(" aborted"));
    EXPECT_EQ(r.stored, 2);  // two files, or a volume and the catalogue
    EXPECT_EQ(r.notStored, 1);
    EXPECT_EQ(r.total, c.archived ? 2 : 3);
    EXPECT_TRUE(t.logged("*   Not stored:   1"));
    EXPECT_EQ(job.enumStatus, kStatusFailed);
    EXPECT_EQ(r.status, kStatusFailed);
    EXPECT_TRUE(t.logged("Backup of Cancel failed!"));
    EXPECT_NE(t.host.status1, "Backup aborted by user!");
    EXPECT_FALSE(ctx().flags.bBackupRunning);

    std::map<std::string, std::string> stored;
    if (c.archived) {
        stored = restoreAll("Cancel", c.zipped);
    } else {
        for (const char* f : {"tree/1.txt", "tree/2.bin", "tree/3.txt"}) {
            if (fs::exists(dest.path() + src.file(f))) {
                stored[src.file(f)] = test::readAll(dest.path() + src.file(f));
            }
        }
        EXPECT_EQ(fs::listDir(dest.path() + src.file("tree"))->size(), 2u)
            << "no partial copy is left";
    }
    EXPECT_EQ(stored, (std::map<std::string, std::string>{{src.file("tree/1.txt"), "one"},
                                                          {src.file("tree/3.txt"), "three"}}));

    // Enabled for each file's own work only: never between files, for the transfer of an
    // archive set or after the run.
    EXPECT_EQ(t.host.fileCancellableHistory,
              (std::vector<bool>{true, false, true, false, true, false}));
    EXPECT_FALSE(ctx().control.fileCancellable());
}

INSTANTIATE_TEST_SUITE_P(Jobs, CancelFileTest,
                         ::testing::Values(CancelCase{"PlainCopy", false, false},
                                           CancelCase{"Archive", true, false},
                                           CancelCase{"CompressedArchive", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunTest, ACancelWhilePausedSkipsTheFileAndTheRunStaysPaused) {
    src.write("tree/1.bin", std::string(300'000, '1'));
    src.write("tree/2.txt", "two");
    clsBackup& job = addJob("Held", true, false, false);
    onlyFiles(job, {"tree/1.bin", "tree/2.txt"});
    t.host.eventLoop = true;  // the pause waits in the host's loop, which yields here
    int pausedYields = 0;
    int heldYields = 0;
    t.host.onYield = [&] {
        const bool waiting = t.host.captionSuffix == "-Paused";
        if (!t.host.fileCancellable || t.loggedContaining("skipped")) {
            if (waiting && ++pausedYields == 3) {
                ctx().flags.bPauseBackup = false;  // resumed, later
            }
        } else if (!waiting) {
            ctx().flags.bPauseBackup = true;
        } else if (++heldYields > 50) {
            ctx().flags.bPauseBackup = false;  // the cancel did not end the wait
        } else {
            ctx().flags.bCancelFile = true;
        }
    };
    const RunSummary r = run("Held");
    t.host.onYield = nullptr;
    EXPECT_TRUE(t.logged(src.file("tree/1.bin") + " skipped (cancelled by the user)"));
    EXPECT_LE(heldYields, 2) << "the cancel ends the wait";
    EXPECT_EQ(pausedYields, 3) << "the pause outlived the skipped file";
    EXPECT_EQ(r.notStored, 1);
    EXPECT_EQ(restoreAll("Held", false),
              (std::map<std::string, std::string>{{src.file("tree/2.txt"), "two"}}));
}

TEST_F(RunTest, MessageBoxesOnlyWithAVisibleWindowAndAPendingRunChangesNothing) {
    makeTree();
    clsBackup& job = addJob("Shown", false, false, false);
    t.host.visible = true;
    ctx().flags.bBackupRunning = true;
    EXPECT_FALSE(run("Shown").started);
    EXPECT_TRUE(t.logged("Backup process pending!"));
    EXPECT_EQ(job.enumStatus, kStatusNeverRun);
    EXPECT_FALSE(fs::exists(ctx().storePath()));
    ctx().flags.bBackupRunning = false;
    run("Shown");
    ASSERT_EQ(t.host.boxes.size(), 1u);
    EXPECT_EQ(t.host.boxes[0].text, "Backup Shown terminated normally at 2006-01-15 19:30:05!");
    EXPECT_EQ(t.host.boxes[0].icon, MsgIcon::Information);
}

// Whoever calls the engine with a job whose password cannot be read, nothing of it is stored:
// not unencrypted, and not under the empty password it holds.
TEST_F(RunTest, ALockedJobStoresNothingWhateverItsStorage) {
    makeTree();
    struct Kind {
        const char* what;
        bool archived;
        bool zipped;
        std::int32_t split;
    };
    for (const Kind kind : {Kind{"copies", false, false, 0}, Kind{"archive", true, false, 0},
                            Kind{"compressed split", true, true, 4096}}) {
        SCOPED_TRACE(kind.what);
        clsBackup& job = addJob("Locked", kind.archived, kind.zipped, false);
        job.splitSize = kind.split;
        job.Protected = true;
        job.passwordUnreadable = true;
        job.storedProtection = "97,300";
        EXPECT_FALSE(run("Locked").started);
        EXPECT_TRUE(std::filesystem::is_empty(dest.path()));
        EXPECT_FALSE(fs::exists(ctx().storePath()));
        EXPECT_FALSE(ctx().flags.bBackupRunning);
    }
    EXPECT_TRUE(t.loggedContaining("The backup Locked is locked"));
}

TEST_F(RunTest, FtpDestinationsFailCleanlyWithoutAnFtpClient) {
    makeTree();
    clsBackup& job = addJob("Remote", true, true, true);
    job.destFTP = true;
    job.objDestination = std::make_shared<clsKestrel>();
    job.objDestination->hostname = "127.0.0.1";
    run("Remote");
    EXPECT_EQ(job.enumStatus, kStatusFailed);
    EXPECT_TRUE(t.logged("Can't connect to ftp server!"));
    EXPECT_TRUE(t.logged("FAIL: Can't download fs file to perform incremental backup!"));
}

TEST_F(RunTest, ADestinationOnADiskThatIsNotMountedFailsTheRunBeforeAnythingIsWritten) {
    makeTree();
    // Named after this test's own folder, so that no other run shares it.
    const std::string disk = "/media/kestrel-test-" + fs::fileNameOf(src.path());
    if (!mounts::onUnmountedDisk(disk + "/backup")) {
        GTEST_SKIP() << "a disk is mounted on the way to " << disk;
    }
    struct Case {
        std::string name;
        bool archived;
        std::string destination;
        bool available;
    };
    const Case cases[] = {
        {"Plain", false, disk + "/backup", false},
        {"Archive", true, disk + "/backup", false},
        // A missing folder on a disk that is there is made, as always.
        {"PlainNew", false, dest.file("new/plain"), true},
        {"ArchiveNew", true, dest.file("new/archive"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clsBackup& job = addJob(c.name, c.archived, true, false);
        job.sDestinationDir = c.destination;
        const RunSummary r = run(c.name);
        EXPECT_TRUE(r.started);
        EXPECT_EQ(r.status, c.available ? kStatusOk : kStatusFailed);
        EXPECT_EQ(r.stored, c.available ? r.total : 0);
        EXPECT_EQ(r.stored > 0, c.available);
        EXPECT_EQ(fs::isDirectory(c.destination), c.available);
        EXPECT_EQ(t.logged("FAIL: The destination " + c.destination +
                           " is not available: the disk it lies on is not mounted!"),
                  !c.available);
    }
    EXPECT_FALSE(fs::exists(disk));
    EXPECT_TRUE(t.logged("Backup of Archive failed!"));
}

TEST_F(RunTest, ADestinationInsideTheSourceIsNotStoredAgainByTheNextRun) {
    makeTree();
    const std::string inside = src.file("tree/backup");
    // Everything below a folder, by relative name and size.
    auto contents = [](const std::string& folder) {
        std::map<std::string, std::uintmax_t> sizes;
        for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
            if (e.is_regular_file()) {
                sizes[std::filesystem::relative(e.path(), folder).string()] = e.file_size();
            }
        }
        return sizes;
    };
    for (const bool archived : {true, false}) {
        SCOPED_TRACE(archived ? "archive" : "plain copies");
        std::filesystem::remove_all(inside);
        const std::string name = archived ? "Inside" : "InsideCopy";
        clsBackup& job = addJob(name, archived, true, false);
        job.sDestinationDir = inside;
        std::map<std::string, std::uintmax_t> first;
        for (int i = 0; i < 3; ++i) {
            const RunSummary r = run(name);
            EXPECT_EQ(r.status, kStatusOk);
            EXPECT_EQ(r.stored, r.total);
            if (i == 0) {
                first = contents(inside);
            }
        }
        EXPECT_EQ(contents(inside), first);
        EXPECT_TRUE(t.logged("Left out " + inside + ": it is this backup's destination"));
    }
}

// A destination that fills up ends plain copies with the media message. (An archive set that
// cannot be built keeps the old set: the crash sweep's full-disk test.)
TEST_F(RunTest, AFullDiskEndsTheRunWithTheMediaMessage) {
    test::SmallDisk disk(dest.file("small"), 256);
    if (!disk.mounted()) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    src.write("tree/big.bin", std::string(300'000, '2'));
    clsBackup& copies = addJob("Full", false, false, false);
    copies.sDestinationDir = dest.file("small");
    const RunSummary r = run("Full");
    EXPECT_TRUE(r.mediaFull);
    EXPECT_EQ(copies.enumStatus, kStatusFailed);
    EXPECT_TRUE(t.logged("Backup media is full! Cannot continue!"));
    ASSERT_FALSE(t.host.boxes.empty());
    EXPECT_EQ(t.host.boxes[0].text, "Backup media is full! Cannot continue!");
}

}  // namespace
}  // namespace kestrel
