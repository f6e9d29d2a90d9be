// SPDX-License-Identifier: GPL-3.0-or-later
#include "restore/restore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/backup_run.h"
#include "jobs/job_store.h"
#include "platform/file_handle.h"
#include "platform/fs.h"
#include "platform/safe_dir.h"
#include "restore/sessions.h"
#include "runner/job_runner.h"
#include "support/job_builder.h"
#include "support/process_state.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

// Modes, set-gid, links (also dangling), an empty folder and, as root, other owners.
std::string makePosixTree(const test::TempDir& root) {
    namespace sfs = std::filesystem;
    using p = sfs::perms;
    const std::string base = root.file("tree/posix");
    root.write("tree/posix/private/id_rsa", "secret key");
    root.write("tree/posix/bin/script.sh", "#!/bin/sh\necho hi\n");
    root.write("tree/posix/shared/notes.txt", "shared notes");
    sfs::create_directories(base + "/empty");
    sfs::permissions(base + "/private/id_rsa", p::owner_read | p::owner_write);
    sfs::permissions(base + "/private", p::owner_all);
    sfs::permissions(base + "/bin/script.sh", p::owner_all | p::group_read | p::group_exec |
                                                  p::others_read | p::others_exec);
    sfs::permissions(base + "/shared",
                     p::owner_all | p::group_all | p::others_read | p::others_exec | p::set_gid);
    sfs::permissions(base + "/empty", p::owner_all | p::group_read | p::group_exec);
    sfs::create_symlink("private/id_rsa", base + "/link-to-file");
    sfs::create_symlink("bin", base + "/link-to-folder");
    sfs::create_symlink("/nonexistent/kestrel/target", base + "/dangling");
    if (::geteuid() == 0) {
        EXPECT_EQ(::chown((base + "/shared/notes.txt").c_str(), 1234, 2345), 0);
        EXPECT_EQ(::lchown((base + "/link-to-folder").c_str(), 1234, 2345), 0);
        EXPECT_EQ(::chown((base + "/shared").c_str(), 1234, 2345), 0);
        // chown clears set-id bits.
        sfs::permissions(base + "/shared", p::set_gid, sfs::perm_options::add);
    }
    return base;
}

