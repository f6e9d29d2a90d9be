// SPDX-License-Identifier: GPL-3.0-or-later
// kestrel-cli killed, or its calls failed, while it writes the store, a set or a restore.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <string_view>

#include "cli/run_cli.h"

namespace kestrel {
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;
using Files = std::map<std::string, std::string>;

// The files with folder put before their paths.
Files below(const std::string& folder, const Files& files) {
    Files moved;
    for (const auto& [path, content] : files) {
        moved[folder + path] = content;
    }
    return moved;
}

// An archive job split into volumes, faulted at each call its run makes at the destination.
class RunCrashTest : public test::CliFixture<SystemClock> {
protected:
    test::TempDir shim;  // the shim's report, outside every folder it watches
    int generation = 0;
    std::optional<test::ShimFault> fault;  // the last faulted run's first fault

    std::string dest() const { return data.file("dest"); }
    std::string store() const { return home.file("backups.ini"); }
    // The program folder's files whose names start with prefix.
    std::vector<std::string> filesStarting(const std::string& prefix) const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(home.path())) {
            if (e.path().filename().string().starts_with(prefix)) {
                names.push_back(e.path().string());
            }
        }
        return names;
    }
    std::vector<std::string> newJob(const std::string& name) const {
        return {"new", "--name", name, "--source", data.file("src"), "--dest", dest()};
    }

    virtual std::vector<std::string> jobOptions() const {
        return {"--storage", "archive", "--split", "8K"};
    }
    // Files whose content names the generation, so that a restore shows which set it came from.
    virtual Files contentOf(int gen) const {
        Files files;
        for (int i = 0; i < 3; ++i) {
            files["f" + std::to_string(i) + ".bin"] =
                std::string(9000 + 4000 * i, static_cast<char>('a' + (gen + i) % 26)) +
                "generation " + std::to_string(gen);
        }
        return files;
    }
    // The generation's files by their path in the source folder.
    Files sourceTree(int gen) const { return below(data.file("src") + "/", contentOf(gen)); }
    // Unchanged files keep their times, as an incremental run expects.
    void writeGeneration(int gen) {
        for (const auto& [path, content] : sourceTree(gen)) {
            if (test::readAll(path) != content) {
                data.write(std::filesystem::relative(path, data.path()).string(), content);
            }
        }
    }
    // args run with the fault shim watching paths that contain match (all when empty).
    test::ProgramResult runFaulted(std::vector<std::string> args, const std::string& match,
                                   Env env) {
        env.emplace_back("KESTREL_FAULT_MATCH", match);
        return test::runFaulted(cliArgs(std::move(args)), env, shim.file("report"), fault);
    }
    // The generation a restore brings back, the current or an older one; -1 for neither.
    int restoredGeneration(const std::string& to, std::optional<int> older = std::nullopt) {
        const test::CliResult r = cli({"restore", "Job", data.file("src"), "--to", to});
        EXPECT_EQ(r.code, 0) << "restore: " << r.err;
        const Files back = test::filesBelow(to + data.file("src"), true);
        std::filesystem::remove_all(to);
        for (int gen : {older.value_or(generation - 1), generation}) {
            if (back == contentOf(gen)) {
                return gen;
            }
        }
        return -1;
    }
    // What a user does after a crash: the job is listed, its set verifies and restores whole.
    void expectWholeSet(const std::string& what, std::optional<int> older = std::nullopt) {
        SCOPED_TRACE(what);
        const test::CliResult listed = cli({"list"});
        EXPECT_EQ(listed.code, 0) << listed.err;
        EXPECT_NE(listed.out.find("Job"), std::string::npos);
        // The restore completes a switch the killed run left; verify then sees one set.
        EXPECT_NE(restoredGeneration(data.file("out"), older), -1)
            << "neither the old nor the new set came back";
        const test::CliResult verified = cli({"verify", dest() + "/Job.fs"});
        EXPECT_EQ(verified.code, 0) << verified.out;
    }
    // The next run succeeds, stores the current generation and leaves nothing staged.
    virtual void expectNextRunSucceeds() {
        const test::CliResult r = cli({"run", "Job"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(restoredGeneration(data.file("after")), generation);
        for (const auto& e : std::filesystem::directory_iterator(dest())) {
            const std::string name = e.path().filename().string();
            for (const char* staged : {".kestrel-new", ".part-", ".switch", ".kestrel-build"}) {
                EXPECT_EQ(name.find(staged), std::string::npos) << name;
            }
        }
    }
    // After a run of the job that succeeded outside expectNextRunSucceeds.
    virtual void ranWithoutFault() {}
    // Runs the job faulted at call N = 1, 2, ... until none is met; how many runs met the fault.
    template <class Check>
    int runWithEachFault(const std::string& variable, Check check, const Env& env = {}) {
        int faulted = 0;
        for (int nth = 1; nth <= 200; ++nth) {
            writeGeneration(++generation);
            Env faults = env;
            faults.emplace_back(variable, std::to_string(nth));
            const test::ProgramResult r = runFaulted({"run", "Job"}, dest(), faults);
            const std::string what = variable + " " + std::to_string(nth);
            if (!fault) {
                EXPECT_EQ(r.code, 0) << what << ", met no fault: " << r.err;
                ranWithoutFault();
                break;
            }
            ++faulted;
            check(what, r);
            expectNextRunSucceeds();
        }
        return faulted;
    }

    void SetUp() override {
        std::filesystem::create_directories(dest());
        writeGeneration(generation);
        std::vector<std::string> made = newJob("Job");
        const std::vector<std::string> options = jobOptions();
        made.insert(made.end(), options.begin(), options.end());
        const test::CliResult created = cli(made);
        ASSERT_EQ(created.code, 0) << created.err;
        const test::CliResult first = cli({"run", "Job"});
        ASSERT_EQ(first.code, 0) << first.err;
    }
};

// Killed before either rename of the store (.bak first), or a full disk: the store stays.
TEST_F(RunCrashTest, AFaultWhileTheStoreIsReplacedKeepsThePreviousStore) {
    const struct {
        const char* variable;
        const char* nth;
        std::string left;  // the whole temporary file a kill leaves behind; "" for a full disk
    } cases[] = {
        {"KESTREL_FAULT_KILL_AT_RENAME", "1", "backups.ini.bak.tmp-"},
        {"KESTREL_FAULT_KILL_AT_RENAME", "2", "backups.ini.tmp-"},
        {"KESTREL_FAULT_ENOSPC_AT_WRITE", "1", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.variable) + " " + c.nth);
        const std::string before = test::readAll(store());
        const test::ProgramResult r = test::runProgram(
            test::withFaults(cliArgs(newJob("Faulted")),
                             {{"KESTREL_FAULT_MATCH", "backups.ini"}, {c.variable, c.nth}}));
        if (!c.left.empty()) {
            EXPECT_EQ(r.code, 128 + SIGKILL) << r.err;
            const std::vector<std::string> left = filesStarting(c.left);
            ASSERT_EQ(left.size(), 1u);
            EXPECT_NE(test::readAll(left[0]).find("[Job]"), std::string::npos);
        } else {
            EXPECT_NE(r.code, 0);
            EXPECT_NE(r.err.find("Cannot write the job store"), std::string::npos) << r.err;
            EXPECT_TRUE(filesStarting("backups.ini.tmp-").empty());
            EXPECT_TRUE(filesStarting("backups.ini.bak.tmp-").empty());
        }
        EXPECT_EQ(test::readAll(store()), before);
        const test::CliResult listed = cli({"list"});
        EXPECT_EQ(listed.code, 0) << listed.err;
        EXPECT_NE(listed.out.find("Job"), std::string::npos) << listed.out;
        EXPECT_EQ(listed.out.find("Faulted"), std::string::npos) << listed.out;
        EXPECT_TRUE(filesStarting("backups.ini.damaged").empty());
        // Reading the store removed what the killed write left.
        EXPECT_TRUE(filesStarting("backups.ini.tmp-").empty());
        EXPECT_TRUE(filesStarting("backups.ini.bak.tmp-").empty());
    }
    // The dead process's lock went with it.
    EXPECT_EQ(cli(newJob("Faulted")).code, 0);
    EXPECT_NE(cli({"list"}).out.find("Faulted"), std::string::npos);
}

