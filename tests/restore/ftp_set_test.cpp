// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <map>

#include "engine/backup_run.h"
#include "engine/set_switch.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "restore/restore.h"
#include "restore/sessions.h"
#include "support/job_builder.h"
#include "support/memory_ftp_server.h"
#include "support/test_context.h"

namespace kestrel {
namespace {

using Faults = test::MemoryFtpServer::Faults;

// Archive runs against a misbehaving FTP server fail and keep earlier sessions restorable.
class FtpSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::makeDirs(t.ctx->paths.tempDir()));
        server.makeFolder("/b");
        options.ftp = makeFtpClient;
    }
    void makeJob(bool incremental) {
        job = test::JobBuilder("Remote")
                  .folder(src.file("tree"))
                  .ftp("127.0.0.1", server.port(), "u", "p", "/b")
                  .archive()
                  .compressed()
                  .incremental(incremental)
                  .split(16'000)
                  .build();
    }

    // A tree that fills more than one volume; generation tells the versions apart.
    std::map<std::string, std::string> writeTree(int generation) {
        std::map<std::string, std::string> files;
        for (int i = 0; i < 4; ++i) {
            const std::string content = test::noise(12'000, generation * 10 + i);
            files[src.write("tree/f" + std::to_string(i) + ".bin", content)] = content;
        }
        files[src.write("tree/gen.txt", "generation " + std::to_string(generation))] =
            "generation " + std::to_string(generation);
        t.clock.advanceSeconds(120);
        return files;
    }

    RunSummary run() { return BackupJob(*t.ctx, *job, job->sName, options); }

    // Every file of the newest session that holds it, as restored from the server, by path.
    std::map<std::string, std::string> restoreNewest(RestoreState* kept = nullptr) {
        RestoreState state;
        std::unique_ptr<FtpClient> session = options.ftp(t.ctx->control);
        session->SetupConnection("127.0.0.1", server.port(), "u", "p", true);
        EXPECT_TRUE(session->EstablishConnection());
        state.ftp = std::move(session);
        std::map<std::string, std::string> files;
        if (!LoadCatalogue(*t.ctx, *job, state)) {
            ADD_FAILURE() << "the catalogue could not be loaded";
            return files;
        }
        const std::vector<size_t> newest = recordsToRestore(state.records, {"/"}, std::nullopt);
        for (size_t i : newest) {
            state.tree.setChecked(
                state.tree.findPath(state.records[i].dSession, state.records[i].fname), true);
        }
        for (int node : extrasToRestore(state, {"/"}, std::nullopt)) {
            state.tree.setChecked(node, true);
        }
        test::TempDir out;
        const RestoreSummary r =
            RestoreSelectedFiles(*t.ctx, state, RestoreOptions{false, out.path(), true});
        EXPECT_EQ(r.failed, 0);
        for (size_t i : newest) {
            files[state.records[i].fname] = test::readAll(out.path() + state.records[i].fname);
        }
        if (kept != nullptr) {
            *kept = std::move(state);
        }
        return files;
    }

    // The server holds no file of a run that did not end.
    void expectNoLeftovers() {
        for (const auto& [path, content] : server.files()) {
            EXPECT_FALSE(text::endsWith(path, kStagedSuffix)) << path;
            EXPECT_NE(path, "/b/Remote.fs.switch");
        }
    }

    test::TestContext t{true};
    test::TempDir src;
    test::MemoryFtpServer server;
    RunOptions options;
    std::unique_ptr<clsBackup> job;
};

// A cut upload of any file of the set, or a refused rename, fails the run and leaves the last set.
TEST_F(FtpSetTest, ACutUploadOrARefusedRenameLeavesThePreviousSet) {
    struct Case {
        const char* what;
        bool incremental;
        Faults faults;
    };
    const auto cut = [](const char* name, size_t after, bool says226) {
        return Faults{.cutStor = name, .cutStorAfter = after, .cutStorSays226 = says226};
    };
    const Faults refuse{.refuseRename = true};
    const std::vector<Case> cases = {
        {"full: the first volume cut, 426", false, cut("Remote.uxarc", 1000, false)},
        {"full: the second volume cut, 226", false, cut("Remote-001.uxarc", 1000, true)},
        {"full: the catalogue cut", false, cut("Remote.fs.kestrel", 100, true)},
        {"full: the checksum file cut", false, cut("Remote.fs.sums", 100, false)},
        {"full: the journal cut", false, cut("Remote.fs.switch", 10, true)},
        {"full: no rename", false, refuse},
        {"incremental: a volume cut", true, cut(".uxarc", 1000, true)},
        {"incremental: the catalogue cut", true, cut("Remote.fs.kestrel", 100, false)},
        {"incremental: no rename", true, refuse},
    };
    std::map<std::string, std::string> stored;
    int generation = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!job || job->bIncremental != c.incremental) {
            for (const auto& [path, content] : server.files()) {
                server.remove(path);
            }
            makeJob(c.incremental);
            stored = writeTree(++generation);
            ASSERT_EQ(run().status, kStatusOk);
        }
        const auto before = server.files();
        const auto next = writeTree(++generation);
        server.setFaults(c.faults);
        const RunSummary r = run();
        server.setFaults({});
        EXPECT_EQ(r.status, kStatusFailed);
        EXPECT_EQ(r.stored, 0);
        expectNoLeftovers();
        // Byte for byte the set of the run before, which restores as it did.
        EXPECT_EQ(server.files(), before);
        if (&c == &cases.front() || &c == &cases.back()) {
            EXPECT_EQ(restoreNewest(), stored);
        }
        ASSERT_EQ(run().status, kStatusOk);
        expectNoLeftovers();
        stored = next;
    }
    EXPECT_EQ(restoreNewest(), stored);
    EXPECT_TRUE(t.loggedContaining("the server refuses to rename files (RNFR/RNTO)"));
}