// Each entry of makePosixTree's tree has its kind, mode, link target and owner at restored.
void expectSamePosixTree(const std::string& base, const std::string& restored) {
    for (const char* e :
         {"private", "private/id_rsa", "bin", "bin/script.sh", "shared", "shared/notes.txt",
          "empty", "link-to-file", "link-to-folder", "dangling"}) {
        struct stat a {};
        struct stat b {};
        ASSERT_EQ(::lstat((base + "/" + e).c_str(), &a), 0) << e;
        ASSERT_EQ(::lstat((restored + "/" + e).c_str(), &b), 0) << "missing: " << e;
        EXPECT_EQ(a.st_mode & S_IFMT, b.st_mode & S_IFMT) << e;
        if (!S_ISLNK(a.st_mode)) {
            EXPECT_EQ(a.st_mode & 07777, b.st_mode & 07777) << e;
        } else {
            EXPECT_EQ(std::filesystem::read_symlink(base + "/" + e),
                      std::filesystem::read_symlink(restored + "/" + e))
                << e;
        }
        if (::geteuid() == 0) {
            EXPECT_EQ(a.st_uid, b.st_uid) << e;
            EXPECT_EQ(a.st_gid, b.st_gid) << e;
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(restored + "/empty"));
}

TEST(RestoreTargets, NeverLeaveTheChosenFolder) {
    RestoreOptions to{false, "/restore", false};
    EXPECT_EQ(restoreTarget("/home/u/a.txt", to), "/restore/home/u/a.txt");
    EXPECT_EQ(restoreTarget("relative/a.txt", to), "/restore/relative/a.txt");
    EXPECT_FALSE(restoreTarget("/home/../../etc/passwd", to));
    EXPECT_FALSE(restoreTarget("../x", to));
    EXPECT_FALSE(restoreTarget("/", to));
    EXPECT_FALSE(restoreTarget("", to));
    const RestoreOptions original;
    EXPECT_EQ(restoreTarget("/home/u/a.txt", original), "/home/u/a.txt");
    EXPECT_FALSE(restoreTarget("relative/a.txt", original));
    EXPECT_FALSE(restoreTarget("/a/../b", original));
}

class RestoreTest : public ::testing::Test {
protected:
    test::TestContext t{true};
    test::TempDir src;
    test::TempDir dest;
    test::TempDir out;

    JobRunner runner{*t.ctx};

    RunSummary backup(const std::string& name) {
        RunSummary summary;
        EXPECT_EQ(runner.RunBackup(name, &summary), RunnerResult::Done);
        return summary;
    }
    bool load(const std::string& name, RestoreState& state) {
        return runner.openRestore(name, state) == RunnerResult::Done;
    }
    RestoreSummary restore(RestoreState& state, const RestoreOptions& options) {
        RestoreSummary summary;
        EXPECT_EQ(runner.restore(state, options, &summary), RunnerResult::Done);
        return summary;
    }

    void addJob(const std::string& name, bool zipped, bool incremental, std::int32_t split = 0,
                const std::string& password = "") {
        ASSERT_EQ(runner.addJob(test::JobBuilder(name)
                                    .folder(src.file("tree"))
                                    .to(dest.path())
                                    .archive()
                                    .compressed(zipped)
                                    .incremental(incremental)
                                    .split(split)
                                    .password(password)
                                    .build()),
                  RunnerResult::Done);
    }

    // A job of plain volumes, backed up, and its catalogue loaded with every file checked.
    RestoreState backedUp(const std::string& name) {
        addJob(name, false, false);
        EXPECT_EQ(backup(name).status, kStatusOk);
        RestoreState state;
        EXPECT_TRUE(load(name, state));
        if (!state.tree.sessions().empty()) {
            state.tree.setChecked(state.tree.sessions()[0], true);
        }
        return state;
    }

    // Sizes about the block and buffer sizes; zeros at the end, in the middle, throughout.
    std::vector<std::string> makeTree() {
        std::vector<std::string> files;
        for (size_t size : {0, 1, 511, 512, 513, 102'399, 102'400, 1'048'576, 2'000'001}) {
            files.push_back(src.write(
                "tree/d" + std::to_string(size % 3) + "/f" + std::to_string(size) + ".bin",
                test::noise(size, size)));
        }
        files.push_back(
            src.write("tree/zeros/tail.bin", test::noise(1'000, 1) + std::string(70'000, '\0')));
        files.push_back(src.write(
            "tree/zeros/middle.bin",
            test::noise(600'000, 2) + std::string(300'000, '\0') + test::noise(600'000, 3)));
        files.push_back(src.write("tree/zeros/all.bin", std::string(5'000, '\0')));
        // Names that differ only in case are two files.
        files.push_back(src.write("tree/case/Name.bin", "upper"));
        files.push_back(src.write("tree/case/name.bin", "lower"));
        std::filesystem::permissions(files[2], std::filesystem::perms::owner_read |
                                                   std::filesystem::perms::group_read |
                                                   std::filesystem::perms::others_read);
        return files;
    }

    void expectSame(const std::string& original, const std::string& restored) {
        EXPECT_TRUE(test::readAll(original) == test::readAll(restored)) << restored;
        const auto a = statFile(original);
        const auto b = statFile(restored);
        ASSERT_TRUE(b) << restored;
        EXPECT_EQ(a->mode, b->mode) << restored;
        EXPECT_EQ(a->lastWriteTime, b->lastWriteTime) << restored;
    }
};

struct Variant {
    const char* name;
    bool zipped;
    std::int32_t split;
    const char* password;
};

class RestoreRoundTrip : public RestoreTest, public ::testing::WithParamInterface<Variant> {};

// Everything comes back at its newest from the session holding it; a planted link is replaced.
TEST_P(RestoreRoundTrip, TheNewestOfEveryFileLinkAndFolderComesBackWhole) {
    const Variant v = GetParam();
    const auto files = makeTree();
    const std::string posix = makePosixTree(src);
    addJob(v.name, v.zipped, true, v.split, v.password);
    ASSERT_EQ(backup(v.name).status, kStatusOk);
    // A changed and a new file, a link with a new target and a new empty folder.
    t.clock.advanceSeconds(120);
    std::ofstream(files[1], std::ios::app) << "more";
    const std::string added = src.write("tree/new/late.txt", "late");
    std::filesystem::remove(posix + "/dangling");
    std::filesystem::create_symlink("bin/script.sh", posix + "/dangling");
    std::filesystem::create_directories(posix + "/later-empty");
    ASSERT_EQ(backup(v.name).status, kStatusOk);

    RestoreState state;
    ASSERT_TRUE(load(v.name, state));
    ASSERT_EQ(state.tree.sessions().size(), 2u);
    const DateTime second = state.records.back().dSession;
    for (const std::string& path : {posix + "/dangling", posix + "/later-empty", added, files[1]}) {
        EXPECT_GE(state.tree.findPath(second, path), 0) << path;
    }
    for (const std::string& path :
         {posix + "/empty", posix + "/link-to-file", posix + "/private", files[0]}) {
        EXPECT_EQ(state.tree.findPath(second, path), -1) << path;
    }
    // As `restore` without a session chooses.
    for (size_t r : recordsToRestore(state.records, {"/"}, std::nullopt)) {
        state.tree.setChecked(
            state.tree.findPath(state.records[r].dSession, state.records[r].fname), true);
    }
    for (int node : extrasToRestore(state, {"/"}, std::nullopt)) {
        state.tree.setChecked(node, true);
    }
    test::TempDir elsewhere;
    const std::string victim = elsewhere.write("victim", "untouched");
    std::filesystem::create_directories(out.path() + posix);
    std::filesystem::create_symlink(victim, out.path() + posix + "/link-to-file");
    const RestoreSummary r = restore(state, RestoreOptions{false, out.path(), true});
    EXPECT_EQ(r.failed, 0);
    EXPECT_GE(r.restored, static_cast<std::int64_t>(files.size() + 1));
    for (const std::string& f : files) {
        expectSame(f, out.path() + f);
    }
    expectSame(added, out.path() + added);
    expectSamePosixTree(posix, out.path() + posix);
    EXPECT_TRUE(std::filesystem::is_empty(out.path() + posix + "/later-empty"));
    EXPECT_EQ(test::readAll(victim), "untouched");
}

INSTANTIATE_TEST_SUITE_P(Archives, RestoreRoundTrip,
                         ::testing::Values(Variant{"Plain", false, 0, ""},
                                           Variant{"PlainSplit", false, 700'000, ""},
                                           Variant{"Zipped", true, 0, ""},
                                           Variant{"ZippedSplit", true, 600'000, ""},
                                           Variant{"Protected", true, 900'000, "pass word"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RestoreTest, ExistingTargetsAreAskedForAndReplacedWhole) {
    const std::string file = src.write("tree/a.txt", "short");
    RestoreState state = backedUp("Job");
    std::ofstream(file) << "a much longer text than the backed up one";
    t.host.answers.push_back(MsgAnswer::No);
    RestoreSummary r = restore(state, RestoreOptions{});
    EXPECT_EQ(r.skipped, 1);
    EXPECT_EQ(t.host.boxes[0].text,
              "The file " + file + " already exists! Do you want to overwrite?");
    EXPECT_EQ(test::readAll(file), "a much longer text than the backed up one");

    t.host.answers.push_back(MsgAnswer::Yes);
    r = restore(state, RestoreOptions{});
    EXPECT_EQ(r.restored, 1);
    EXPECT_EQ(test::readAll(file), "short");
    EXPECT_EQ(fs::listDir(src.file("tree"))->size(), 1u);  // no temporary file left

    // A link in its place, even one that leads nowhere, is asked for too.
    std::filesystem::remove(file);
    std::filesystem::create_symlink(src.file("nowhere"), file);
    t.host.answers.push_back(MsgAnswer::No);
    r = restore(state, RestoreOptions{});
    EXPECT_EQ(r.skipped, 1);
    EXPECT_TRUE(std::filesystem::is_symlink(file));
}

// A file gets its mode at creation where the umask leaves it whole, and set afterwards where
// not; set-id bits only once the file is whole.
TEST_F(RestoreTest, EveryModeComesBackWhateverTheUmask) {
    const std::vector<unsigned> modes = {0644, 0600, 0444, 0755, 0640, 0604, 04755, 02755};
    std::vector<std::string> files;
    for (unsigned mode : modes) {
        files.push_back(src.write("tree/m" + std::to_string(mode), "mode"));
        std::filesystem::permissions(files.back(), static_cast<std::filesystem::perms>(mode));
    }
    RestoreState state = backedUp("Job");
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        test::TempDir to;
        const mode_t before = ::umask(mask);
        const RestoreSummary r = restore(state, RestoreOptions{false, to.path(), true});
        ::umask(before);
        EXPECT_EQ(r.restored, static_cast<std::int64_t>(modes.size()));
        for (size_t i = 0; i < modes.size(); ++i) {
            EXPECT_EQ(test::modeOf(to.path() + files[i]), static_cast<int>(modes[i])) << files[i];
        }
    }
}

// The clock stands still, so the restored files' lines are held back together; yet when the
// restore returns every one is in the log, beside the line said at once for the file kept.
TEST_F(RestoreTest, RestoredLinesReachTheLogWhenTheRestoreReturns) {
    const std::string a = src.write("tree/a.txt", "a");
    const std::string b = src.write("tree/b.txt", "b");
    const std::string c = src.write("tree/c.txt", "c");
    RestoreState state = backedUp("Job");
    std::filesystem::remove(a);
    std::filesystem::remove(c);
    std::ofstream(b) << "changed";
    t.host.answers.push_back(MsgAnswer::No);
    const RestoreSummary r = restore(state, RestoreOptions{});
    EXPECT_EQ(r.restored, 2);
    EXPECT_TRUE(t.logged("OK: " + a + " restored"));
    EXPECT_TRUE(t.logged(b + " exists and was kept"));
    EXPECT_TRUE(t.logged("OK: " + c + " restored"));
}

TEST_F(RestoreTest, DamagedVolumesRestoreNothingAndKeepTheExistingFile) {
    const std::string file = src.write("tree/big.bin", std::string(300'000, 'q'));
    RestoreState state = backedUp("Dam");
    std::filesystem::resize_file(dest.file("Dam.uxarc"), 100'000);
    std::ofstream(file) << "current";
    const RestoreSummary r = restore(state, RestoreOptions{true, "", true});
    EXPECT_EQ(r.restored, 0);
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(test::readAll(file), "current");
    EXPECT_TRUE(t.logged("Cannot read Dam.uxarc archive to restore!"));
    EXPECT_TRUE(t.loggedContaining("FAIL: " + file + " not restored: damaged"));
    EXPECT_EQ(t.host.boxes.back().text,
              "None of the 1 chosen files could be restored (1 failed, 0 kept): see the log.");
    EXPECT_EQ(fs::listDir(src.file("tree"))->size(), 1u);
}

// A restore of some paths keeps only their records, yet counts every record and knows the
// newest session of them all (the one a listing shows by default).
TEST_F(RestoreTest, AFilteredLoadKeepsOnlyTheWantedRecords) {
    const std::string a = src.write("tree/a/one.txt", "one");
    const std::string ab = src.write("tree/ab/two.txt", "two");
    const std::string changed = src.write("tree/b/three.txt", "three");
    addJob("Filter", false, true);
    ASSERT_EQ(backup("Filter").status, kStatusOk);
    t.clock.advanceSeconds(120);
    std::ofstream(changed, std::ios::app) << "more";
    ASSERT_EQ(backup("Filter").status, kStatusOk);

    RestoreState all;
    ASSERT_TRUE(load("Filter", all));
    ASSERT_EQ(all.records.size(), 4u);
    const DateTime newest = all.records.back().dSession;
    const struct {
        std::vector<std::string> paths;
        size_t kept;
    } cases[] = {
        {{"/"}, 4},
        {{src.file("tree/a")}, 1},  // not tree/ab
        {{src.file("tree/a/"), ab}, 2},
        {{changed}, 2},  // both sessions hold it
        {{src.file("tree/none")}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.paths.front());
        RestoreState state;
        state.keepRecord = PathFilter(c.paths);
        ASSERT_TRUE(load("Filter", state));
        EXPECT_EQ(state.records.size(), c.kept);
        EXPECT_EQ(state.recordsRead, 4u);
        EXPECT_EQ(state.newest, newest);
        // Of the checksum and facts files only the kept records' entries are held.
        size_t facts = 0;
        for (const RestoreSource& source : state.sources) {
            facts += source.meta.meta ? source.meta.meta->fileCount() : 0;
        }
        EXPECT_EQ(facts, c.kept);
        for (const clsRestoreFileData& rec : state.records) {
            EXPECT_TRUE(PathFilter(c.paths)(rec.fname)) << rec.fname;
            const RestoreSource& source = state.sources.at(rec.source);
            ASSERT_TRUE(source.sums.sums && source.meta.meta);
            EXPECT_NE(source.sums.sums->find(rec.lineDigest), nullptr) << rec.fname;
            EXPECT_NE(source.meta.meta->find(rec.lineDigest), nullptr) << rec.fname;
        }
    }
    // What was kept restores as from a full load, checked against its digest.
    RestoreState one;
    one.keepRecord = PathFilter({a});
    ASSERT_TRUE(load("Filter", one));
    ASSERT_EQ(one.records.size(), 1u);
    one.tree.setChecked(one.tree.findPath(one.records[0].dSession, a), true);
    const RestoreSummary r = restore(one, RestoreOptions{false, out.path(), true});
    EXPECT_EQ(r.restored, 1);
    EXPECT_EQ(r.weak, 0);
    expectSame(a, out.path() + a);
}

TEST_F(RestoreTest, ALeftoverOfAKilledRestoreGoesWhenTheNextRestoreWritesThatFile) {
    src.write("tree/a.txt", "alpha");
    src.write("tree/a.txt.kestrel-Mine01", "mine");  // a file of the user's, named alike
    src.write("tree/c.txt", "c");
    backedUp("Left");
    const std::string folder = out.path() + src.file("tree");
    std::filesystem::create_directories(folder);
    auto dir = SafeDir::open(folder, "", false, SafeDir::LinkPolicy::Never);
    ASSERT_TRUE(dir);
    FileHandle writing;  // another restore, still at work
    std::string live;
    ASSERT_TRUE(dir->createTemp("a.txt", writing, &live));
    std::filesystem::create_symlink(src.file("tree/a.txt"),
                                    fs::join(folder, "a.txt.kestrel-Link01"));
    struct Entry {
        std::string name;
        bool removed;
    };
    const Entry entries[] = {
        {"a.txt.kestrel-Ab12Cd", true},
        {"a.txt.kestrel-Xy34Zw", true},
        {"a.txt.kestrel-Ab12C", false},    // not the exact pattern
        {"a.txt.kestrel-Ab12Cd7", false},  // nor this
        {"xa.txt.kestrel-Ab12Cd", false},  // another file's
        {"a.txt.kestrel-new", false},      // a staged set file
        {"c.txt.kestrel-Ab12Cd", false},   // c.txt is not restored this time
        {"a.txt.kestrel-Mine01", false},   // chosen itself: restored, not removed
        {live, false},
        {"a.txt.kestrel-Link01", false},
    };
    for (const Entry& e : entries) {
        if (!fs::exists(fs::join(folder, e.name))) {
            std::ofstream(fs::join(folder, e.name)) << "partial";
        }
    }

    RestoreState state;
    ASSERT_TRUE(load("Left", state));
    const DateTime session = state.records.front().dSession;
    state.tree.setChecked(state.tree.findPath(session, src.file("tree/a.txt")), true);
    state.tree.setChecked(state.tree.findPath(session, src.file("tree/a.txt.kestrel-Mine01")),
                          true);
    const RestoreSummary r = restore(state, RestoreOptions{false, out.path(), true});
    EXPECT_EQ(r.restored, 2);
    EXPECT_EQ(test::readAll(fs::join(folder, "a.txt")), "alpha");
    EXPECT_EQ(test::readAll(fs::join(folder, "a.txt.kestrel-Mine01")), "mine");
    for (const Entry& e : entries) {
        const std::string path = fs::join(folder, e.name);
        EXPECT_EQ(
            std::filesystem::symlink_status(path).type() == std::filesystem::file_type::not_found,
            e.removed)
            << e.name;
        EXPECT_EQ(t.logged("Removed " + path + ", left behind by an interrupted run"), e.removed)
            << e.name;
    }
}

}  // namespace
}  // namespace kestrel