TEST_F(RunCrashTest, AKillAtEachRenameOrWriteAtTheDestinationLeavesOneWholeSet) {
    const auto killed = [&](const std::string& what, const test::ProgramResult& r) {
        EXPECT_EQ(r.code, 128 + SIGKILL) << what << ": " << r.err;
        expectWholeSet(what);
    };
    // Volumes, checksum file and catalogue staged, the journal, and each of them put in place.
    EXPECT_GE(runWithEachFault("KESTREL_FAULT_KILL_AT_RENAME", killed), 6);
    EXPECT_GE(runWithEachFault("KESTREL_FAULT_KILL_AT_WRITE", killed), 6);
}

// The names files are written under before they are renamed to their own.
constexpr std::string_view kTempInfixes[] = {".part-", ".tmp-", ".kestrel-"};

// A path with the temporary part of its file name cut off: the file it was written for.
std::string stemOf(const std::string& path) {
    const size_t name = path.rfind('/') + 1;
    size_t cut = path.size();
    for (std::string_view infix : kTempInfixes) {
        cut = std::min(cut, path.find(infix, name));
    }
    return path.substr(0, cut);
}

// Whether text names stem itself or a temporary name of it, not a longer name.
bool namesFile(const std::string& text, const std::string& stem) {
    for (size_t at = text.find(stem); at != std::string::npos; at = text.find(stem, at + 1)) {
        const std::string_view rest = std::string_view(text).substr(at + stem.size());
        if (rest.empty() ||
            std::string_view(" :)\r\n,'\"").find(rest.front()) != std::string::npos ||
            std::any_of(std::begin(kTempInfixes), std::end(kTempInfixes),
                        [&](std::string_view infix) { return rest.starts_with(infix); })) {
            return true;
        }
    }
    return false;
}

