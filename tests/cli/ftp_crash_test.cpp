// SPDX-License-Identifier: GPL-3.0-or-later
// kestrel-cli killed at each FTP upload, rename and removal, and inside uploads, on real servers.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#include "cli/run_cli.h"
#include "support/server_process.h"

namespace kestrel {
namespace {

enum class Server { Pyftpdlib, Vsftpd };

struct Case {
    Server server;
    bool incremental;
};

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return std::string(info.param.server == Server::Pyftpdlib ? "Pyftpdlib" : "Vsftpd") +
           (info.param.incremental ? "Incremental" : "Full");
}

// File contents by name: below the source folder, or in the server's folder.
using Files = std::map<std::string, std::string>;

// Killed before each counted command and, for an upload, 200 bytes into its data.
class FtpKillSweepTest : public test::CliFixture<SystemClock, ::testing::TestWithParam<Case>> {
protected:
    test::TempDir shim;  // the shim's report
    std::unique_ptr<test::FtpServerProgram> server;
    std::string remote;  // the job's folder on the server
    std::string served;  // the same folder on this machine
    std::string firstSession;
    Files firstSet;            // the server's folder after the first run
    size_t secondSetSize = 0;  // its number of files after a second run
    bool incremental = false;

    // In 4K volumes: the first set fills three, a full second set or a second session two.
    static Files generation(int gen) {
        return {{"a.bin", test::noise(gen == 1 ? 9000 : 4500, gen)},
                {"b.txt", test::noise(300, 100 + gen)},
                {"sub/c.bin", test::noise(2500, 200)}};
    }
    void writeGeneration(int gen) {
        for (const auto& [name, content] : generation(gen)) {
            data.write("src/" + name, content);
        }
    }

    void putServerFiles(const Files& files) {
        for (const auto& [name, content] : test::filesBelow(served, true)) {
            std::filesystem::remove(served + "/" + name);
        }
        for (const auto& [name, content] : files) {
            std::ofstream(served + "/" + name, std::ios::binary) << content;
        }
    }

    // What a restore of the source folder brings back (one session, or per file the newest).
    Files restored(const std::string& what, const std::string& session = "") {
        const std::string to = data.file("out");
        std::filesystem::remove_all(to);
        std::vector<std::string> args = {"restore", "Job", data.file("src"), "--to", to};
        if (!session.empty()) {
            args.insert(args.end(), {"--session", session});
        }
        const test::CliResult r = cli(args);
        EXPECT_EQ(r.code, 0) << what << ": restore " << session << ": " << r.err;
        return test::filesBelow(to + data.file("src"), true);
    }

    // Generation gen restores whole; firstToo: an incremental job's first session too.
    void expectRestores(const std::string& what, int gen, bool firstToo) {
        EXPECT_EQ(restored(what), generation(gen)) << what << ": generation " << gen;
        if (incremental && gen != 1 && firstToo) {
            EXPECT_EQ(restored(what, firstSession), generation(1)) << what << ": first session";
        }
    }

    // A run without faults stores generation 2 and leaves no staged file, journal or old volume.
    void expectRunSucceeds(const std::string& what, int code, const std::string& err,
                           bool firstToo) {
        EXPECT_EQ(code, 0) << what << ": " << err;
        const Files files = test::filesBelow(served, true);
        for (const auto& [name, content] : files) {
            EXPECT_EQ(name.find(".kestrel-new"), std::string::npos) << what << ": " << name;
            EXPECT_NE(name, "Job.fs.switch") << what;
        }
        EXPECT_EQ(files.size(), secondSetSize) << what;
        expectRestores(what, 2, firstToo);
    }

    // Runs the job killed where env says; the fault made, none when the run never met it.
    std::optional<test::ShimFault> runKilled(std::vector<std::pair<std::string, std::string>> env,
                                             const std::string& what,
                                             const std::string& match = "") {
        env.emplace_back("KESTREL_FAULT_MATCH", match);
        std::optional<test::ShimFault> fault;
        const test::ProgramResult r =
            test::runFaulted(cliArgs({"run", "Job"}), env, shim.file("report"), fault);
        if (!fault) {
            expectRunSucceeds(what + ", met no fault", r.code, r.err, true);
        } else {
            EXPECT_EQ(r.code, 128 + SIGKILL) << what << ": " << r.err;
        }
        return fault;
    }