// A catalogue cut short fails the run; one refused outright is kept beside a new one.
TEST_F(FtpSetTest, ACatalogueThatCannotBeFetchedIsNeverOverwritten) {
    makeJob(true);
    const auto first = writeTree(1);
    ASSERT_EQ(run().status, kStatusOk);
    const auto before = server.files();

    server.setFaults(Faults{.shortRetr = "Remote.fs", .shortRetrBytes = 100});
    const auto second = writeTree(2);
    EXPECT_EQ(run().status, kStatusFailed);
    EXPECT_TRUE(t.loggedContaining("FAIL: Download of /b/Remote.fs ended after 100 of"));
    EXPECT_EQ(server.files(), before);

    server.setFaults(Faults{.refuseRetr = "/b/Remote.fs"});
    const RunSummary r = run();
    server.setFaults({});
    EXPECT_EQ(r.status, kStatusFailed);
    EXPECT_EQ(r.stored, r.total);
    const std::string kept = keptCatalogueName("Remote", t.clock.now());
    auto after = server.files();
    EXPECT_EQ(after["/b/" + kept], before.at("/b/Remote.fs"));
    EXPECT_EQ(after["/b/" + kept + ".sums"], before.at("/b/Remote.fs.sums"));
    EXPECT_TRUE(t.loggedContaining("are kept in /b/" + kept));
    for (const auto& [path, content] : before) {
        if (text::endsWith(path, ".uxarc")) {
            EXPECT_EQ(after[path], content) << path;
        }
    }
    // Both catalogues are listed: the new session's files, and the first one's beneath.
    RestoreState state;
    EXPECT_EQ(restoreNewest(&state), second);
    ASSERT_EQ(state.sources.size(), 2u);
    EXPECT_EQ(state.sources[0].file, kept);
    EXPECT_EQ(state.tree.sessions().size(), 2u);
    // And the next run goes on from the new catalogue.
    writeTree(3);
    EXPECT_EQ(run().status, kStatusOk);
}

// Abort during an upload stops the run at once, removes the partial file and keeps the set.
TEST_F(FtpSetTest, AbortDuringAnUploadKeepsTheSetAndLeavesNothing) {
    makeJob(false);
    const auto first = writeTree(1);
    ASSERT_EQ(run().status, kStatusOk);
    const auto before = server.files();
    writeTree(2);
    t.host.onYield = [&] {
        if (server.count("STOR /b/Remote-001.uxarc") > 1) {
            t.ctx->flags.bAbortBackup = true;
        }
    };
    const RunSummary r = run();
    t.host.onYield = nullptr;
    EXPECT_EQ(r.status, kStatusAborted);
    expectNoLeftovers();
    EXPECT_EQ(server.files(), before);
    EXPECT_EQ(restoreNewest(), first);
}

}  // namespace
}  // namespace kestrel
