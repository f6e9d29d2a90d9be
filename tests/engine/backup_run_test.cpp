// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/backup_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
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
#include "support/fake_ftp_client.h"
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
        src.write("tree/sub/B.doc", std::string(150'000, 'b'));
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

TEST_F(RunTest, FullPlainCopiesMirrorTheTreeAndRecordSuccess) {
    makeTree();
    const std::string a = src.file("tree/a.txt");
    std::filesystem::permissions(
        a, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    clsBackup& job = addJob("Copy", false, false, false);
    const RunSummary r = run("Copy");
    EXPECT_EQ(r.stored, 4);
    EXPECT_EQ(r.notStored, 0);
    EXPECT_EQ(job.enumStatus, kStatusOk);
    EXPECT_EQ(job.lastOK, t.clock.now());
    EXPECT_EQ(test::readAll(dest.path() + src.file("tree/sub/B.doc")), std::string(150'000, 'b'));
    EXPECT_TRUE(fs::exists(dest.path() + src.file("tree/empty.txt")));
    // Modes of the copies: PrivateFilesTest in tests/cli.
    const std::string copy = dest.path() + a;
    EXPECT_EQ(statFile(copy)->lastWriteTime, statFile(a)->lastWriteTime);
    EXPECT_TRUE(t.logged("Backup of Copy finished succesfully!"));
    EXPECT_FALSE(ctx().flags.bBackupRunning);
    EXPECT_TRUE(t.host.boxes.empty());  // no window: no message box
    EXPECT_NE(
        test::readAll(ctx().storePath()).find("Status=1\r\nProtected=\r\nOKLast=200601151930"),
        std::string::npos);
    // The next run replaces the read-only copy, and leaves out what the masks exclude.
    std::filesystem::permissions(a, std::filesystem::perms::owner_all);
    src.write("tree/a.txt", "newer");
    job.IncludeMask = "*.*";
    job.ExcludeMask = "*.tmp";
    EXPECT_EQ(run("Copy").stored, 3);
    EXPECT_EQ(test::readAll(copy), "newer");

    job.IncludeMask = "*.nothing";
    const DateTime before = job.lastOK;
    t.clock.advanceSeconds(60);
    EXPECT_EQ(run("Copy").total, 0);
    EXPECT_EQ(job.enumStatus, kStatusOk);
    EXPECT_EQ(job.lastOK, before) << "an empty run is no successful backup";
}

// A source gone or a folder unreadable: not stored, the run fails and records no good run.
TEST_F(RunTest, WhatCannotBeReadCountsAsNotStoredAndFailsTheRun) {
    makeTree();
    clsBackup& job = addJob("Partial", false, false, false);
    // A mixed-case name is found as it is written.
    onlyFiles(job, {"tree/a.txt", "tree/sub/B.doc", "tree/empty.txt", "tree/missing.txt"});
    job.AddFile(std::make_unique<clsBackupFile>(
        clsBackupFile{src.file("no such folder"), kSourceFolder, 0, 0}));
    t.host.visible = true;
    const RunSummary r = run("Partial");
    EXPECT_EQ(r.stored, 3);
    EXPECT_EQ(r.notStored, 2);
    EXPECT_EQ(job.enumStatus, kStatusFailed);
    ASSERT_FALSE(t.host.boxes.empty());
    // The box says why, with the log's own failure lines.
    EXPECT_TRUE(t.host.boxes.back().text.starts_with(
        "Backup of Partial failed!\n\nFAIL: Can't read folder " + src.file("no such folder")))
        << t.host.boxes.back().text;
    EXPECT_TRUE(job.lastOK.isZero());
}

// An incremental plain-copy run copies again only what differs from its copy at the destination;
// whatever it leaves out, every copy ends equal to its source.
TEST_F(RunTest, IncrementalPlainCopiesSkipOnlyCopiesThatAreUnchanged) {
    namespace sf = std::filesystem;
    const std::string a = "tree/a.txt";
    auto copyOf = [&](const std::string& relative) { return dest.path() + src.file(relative); };
    auto shiftTime = [](const std::string& path, std::chrono::nanoseconds by) {
        sf::last_write_time(path, sf::last_write_time(path) + by);
    };
    struct Case {
        const char* what;
        bool incremental;
        std::function<void()> change;
        std::int64_t copied;
    };
    const std::vector<Case> cases = {
        {"nothing changed", true, [] {}, 0},
        {"a full job", false, [] {}, 4},
        {"a changed size, the time put back", true,
         [&] {
             const auto before = sf::last_write_time(src.file(a));
             src.write(a, "alpha, longer");
             sf::last_write_time(src.file(a), before);
         },
         1},
        {"a changed time", true, [&] { shiftTime(src.file(a), std::chrono::seconds(1)); }, 1},
        {"a time changed by a nanosecond", true,
         [&] { shiftTime(src.file(a), std::chrono::nanoseconds(1)); }, 1},
        {"a copy replaced by another of the same size", true,
         [&] { std::ofstream(copyOf(a), std::ios::trunc) << "ALPHA"; }, 1},
        {"a copy removed", true, [&] { sf::remove(copyOf(a)); }, 1},
        {"a copy whose owner bits differ from the source's", true,
         [&] { sf::permissions(src.file(a), sf::perms::owner_read); }, 1},
        {"a folder renamed at the source", true,
         [&] { sf::rename(src.file("tree/sub"), src.file("tree/renamed")); }, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sf::remove_all(src.file("tree"));
        sf::remove_all(dest.path());
        sf::create_directories(dest.path());
        makeTree();
        clsBackup& job = addJob("Mirror", false, false, c.incremental);
        ASSERT_EQ(run("Mirror").stored, 4);
        const DateTime firstOk = job.lastOK;
        t.clock.advanceSeconds(60);
        c.change();
        const RunSummary r = run("Mirror");
        EXPECT_EQ(r.stored, c.copied);
        EXPECT_EQ(r.notStored, 0);
        EXPECT_EQ(r.status, kStatusOk);
        const std::int64_t skipped = 4 - c.copied;
        EXPECT_EQ(t.logged(std::to_string(skipped) +
                           " file(s) unchanged since their copy at the destination: not copied "
                           "again"),
                  skipped > 0);
        // A run with nothing to copy ends as an unchanged archive run does.
        EXPECT_EQ(job.lastOK == firstOk, c.copied == 0);
        for (const auto& entry : sf::recursive_directory_iterator(src.file("tree"))) {
            if (entry.is_regular_file()) {
                const std::string copy = dest.path() + entry.path().string();
                EXPECT_EQ(test::readAll(copy), test::readAll(entry.path())) << copy;
                EXPECT_EQ(sf::last_write_time(copy), entry.last_write_time()) << copy;
            }
        }
        sf::permissions(src.file(a), sf::perms::owner_all);
        t.host.logLines.clear();
    }
}

// At an FTP destination the one remote folder is listed once; only a listing with exact sizes
// and times (MLSD) lets a file be left out, so a server with LIST alone gets every file again.
TEST_F(RunTest, IncrementalUploadsSkipOnlyWhatAnExactListingShowsUnchanged) {
    namespace sf = std::filesystem;
    struct Case {
        const char* what;
        bool exact;
        std::function<void(test::FakeRemote&)> change;
        std::int64_t uploaded;
    };
    const std::string a = "tree/a.txt";
    const std::vector<Case> cases = {
        {"an exact listing, nothing changed", true, [](test::FakeRemote&) {}, 0},
        {"a listing to the minute", false, [](test::FakeRemote&) {}, 4},
        {"a changed time", true,
         [&](test::FakeRemote&) {
             sf::last_write_time(src.file(a),
                                 sf::last_write_time(src.file(a)) + std::chrono::seconds(2));
         },
         1},
        {"a remote copy replaced by another of the same size", true,
         [](test::FakeRemote& r) { r.put("/up/a.txt", "ALPHA"); }, 1},
        {"a remote copy removed", true, [](test::FakeRemote& r) { r.remove("/up/a.txt"); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sf::remove_all(src.file("tree"));
        makeTree();
        test::FakeRemote remote;
        remote.exactListing = c.exact;
        remote.makeFolder("/up");
        auto job = test::JobBuilder("Up")
                       .folder(src.file("tree"))
                       .ftp("server", 21, "u", "p", "/up")
                       .incremental(true)
                       .build();
        RunOptions options;
        options.ftp = test::fakeFtpFactory(remote);
        ASSERT_EQ(BackupJob(ctx(), *job, "Up", options).stored, 4);
        c.change(remote);
        const RunSummary r = BackupJob(ctx(), *job, "Up", options);
        EXPECT_EQ(r.stored, c.uploaded);
        EXPECT_EQ(r.status, kStatusOk);
        EXPECT_EQ(std::count(remote.calls.begin(), remote.calls.end(), "MLSD /up"), 2);
        EXPECT_EQ(remote.files.at("/up/a.txt"), test::readAll(src.file(a)));
        EXPECT_EQ(remote.files.at("/up/B.doc"), test::readAll(src.file("tree/sub/B.doc")));
    }
}

TEST_F(RunTest, UploadedCopiesOfOneNameNeverOverwriteEachOther) {
    // Plain uploads all land in the destination folder: the second same.txt would replace the
    // first there, run after run.
    src.write("tree/same.txt", "first");
    src.write("tree/sub/same.txt", "second");
    src.write("tree/other.txt", "other");
    test::FakeRemote remote;
    remote.exactListing = true;
    remote.makeFolder("/up");
    auto job = test::JobBuilder("Up")
                   .folder(src.file("tree"))
                   .ftp("server", 21, "u", "p", "/up")
                   .incremental(true)
                   .build();
    RunOptions options;
    options.ftp = test::fakeFtpFactory(remote);
    std::string firstKept;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        const RunSummary r = BackupJob(ctx(), *job, "Up", options);
        EXPECT_EQ(r.notStored, 1);
        EXPECT_EQ(r.status, kStatusFailed);
        const std::string kept = remote.files.at("/up/same.txt");
        EXPECT_TRUE(kept == "first" || kept == "second") << kept;
        // The same file keeps the name every run: the other never replaces it.
        firstKept = run == 1 ? kept : firstKept;
        EXPECT_EQ(kept, firstKept);
        EXPECT_EQ(remote.files.at("/up/other.txt"), "other");
    }
    EXPECT_TRUE(t.loggedContaining("another file of the job has that name in /up/same.txt"));
}

// What a later session holds and restores after a change: RestoreRoundTrip in restore_test.cpp.
TEST_F(RunTest, IncrementalRunsStoreNothingUnchangedAndSameMinuteSessionsApart) {
    makeTree();
    clsBackup& job = addJob("Inc", true, false, true);
    run("Inc");
    ASSERT_EQ(job.enumStatus, kStatusOk);
    EXPECT_TRUE(fs::exists(dest.file("Inc200601151930.uxarc")));
    t.clock.advanceSeconds(60);
    EXPECT_EQ(run("Inc").total, 0);

    // Changes within the minute of the last session get volumes of their own.
    src.write("tree/quick.txt", "quick");
    EXPECT_EQ(run("Inc").total, 2);  // one volume and the catalogue; the checksums go uncounted
    EXPECT_TRUE(fs::exists(dest.file("Inc200601151931.uxarc")));
    t.clock.advanceSeconds(1);
    src.write("tree/quicker.txt", "quicker");
    EXPECT_EQ(run("Inc").total, 2);
    EXPECT_TRUE(fs::exists(dest.file("Inc20060115193106.uxarc")));
    src.write("tree/quickest.txt", "quickest");
    EXPECT_EQ(run("Inc").total, 2);
    EXPECT_TRUE(fs::exists(dest.file("Inc20060115193107.uxarc")));
    auto sessions = ReadCatalogue(dest.file("Inc.fs"));
    ASSERT_TRUE(sessions);
    // Two sessions in the same second keep stamps of their own.
    EXPECT_EQ(sessions->records[sessions->records.size() - 2].dSession.format("HHmmss"), "193106");
    EXPECT_EQ(sessions->records.back().dSession.format("HHmmss"), "193107");
    const auto again = restoreAll("Inc", false);
    EXPECT_EQ(again.at(src.file("tree/quick.txt")), "quick");
    EXPECT_EQ(again.at(src.file("tree/quicker.txt")), "quicker");
    EXPECT_EQ(again.at(src.file("tree/quickest.txt")), "quickest");
}

// A checksum file written beside another catalogue is set aside (it would refuse every line),
// one of its own never is, and the unchanged files are dropped either way.
TEST_F(RunTest, AChecksumFileOfAnotherCatalogueIsSetAsideAndUnchangedFilesStillDropped) {
    makeTree();
    addJob("A", true, false, true);
    onlyFiles(addJob("B", true, false, true), {"tree/a.txt"});
    run("A");
    run("B");
    t.clock.advanceSeconds(60);
    EXPECT_EQ(run("A").total, 0);
    const std::string foreign = "does not belong to the catalogue beside it";
    EXPECT_FALSE(t.loggedContaining(foreign));
    std::filesystem::copy_file(dest.file("B.fs.sums"), dest.file("A.fs.sums"),
                               std::filesystem::copy_options::overwrite_existing);
    t.clock.advanceSeconds(60);
    EXPECT_EQ(run("A").total, 0);
    EXPECT_TRUE(t.loggedContaining(foreign));
}

// A protected catalogue that cannot be read (a flipped bit) is kept with every volume it needs,
// and a new one begun. (Protected sessions that follow each other: RestoreRoundTrip.)
TEST_F(RunTest, ProtectedCataloguesAreEncryptedAndAnUnreadableOneIsKeptAndANewOneBegun) {
    makeTree();
    clsBackup& job = addJob("Safe", true, true, true);
    job.Protected = true;
    job.password = "old pass";
    ASSERT_EQ(run("Safe").status, kStatusOk);
    EXPECT_EQ(test::readAll(dest.file("Safe.fs")).find("fname="), std::string::npos);
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
    EXPECT_TRUE(t.logged("FAIL: The earlier sessions of Safe are kept in " + dest.file(kept) +
                         ", where the restore finds them; the new full backup begins a new "
                         "catalogue."));
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
    EXPECT_EQ(cat->records.size(), 5u);
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
    EXPECT_EQ(test::readAll(src.file("tree/a.txt")), "alpha");
    EXPECT_TRUE(bare.loggedContaining("FAIL: Encryption of"));
}

// "Cancel this file" on the second of three files, while the host enables it; a press that
// reaches the engine between files skips nothing.
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
        ctx().log.flush();  // the lines per file, which the run holds back for a moment
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
    EXPECT_EQ(job.enumStatus, kStatusFailed);
    EXPECT_EQ(r.status, kStatusFailed);
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

TEST_F(RunTest, AnAbortWhilePausedEndsTheWaitAndTheRun) {
    src.write("tree/1.bin", std::string(300'000, '1'));
    clsBackup& job = addJob("Held", true, false, false);
    onlyFiles(job, {"tree/1.bin"});
    t.host.eventLoop = true;  // the pause waits in the host's loop, which yields here
    t.host.onYield = [&] {
        if (!ctx().flags.bPauseBackup && !ctx().flags.bAbortBackup) {
            ctx().flags.bPauseBackup = true;
        } else if (ctx().flags.bPauseBackup) {
            ctx().flags.bAbortBackup = true;
        }
    };
    run("Held");
    t.host.onYield = nullptr;
    EXPECT_EQ(job.enumStatus, kStatusAborted);
    EXPECT_EQ(t.host.status1, "Backup aborted by user!");
    EXPECT_FALSE(ctx().flags.bBackupRunning);
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
        EXPECT_EQ(fs::isDirectory(c.destination), c.available);
        EXPECT_EQ(t.logged("FAIL: The destination " + c.destination +
                           " is not available: the disk it lies on is not mounted!"),
                  !c.available);
    }
    EXPECT_FALSE(fs::exists(disk));
}

TEST_F(RunTest, ADestinationInsideTheSourceIsNotStoredAgainByTheNextRun) {
    makeTree();
    const std::string inside = src.file("tree/backup");
    // Everything below a folder, by relative name and size.
    auto contents = [](const std::string& folder) {
        std::map<std::string, std::uintmax_t> sizes;
        for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
            if (e.is_regular_file()) {
                // The checksum file is deflated: its size follows the session's digests.
                const bool sums = e.path().extension() == ".sums";
                sizes[std::filesystem::relative(e.path(), folder).string()] =
                    sums ? 0 : e.file_size();
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
        EXPECT_EQ(run(name).status, kStatusOk);
        const auto first = contents(inside);
        const RunSummary r = run(name);
        EXPECT_EQ(r.status, kStatusOk);
        EXPECT_EQ(r.stored, r.total);
        EXPECT_EQ(contents(inside), first);
        EXPECT_TRUE(t.logged("Left out " + inside + ": it is this backup's destination"));
    }
}

// A destination that fills up ends plain copies with the media message and keeps the previous
// copy whole. (An archive set that cannot be built keeps the old set: the crash sweep's test.)
TEST_F(RunTest, AFullDiskEndsTheRunWithTheMediaMessageAndKeepsThePreviousCopy) {
    test::SmallDisk disk(dest.file("small"), 256);
    if (!disk.mounted()) {
        GTEST_SKIP() << "cannot mount a small file system here";
    }
    src.write("tree/big.bin", std::string(100'000, 'a'));
    clsBackup& copies = addJob("Full", false, false, false);
    copies.sDestinationDir = dest.file("small");
    ASSERT_EQ(run("Full").stored, 1);
    src.write("tree/big.bin", std::string(400'000, 'b'));
    const RunSummary r = run("Full");
    EXPECT_TRUE(r.mediaFull);
    EXPECT_EQ(copies.enumStatus, kStatusFailed);
    EXPECT_TRUE(t.logged("Backup media is full! Cannot continue!"));
    ASSERT_FALSE(t.host.boxes.empty());
    EXPECT_EQ(t.host.boxes[0].text, "Backup media is full! Cannot continue!");
    const std::string stored = dest.file("small") + src.file("tree/big.bin");
    EXPECT_EQ(test::readAll(stored), std::string(100'000, 'a'));
    EXPECT_EQ(fs::listDir(fs::parentOf(stored))->size(), 1u) << "no partial copy beside it";
}

}  // namespace
}  // namespace kestrel