// A compressed incremental job with two sessions before the faults: every session stays whole.
class IncrementalFaultTest : public RunCrashTest {
protected:
    struct Session {
        std::string stamp;
        Files files;  // what it holds, by source path
    };
    std::vector<Session> sessions;
    Files stored;  // the tree as the sessions hold it

    std::vector<std::string> jobOptions() const override {
        return {"--storage", "compressed", "--type", "incremental", "--split", "4K"};
    }
    // a.bin changes every generation (two volumes), b.txt every other one, sub/c.bin never.
    Files contentOf(int gen) const override {
        return {{"a.bin", test::noise(6000, gen)},
                {"b.txt", test::noise(300, 1000 + gen / 2)},
                {"sub/c.bin", test::noise(2500, 2000)}};
    }
    // After a run that succeeded: its new session holds the files changed since the last.
    void recordSession(const std::string& what) {
        const test::CliResult listed = cli({"sessions", "Job"});
        ASSERT_EQ(listed.code, 0) << what << ": " << listed.err;
        std::vector<std::string> fresh;
        for (const std::string& stamp : test::sessionStamps(listed.out)) {
            if (std::none_of(sessions.begin(), sessions.end(),
                             [&](const Session& s) { return s.stamp == stamp; })) {
                fresh.push_back(stamp);
            }
        }
        ASSERT_EQ(fresh.size(), 1u) << what << ": " << listed.out;
        Session session{fresh.front(), {}};
        for (const auto& [path, content] : sourceTree(generation)) {
            if (stored[path] != content) {
                session.files[path] = content;
            }
        }
        stored = sourceTree(generation);
        sessions.push_back(session);
    }
    // Restores each stored session to a fresh folder, then reads the whole catalogue back.
    void expectEverySessionWhole(const std::string& what) {
        SCOPED_TRACE(what);
        const std::string to = data.file("session");
        for (const Session& s : sessions) {
            const test::CliResult r =
                cli({"restore", "Job", data.file("src"), "--session", s.stamp, "--to", to});
            EXPECT_EQ(r.code, 0) << "session " << s.stamp << ": " << r.err;
            EXPECT_EQ(test::filesBelow(to), below(to, s.files)) << "session " << s.stamp;
            std::filesystem::remove_all(to);
        }
        const test::CliResult verified = cli({"verify", dest() + "/Job.fs"});
        EXPECT_EQ(verified.code, 0) << verified.out << verified.err;
    }
    // A run that met a failing call: it failed, said which file, and every session stayed whole.
    void expectFailedCleanly(const std::string& what, const test::ProgramResult& r) {
        EXPECT_EQ(r.code, 1) << what << ": " << r.err;
        EXPECT_TRUE(namesFile(r.err, stemOf(fault->path)))
            << what << ": no line names " << fault->path << "\n"
            << r.err;
        const test::CliResult listed = cli({"list"});
        EXPECT_EQ(listed.code, 0) << what << ": " << listed.err;
        EXPECT_TRUE(std::regex_search(listed.out, std::regex("(^|\n)Job [^\n]* failed")))
            << what << ": " << listed.out;
        // The earlier sessions are checked once the sweep is over: verify reads them all here.
        expectWholeSet(what);
    }
    void expectNextRunSucceeds() override {
        RunCrashTest::expectNextRunSucceeds();
        recordSession("the next run");
    }
    void ranWithoutFault() override { recordSession("the run that met no fault"); }
    void SetUp() override {
        RunCrashTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        recordSession("the first run");
        writeGeneration(++generation);
        const test::CliResult second = cli({"run", "Job"});
        ASSERT_EQ(second.code, 0) << second.err;
        recordSession("the second run");
    }
};

