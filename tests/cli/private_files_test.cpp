// SPDX-License-Identifier: GPL-3.0-or-later
// No other user of the machine reads what a backup writes, plaintext or set.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <sstream>

#include "cli/run_cli.h"
#include "platform/fs.h"
#include "runner/run_lock.h"
#include "support/memory_ftp_server.h"
#include "support/process_state.h"

namespace kestrel {
namespace {

using test::modeOf;

class PrivateFilesTest : public test::CliFixture<> {
protected:
    test::TempDir notes;  // what the stand-in tool saw, outside every folder it looks at
    const test::ScopedUmask openUmask;  // for the programs it starts too

    // A job over data/src; a local destination is made first, open to all.
    void makeJob(std::vector<std::string> args, const std::string& dest = "") {
        if (!dest.empty()) {
            std::filesystem::create_directories(dest);
            args.insert(args.end(), {"--dest", dest});
        }
        args.insert(args.begin(), {"new", "--source", data.file("src")});
        const test::CliResult made = cli(args);
        ASSERT_EQ(made.code, 0) << made.err;
    }

    // Stands in for bin/bfish: notes its input's and folder's modes, then copies or kills.
    void useTool(bool killing) {
        const std::string tool =
            "#!/bin/sh\n"
            "unset LD_PRELOAD\n"
            "for a in \"$@\"; do case \"$a\" in\n"
            "  /i:*) in=${a#/i:}; in=${in#\\\"}; in=${in%\\\"} ;;\n"
            "  /o:*) out=${a#/o:}; out=${out#\\\"}; out=${out%\\\"} ;;\n"
            "esac; done\n"
            "stat -c '%a %n' \"$in\" \"$(dirname \"$in\")\" >> '" +
            notes.file("seen") + "'\n" + (killing ? "kill -9 $PPID\n" : "cp \"$in\" \"$out\"\n");
        std::filesystem::permissions(home.write("bin/bfish", tool),
                                     std::filesystem::perms::owner_all);
    }
    // The tool's inputs and their folders, with their modes.
    std::map<std::string, int> toolSaw() const {
        std::map<std::string, int> seen;
        std::istringstream lines(test::readAll(notes.file("seen")));
        std::string mode;
        std::string path;
        while (lines >> mode && std::getline(lines >> std::ws, path)) {
            seen[path] = std::stoi(mode, nullptr, 8);
        }
        return seen;
    }
};

TEST_F(PrivateFilesTest, NothingARunOrARestoreWritesIsOpenToOtherUsers) {
    data.write("src/notes.txt", "shared notes");
    std::filesystem::permissions(data.write("src/run.sh", "#!/bin/sh\n"),
                                 std::filesystem::perms(0755));
    std::filesystem::permissions(data.write("src/secret/key", "private key"),
                                 std::filesystem::perms(0600));
    useTool(false);
    test::MemoryFtpServer server;
    server.makeFolder("/b");
    makeJob({"--name", "Vault", "--storage", "archive", "--password", "pw"}, data.file("vault"));
    makeJob({"--name", "Mirror", "--storage", "copy"}, data.file("mirror"));
    makeJob({"--name", "Sealed", "--storage", "copy", "--password", "pw"}, data.file("sealed"));
    makeJob({"--name", "Remote", "--ftp", "127.0.0.1", "--ftp-port", std::to_string(server.port()),
             "--ftp-user", "u", "--ftp-password", "p", "--dest", "/b", "--storage", "compressed",
             "--type", "incremental", "--password", "pw"});
    // The second run of Remote downloads its catalogue into temp/ and decrypts it there.
    for (const char* job : {"Vault", "Mirror", "Sealed", "Remote", "Remote"}) {
        clock.advanceSeconds(120);
        const test::CliResult ran = cli({"run", job});
        ASSERT_EQ(ran.code, 0) << job << "\n" << ran.err;
    }
    // Reading the sessions decrypts the catalogue in a scratch folder.
    const test::CliResult sessions = cli({"sessions", "Vault"});
    ASSERT_EQ(sessions.code, 0) << sessions.err;

    const std::map<std::string, int> seen = toolSaw();
    // The tool's input below a folder named prefix + something.
    auto inputBelow = [&](const std::string& prefix) {
        for (const auto& [path, mode] : seen) {
            if (path.rfind(prefix, 0) == 0 && path.ends_with(".ue")) {
                return path;
            }
        }
        return "no input below " + prefix;
    };
    const std::string temp = home.file("temp");
    const std::string build = data.file("vault/.Vault.kestrel-build");
    const std::string mirrored = data.file("mirror") + data.file("src");
    const struct {
        const char* what;
        std::string path;
        int mode;
    } expected[] = {
        {"program folder", home.path(), 0700},
        {"temporary folder", temp, 0700},
        {"log folder", home.file("logs"), 0700},
        {"log", home.file("logs/kestrel.log"), 0600},
        {"build folder", build, 0700},
        {"volume being encrypted", build + "/Vault.uxarc.ue", 0600},
        {"catalogue being encrypted", build + "/Vault.fs.ue", 0600},
        {"checksum file being encrypted", build + "/Vault.fs.sums.ue", 0600},
        {"volume", data.file("vault/Vault.uxarc"), 0600},
        {"catalogue", data.file("vault/Vault.fs"), 0600},
        {"checksum file", data.file("vault/Vault.fs.sums"), 0600},
        {"scratch folder of a restore", fs::parentOf(inputBelow(temp + "/scratch-")), 0700},
        {"catalogue decrypted for a restore", inputBelow(temp + "/scratch-"), 0600},
        {"catalogue downloaded into temp", temp + "/Remote.fs.ue", 0600},
        {"folder of encrypted plain copies", temp + "/encrypt", 0700},
        {"plain copy being encrypted", temp + "/encrypt/notes.txt.ue", 0600},
        {"encrypted plain copy", data.file("sealed") + data.file("src/notes.txt"), 0600},
        {"plain copy's folder", mirrored, 0700},
        {"plain copy of a shared file", mirrored + "/notes.txt", 0600},
        {"plain copy of an executable", mirrored + "/run.sh", 0700},
        {"plain copy of a private file", mirrored + "/secret/key", 0600},
    };
    for (const auto& e : expected) {
        const auto it = seen.find(e.path);
        EXPECT_EQ(it != seen.end() ? it->second : modeOf(e.path), e.mode)
            << e.what << ": " << e.path;
    }
    // Nothing of a run is left in its working folders.
    EXPECT_FALSE(std::filesystem::exists(build));
    EXPECT_FALSE(std::filesystem::exists(temp + "/encrypt"));
}

// What a killed run left is private, and goes with the next command unless a run holds the lock.
TEST_F(PrivateFilesTest, AKilledRunsPlaintextIsPrivateAndTheNextCommandRemovesIt) {
    struct Case {
        const char* what;
        bool protectedJob;
        bool toolKills;
        std::vector<std::pair<std::string, std::string>> faults;
        std::vector<std::string> left;  // names in the destination besides the build folder
    };
    const std::vector<Case> cases = {
        {"a volume cut short",
         false,
         false,
         {{"KESTREL_FAULT_MATCH", ".kestrel-build/Job.uxarc"},
          {"KESTREL_FAULT_KILL_AT_WRITE", "2"}},
         {}},
        {"killed while the tool encrypts", true, true, {}, {}},
        {"killed while staging",
         true,
         false,
         {{"KESTREL_FAULT_MATCH", ".kestrel-new"}, {"KESTREL_FAULT_KILL_AT_RENAME", "2"}},
         {"Job.uxarc.kestrel-new"}},
    };
    // More than the volume's writer collects before it writes.
    data.write("src/a.txt", std::string(3'000'000, 'a'));
    data.write("src/b.txt", "secret");
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dest = data.file("dest" + std::to_string(++n));
        std::filesystem::remove(notes.file("seen"));
        useTool(c.toolKills);
        std::vector<std::string> job = {"--name", "Job", "--storage", "archive"};
        if (c.protectedJob) {
            job.insert(job.end(), {"--password", "pw"});
        }
        cli({"delete", "Job", "--password", "pw"});
        makeJob(job, dest);

        const std::vector<std::string> run = cliArgs({"run", "Job"});
        const test::ProgramResult killed =
            test::runProgram(c.faults.empty() ? run : test::withFaults(run, c.faults));
        ASSERT_EQ(killed.code, 128 + SIGKILL) << killed.err;

        const std::string build = dest + "/.Job.kestrel-build";
        ASSERT_EQ(modeOf(build), 0700);
        size_t plaintext = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dest)) {
            const std::string path = e.path().string();
            EXPECT_EQ(modeOf(path) & 077, 0) << path;
            plaintext += path.rfind(build + "/", 0) == 0 && e.is_regular_file() ? 1 : 0;
        }
        EXPECT_GE(plaintext, 1u);
        for (const std::string& name : c.left) {
            EXPECT_EQ(modeOf(dest + "/" + name), 0600) << name;
        }

        {
            // A backup running in another process owns its build folder.
            RunLock running(home.file("run.lock"));
            ASSERT_EQ(running.acquire("Job", nullptr), RunLock::Result::Acquired);
            ASSERT_EQ(cli({"list"}).code, 0);
            EXPECT_TRUE(std::filesystem::exists(build));
        }
        const test::CliResult listed = cli({"list"});
        ASSERT_EQ(listed.code, 0) << listed.err;
        EXPECT_FALSE(std::filesystem::exists(build));
        for (const std::string& name : c.left) {
            EXPECT_FALSE(std::filesystem::exists(dest + "/" + name)) << name;
        }
    }
}

}  // namespace
}  // namespace kestrel