    // After a kill: the old set is untouched until switched, one set restores, the next run works.
    void expectRecovered(const std::string& what, const Files& before, bool switched) {
        SCOPED_TRACE(what);
        const Files killed = test::filesBelow(served, true);
        if (!switched) {
            for (const auto& [name, content] : before) {
                EXPECT_TRUE(killed.count(name) == 1 && killed.at(name) == content)
                    << what << ": " << name;
            }
        }
        expectRestores(what, switched ? 2 : 1, false);
        putServerFiles(killed);
        const test::CliResult next = cli({"run", "Job"});
        // The first session by itself is restored once a sweep is over, not after every kill.
        expectRunSucceeds(what + ", the next run", next.code, next.err, false);
    }

    void SetUp() override {
        const Case c = GetParam();
        const bool py = c.server == Server::Pyftpdlib;
        server = py ? std::unique_ptr<test::FtpServerProgram>(std::make_unique<test::PyFtpServer>())
                    : std::make_unique<test::VsFtpServer>();
        if (!server->unavailable().empty()) {
            GTEST_SKIP() << server->unavailable();
        }
        remote = py ? "/backups" : "/upload";
        served = server->local(remote.substr(1));
        std::filesystem::create_directories(served);
        incremental = c.incremental;
        writeGeneration(1);
        std::vector<std::string> made = {"new",    "--name", "Job",   "--source", data.file("src"),
                                         "--dest", remote,   "--ftp", "127.0.0.1"};
        made.insert(made.end(), {"--ftp-port", std::to_string(server->port()), "--ftp-user",
                                 py ? "user" : "anonymous", "--ftp-password", py ? "secret" : "",
                                 "--storage", "compressed"});
        made.insert(made.end(), {"--split", "4K", "--type", incremental ? "incremental" : "full"});
        ASSERT_EQ(cli(made).code, 0);
        const test::CliResult first = cli({"run", "Job"});
        ASSERT_EQ(first.code, 0) << first.err;
        const test::CliResult listed = cli({"sessions", "Job"});
        ASSERT_EQ(listed.code, 0) << listed.err;
        const std::vector<std::string> stamps = test::sessionStamps(listed.out);
        ASSERT_FALSE(stamps.empty()) << listed.out;
        firstSession = stamps.front();
        firstSet = test::filesBelow(served, true);
        writeGeneration(2);
        const test::CliResult second = cli({"run", "Job"});
        ASSERT_EQ(second.code, 0) << second.err;
        secondSetSize = test::filesBelow(served, true).size();
        putServerFiles(firstSet);
    }
};

TEST_P(FtpKillSweepTest, AKillAtEachUploadRenameOrRemovalLeavesOneWholeSet) {
    const Files& before = firstSet;  // each faulted run begins there, the source changed
    // Three volumes, the checksum file, the facts file, the catalogue.
    ASSERT_EQ(before.size(), 6u);
    const std::string journalPlaced = "RNTO " + remote + "/Job.fs.switch";
    bool switched = false;
    bool oldVolumeRemoved = false;
    int kills = 0;
    int cuts = 0;
    for (int nth = 1; nth <= 100; ++nth) {
        std::optional<test::ShimFault> fault;
        for (const bool cut : {false, true}) {
            putServerFiles(before);
            std::string what = std::string(cut ? "killed 200 bytes into" : "killed before") +
                               " FTP command " + std::to_string(nth);
            std::vector<std::pair<std::string, std::string>> env = {
                {"KESTREL_FAULT_KILL_AT_FTP", std::to_string(nth)}};
            if (cut) {
                env.emplace_back("KESTREL_FAULT_KILL_AT_FTP_DATA", "200");
            }
            fault = runKilled(env, what);
            if (!fault) {
                break;
            }
            cut ? ++cuts : ++kills;
            expectRecovered(what + " (" + fault->path + ")", before, switched);
            if (fault->path.rfind("stor ", 0) != 0) {
                break;
            }
        }
        if (!fault) {
            break;
        }
        switched = switched || fault->path == journalPlaced;
        oldVolumeRemoved = oldVolumeRemoved || fault->path == "DELE " + remote + "/Job-002.uxarc";
    }
    EXPECT_TRUE(switched);
    EXPECT_EQ(oldVolumeRemoved, !incremental);
    // The set's five files uploaded and renamed; the journal uploaded, renamed and removed.
    EXPECT_GE(kills, 3 * 5 + 4);
    EXPECT_GE(cuts, 5 + 1);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpKillSweepTest,
                         ::testing::Values(Case{Server::Pyftpdlib, false},
                                           Case{Server::Pyftpdlib, true},
                                           Case{Server::Vsftpd, false}, Case{Server::Vsftpd, true}),
                         caseName);

}  // namespace
}  // namespace kestrel