TEST_F(IncrementalFaultTest, EachFailedCallAtTheDestinationFailsTheRunAndKeepsEverySession) {
    struct Kind {
        const char* variable;
        const char* error;
        const char* says;  // besides the file's name
        int atLeast;       // calls of the kind a run makes
    };
    // Each staged file, the journal, and (flush) the folder, (rename) each file put in place.
    for (const Kind& kind : {Kind{"KESTREL_FAULT_FAIL_WRITE", "EIO", "Input/output error", 7},
                             Kind{"KESTREL_FAULT_FAIL_FSYNC", "EIO", "", 6},
                             Kind{"KESTREL_FAULT_FAIL_RENAME", "EACCES", "Permission denied", 7},
                             Kind{"KESTREL_FAULT_FAIL_OPEN", "EACCES", "Permission denied", 4}}) {
        const auto failed = [&](const std::string& what, const test::ProgramResult& r) {
            expectFailedCleanly(what, r);
            EXPECT_NE(r.err.find(kind.says), std::string::npos) << what << r.err;
            // A failed write is not blamed on the file read.
            EXPECT_TRUE(std::string_view(kind.variable) != "KESTREL_FAULT_FAIL_WRITE" ||
                        r.err.find("cannot read") == std::string::npos)
                << what << r.err;
        };
        EXPECT_GE(runWithEachFault(kind.variable, failed, {{"KESTREL_FAULT_ERRNO", kind.error}}),
                  kind.atLeast);
        expectEverySessionWhole(std::string("after the sweep of ") + kind.variable);
    }
}

