// kestrel-cli killed while it replaces the job store or a backup set, or finding the disk full
// there: what the other commands read stays whole, and the next run succeeds.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>

#include "support/faults.h"
#include "support/program.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

class CrashTest : public ::testing::Test {
protected:
    test::TestContext t;
    test::TempDir data;

    std::vector<std::string> cliArgs(std::vector<std::string> args) const {
        args.insert(args.begin(), {test::cliPath(), "--home", t.home()});
        return args;
    }
    test::ProgramResult cli(std::vector<std::string> args) const {
        return test::runProgram(cliArgs(std::move(args)));
    }
    std::vector<std::string> newJob(const std::string& name) const {
        return {"new",    "--name",          name,        "--source", data.file("src"),
                "--dest", data.file("dest"), "--storage", "copy"};
    }
    // The store's leftovers in the program folder: names starting with prefix.
    std::vector<std::string> filesStarting(const std::string& prefix) const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(t.home())) {
            const std::string name = e.path().filename().string();
            if (name.rfind(prefix, 0) == 0) {
                names.push_back(name);
            }
        }
        return names;
    }
    void SetUp() override {
        data.write("src/a.txt", "alpha");
        std::filesystem::create_directories(data.file("dest"));
        const test::ProgramResult first = cli(newJob("First"));
        ASSERT_EQ(first.code, 0) << first.err;
    }
};

TEST_F(CrashTest, AKillWhileTheStoreIsReplacedLeavesTheStoreWhole) {
    // The first rename puts the previous store in backups.ini.bak, the second the new store.
    for (const std::string nth : {"1", "2"}) {
        SCOPED_TRACE("killed at rename " + nth);
        const std::string store = test::readAll(t.ctx->storePath());
        const test::ProgramResult killed = test::runProgram(test::withFaults(
            cliArgs(newJob("Killed")),
            {{"KESTREL_FAULT_MATCH", "backups.ini"}, {"KESTREL_FAULT_KILL_AT_RENAME", nth}}));
        EXPECT_EQ(killed.code, 128 + SIGKILL) << killed.err;

        // Killed just before the rename: its fully written temporary file is left behind.
        const std::string leftover = nth == "1" ? "backups.ini.bak.tmp-" : "backups.ini.tmp-";
        const std::vector<std::string> left = filesStarting(leftover);
        ASSERT_EQ(left.size(), 1u);
        EXPECT_NE(test::readAll(t.home() + "/" + left[0]).find("First"), std::string::npos);
        std::filesystem::remove(t.home() + "/" + left[0]);

        EXPECT_EQ(test::readAll(t.ctx->storePath()), store);
        const test::ProgramResult listed = cli({"list"});
        EXPECT_EQ(listed.code, 0) << listed.err;
        EXPECT_NE(listed.out.find("First"), std::string::npos) << listed.out;
        EXPECT_EQ(listed.out.find("Killed"), std::string::npos) << listed.out;
        EXPECT_TRUE(filesStarting("backups.ini.damaged").empty());
    }
    // The dead process's lock went with it.
    const test::ProgramResult again = cli(newJob("Killed"));
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_NE(cli({"list"}).out.find("Killed"), std::string::npos);
}

TEST_F(CrashTest, AFullDiskWhileTheStoreIsWrittenFailsAndKeepsThePreviousStore) {
    const std::string store = test::readAll(t.ctx->storePath());
    const test::ProgramResult full = test::runProgram(test::withFaults(
        cliArgs(newJob("Overflow")),
        {{"KESTREL_FAULT_MATCH", "backups.ini"}, {"KESTREL_FAULT_ENOSPC_AT_WRITE", "1"}}));
    EXPECT_NE(full.code, 0);
    EXPECT_NE(full.err.find("Cannot write the job store"), std::string::npos) << full.err;
    // The store's file got the failure, not some other file.
    const std::string log = t.logFile();
    EXPECT_NE(log.find("cannot write " + t.ctx->storePath() + ".tmp-"), std::string::npos) << log;
    EXPECT_NE(log.find("No space left on device"), std::string::npos) << log;

    EXPECT_EQ(test::readAll(t.ctx->storePath()), store);
    EXPECT_TRUE(filesStarting("backups.ini.tmp-").empty());
    EXPECT_TRUE(filesStarting("backups.ini.bak.tmp-").empty());
    const test::ProgramResult listed = cli({"list"});
    EXPECT_EQ(listed.code, 0) << listed.err;
    EXPECT_NE(listed.out.find("First"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("Overflow"), std::string::npos) << listed.out;
}

// An archive job split into volumes at a local destination, killed or starved at each rename
// and write its run makes there.
class RunCrashTest : public ::testing::Test {
protected:
    test::TempDir home;
    test::TempDir data;
    int generation = 0;

    std::vector<std::string> cliArgs(std::vector<std::string> args) const {
        args.insert(args.begin(), {test::cliPath(), "--home", home.path()});
        return args;
    }
    test::ProgramResult cli(std::vector<std::string> args) const {
        return test::runProgram(cliArgs(std::move(args)));
    }
    std::string dest() const { return data.file("dest"); }

    // Files whose content names the generation, so that a restore shows which set it came from.
    std::map<std::string, std::string> contentOf(int gen) const {
        std::map<std::string, std::string> files;
        for (int i = 0; i < 3; ++i) {
            files["f" + std::to_string(i) + ".bin"] =
                std::string(9000 + 4000 * i, static_cast<char>('a' + (gen + i) % 26)) +
                "generation " + std::to_string(gen);
        }
        return files;
    }
    void writeGeneration(int gen) {
        for (const auto& [name, content] : contentOf(gen)) {
            data.write("src/" + name, content);
        }
    }
    // Restores everything to a fresh folder: which generation came back (-1 when a mix or
    // nothing).
    int restoredGeneration(const std::string& to) {
        const test::ProgramResult r = cli({"restore", "Job", data.file("src"), "--to", to});
        if (r.code != 0) {
            ADD_FAILURE() << "restore: " << r.err;
            return -1;
        }
        for (int gen : {generation - 1, generation}) {
            bool all = true;
            for (const auto& [name, content] : contentOf(gen)) {
                const std::string path = to + data.file("src/" + name);
                all = all && std::filesystem::exists(path) && test::readAll(path) == content;
            }
            if (all) {
                return gen;
            }
        }
        return -1;
    }
    // What a user does after a crash: the job is listed, its set verifies and restores whole.
    void expectWholeSet(const std::string& what) {
        SCOPED_TRACE(what);
        const test::ProgramResult listed = cli({"list"});
        EXPECT_EQ(listed.code, 0) << listed.err;
        EXPECT_NE(listed.out.find("Job"), std::string::npos);
        // The restore completes a switch the killed run left; verify then sees one set.
        const int gen = restoredGeneration(data.file("out" + what));
        EXPECT_NE(gen, -1) << "neither the old nor the new set came back";
        const test::ProgramResult verified = cli({"verify", dest() + "/Job.fs"});
        EXPECT_EQ(verified.code, 0) << verified.out;
        std::filesystem::remove_all(data.file("out" + what));
    }
    // The next run without faults succeeds and stores the current generation.
    void expectNextRunSucceeds() {
        const test::ProgramResult r = cli({"run", "Job"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(restoredGeneration(data.file("after")), generation);
        std::filesystem::remove_all(data.file("after"));
        for (const auto& e : std::filesystem::directory_iterator(dest())) {
            const std::string name = e.path().filename().string();
            EXPECT_EQ(name.find(".kestrel-new"), std::string::npos) << name;
            EXPECT_EQ(name.find(".part-"), std::string::npos) << name;
            EXPECT_EQ(name.find(".switch"), std::string::npos) << name;
        }
    }
    // Runs the job with faults at the Nth counted call for N = 1, 2, ... until a run no longer
    // reaches it; check() looks at each outcome. Returns how many runs met the fault.
    template <class Check>
    int runWithEachFault(const std::string& variable, const std::string& match, Check check) {
        int faulted = 0;
        for (int nth = 1; nth <= 200; ++nth) {
            writeGeneration(++generation);
            const test::ProgramResult r = test::runProgram(test::withFaults(
                cliArgs({"run", "Job"}),
                {{"KESTREL_FAULT_MATCH", match}, {variable, std::to_string(nth)}}));
            if (r.code == 0) {
                break;
            }
            ++faulted;
            check(variable + " " + std::to_string(nth), r);
            expectNextRunSucceeds();
        }
        return faulted;
    }

    void SetUp() override {
        std::filesystem::create_directories(dest());
        writeGeneration(generation);
        const test::ProgramResult made =
            cli({"new", "--name", "Job", "--source", data.file("src"), "--dest", dest(),
                 "--storage", "archive", "--split", "8K"});
        ASSERT_EQ(made.code, 0) << made.err;
        const test::ProgramResult first = cli({"run", "Job"});
        ASSERT_EQ(first.code, 0) << first.err;
    }
};

TEST_F(RunCrashTest, AKillAtEachRenameOrWriteAtTheDestinationLeavesOneWholeSet) {
    const auto killed = [&](const std::string& what, const test::ProgramResult& r) {
        EXPECT_EQ(r.code, 128 + SIGKILL) << what << ": " << r.err;
        expectWholeSet(what);
    };
    // Volumes, checksum file and catalogue staged, the journal, and each of them put in place.
    EXPECT_GE(runWithEachFault("KESTREL_FAULT_KILL_AT_RENAME", dest(), killed), 6);
    EXPECT_GE(runWithEachFault("KESTREL_FAULT_KILL_AT_WRITE", dest(), killed), 6);
}

TEST_F(RunCrashTest, AFullDiskAtTheDestinationOrInTheTemporaryFolderFailsTheRunCleanly) {
    const auto failed = [&](const std::string& what, const test::ProgramResult& r) {
        EXPECT_EQ(r.code, 1) << what << ": " << r.err;
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << what << r.err;
        EXPECT_NE(cli({"list"}).out.find("failed"), std::string::npos) << what;
        // The old set is untouched: the failed run put nothing in place.
        EXPECT_EQ(restoredGeneration(data.file("out")), generation - 1) << what;
        std::filesystem::remove_all(data.file("out"));
        EXPECT_EQ(cli({"verify", dest() + "/Job.fs"}).code, 0) << what;
        EXPECT_TRUE(std::filesystem::is_empty(home.file("temp"))) << what;
    };
    EXPECT_GE(runWithEachFault("KESTREL_FAULT_ENOSPC_AT_WRITE", dest(), failed), 3);
    EXPECT_GE(runWithEachFault("KESTREL_FAULT_ENOSPC_AT_WRITE", home.file("temp"), failed), 3);
}

}  // namespace
}  // namespace kestrel