TEST_F(IncrementalFaultTest, APreviousCatalogueThatCannotBeCopiedFailsTheRunAndKeepsEverySession) {
    // Backing up in full instead would replace the catalogue and lose every earlier session.
    for (const std::string kind : {"KESTREL_FAULT_FAIL_OPEN", "KESTREL_FAULT_FAIL_WRITE"}) {
        SCOPED_TRACE(kind);
        writeGeneration(++generation);
        const test::ProgramResult r = test::runProgram(
            test::withFaults(cliArgs({"run", "Job"}), {{"KESTREL_FAULT_MATCH", dest() + "/.Job."},
                                                       {kind, "1"},
                                                       {"KESTREL_FAULT_ERRNO", "EIO"}}));
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_NE(r.err.find("Can't download fs file to perform incremental backup"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("Job.fs"), std::string::npos) << r.err;
        expectEverySessionWhole(kind);
        expectNextRunSucceeds();
    }
    EXPECT_EQ(sessions.size(), 4u);
}

TEST_F(IncrementalFaultTest, EachFailedCallOfARestoreFailsItAndLeavesNoHalfFile) {
    const std::string to = data.file("restored");
    const Files expected = below(to, sourceTree(generation));
    const std::vector<std::string> restore = {"restore", "Job", data.file("src"), "--to", to};
    struct Kind {
        std::string variable;
        std::string error;
        std::string later;  // "+": the Nth call and every later one fail
        int atLeast;        // calls of the kind a restore makes
    };
    // A full disk stays full; the other faults strike once.
    for (const Kind& kind : {Kind{"KESTREL_FAULT_FAIL_WRITE", "ENOSPC", "+", 3},
                             Kind{"KESTREL_FAULT_FAIL_FSYNC", "EIO", "", 1},
                             Kind{"KESTREL_FAULT_FAIL_RENAME", "EACCES", "", 3},
                             Kind{"KESTREL_FAULT_FAIL_OPEN", "EACCES", "", 3}}) {
        int faulted = 0;
        for (int nth = 1; nth <= 100; ++nth) {
            const std::string what = kind.variable + " " + std::to_string(nth) + kind.later;
            std::filesystem::remove_all(to);
            const test::ProgramResult r =
                runFaulted(restore, to,
                           {{kind.variable, std::to_string(nth) + kind.later},
                            {"KESTREL_FAULT_ERRNO", kind.error}});
            if (!fault) {
                EXPECT_EQ(r.code, 0) << what << ", met no fault: " << r.err;
                EXPECT_EQ(test::filesBelow(to), expected) << what;
                break;
            }
            ++faulted;
            EXPECT_EQ(r.code, 1) << what << ": " << r.err;
            EXPECT_TRUE(namesFile(r.err, stemOf(fault->path)))
                << what << ": no line names " << fault->path << "\n"
                << r.err;
            // What lies under a file's own name is all of it; no temporary name is left.
            for (const auto& [path, content] : test::filesBelow(to)) {
                EXPECT_TRUE(expected.count(path) == 1 && expected.at(path) == content)
                    << what << ": " << path;
            }
            std::vector<std::string> again = restore;
            again.push_back("--overwrite");
            const test::CliResult redone = cli(again);
            EXPECT_EQ(redone.code, 0) << what << ": " << redone.err;
            EXPECT_EQ(test::filesBelow(to), expected) << what;
        }
        EXPECT_GE(faulted, kind.atLeast) << kind.variable;
    }
}

// The incremental archive and a plain copy of it, killed at seeded writes and renames.
class KillAnywhereTest : public IncrementalFaultTest {
protected:
    int copied = 0;  // the generation the copies job copied last
    std::string copies() const { return data.file("copies"); }
    // The copies of a generation, each below the copies folder under its source path.
    Files copiesOf(int gen) const { return below(copies(), sourceTree(gen)); }
    void SetUp() override {
        IncrementalFaultTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        std::filesystem::create_directories(copies());
        const test::CliResult made = cli({"new", "--name", "Copies", "--source", data.file("src"),
                                          "--dest", copies(), "--storage", "copy"});
        ASSERT_EQ(made.code, 0) << made.err;
        const test::CliResult first = cli({"run", "Copies"});
        ASSERT_EQ(first.code, 0) << first.err;
    }
};

TEST_F(KillAnywhereTest, KilledAtTwentySeededMomentsEachJobKeepsWhatItStored) {
    const std::vector<std::string> jobs = {"Job", "Copies"};
    // The calls are counted over the whole process (log, store, temporary folder, destination).
    const std::string counted = shim.file("counts");
    std::map<std::string, long> calls;
    for (const std::string& job : jobs) {
        writeGeneration(++generation);
        const test::ProgramResult r =
            runFaulted({"run", job}, "", {{"KESTREL_FAULT_COUNT_FILE", counted}});
        ASSERT_EQ(r.code, 0) << job << ": " << r.err;
        std::map<std::string, long> counts = test::readFaultCounts(counted);
        calls[job] = counts["write"] + counts["rename"];
        ASSERT_GT(calls[job], 10) << job;
        if (job == "Job") {
            recordSession("the counted run");
        }
    }
    // The copies job copies the whole tree, the archive job only what changed since its run.
    writeGeneration(++generation);
    ASSERT_EQ(cli({"run", "Copies"}).code, 0);
    ASSERT_EQ(test::filesBelow(copies()), copiesOf(generation));
    copied = generation;
    ASSERT_EQ(cli({"run", "Job"}).code, 0);
    recordSession("before the kills");
    int stored = generation;  // the generation the archive job stored last

    std::mt19937 rng(20240611);
    int killed = 0;
    for (int i = 0; i < 20; ++i) {
        const std::string& job = jobs[static_cast<size_t>(i % 2)];
        const long nth = 1 + static_cast<long>(rng() % static_cast<unsigned long>(calls[job]));
        const std::string what = job + " killed at write or rename " + std::to_string(nth);
        writeGeneration(++generation);
        const test::ProgramResult r =
            runFaulted({"run", job}, "", {{"KESTREL_FAULT_KILL_AT_CHANGE", std::to_string(nth)}});
        if (fault) {
            ++killed;
            EXPECT_EQ(r.code, 128 + SIGKILL) << what << ": " << r.err;
        } else {
            EXPECT_EQ(r.code, 0) << what << ", not reached: " << r.err;
        }
        const test::CliResult listed = cli({"list"});
        EXPECT_EQ(listed.code, 0) << what << ": " << listed.err;
        EXPECT_NE(listed.out.find("Job "), std::string::npos) << what << listed.out;
        EXPECT_NE(listed.out.find("Copies "), std::string::npos) << what << listed.out;
        if (job == "Job") {
            expectWholeSet(what, stored);
            expectNextRunSucceeds();
            stored = generation;
            continue;
        }
        // A copy under its own name is the previous one or the killed run's.
        const Files before = copiesOf(copied);
        const Files now = copiesOf(generation);
        for (const auto& [path, content] : test::filesBelow(copies())) {
            const auto is = [&](const Files& f) { return f.count(path) && f.at(path) == content; };
            EXPECT_TRUE(stemOf(path) != path || is(before) || is(now)) << what << ": " << path;
        }
        const test::CliResult next = cli({"run", "Copies"});
        EXPECT_EQ(next.code, 0) << what << ": " << next.err;
        EXPECT_EQ(test::filesBelow(copies()), copiesOf(generation)) << what;
        copied = generation;
    }
    // Most moments fall inside the run: it makes about as many calls as the counted one.
    EXPECT_GE(killed, 15);
    expectEverySessionWhole("after the sweep");
}

}  // namespace
}  // namespace kestrel
