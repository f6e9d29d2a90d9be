#include "engine/enumeration.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "support/test_context.h"

namespace kestrel {
namespace {

std::vector<std::string> names(const WorkingList& list) {
    std::vector<std::string> out;
    for (const clsDskFile& f : list) {
        out.push_back(f.filename);
    }
    return out;
}

TEST(Masks, IncludeExcludeAndReducedPatternsAsStoredJobsMeanThem) {
    using Names = std::vector<std::string>;
    const struct {
        const char* include;
        const char* exclude;
        Names names;
        Names kept;
    } cases[] = {
        // Exclude mode when the include mask is only "*.*".
        {"*.*", "*.tmp", {"a.txt", "b.TMP", "ctmp", "d.doc"}, {"a.txt", "d.doc"}},
        // Include mode ignores the exclude mask.
        {"*.*;*.doc", "*.doc", {"a.doc", "b.DOC", "c.txt", "xdoc"}, {"a.doc", "b.DOC", "xdoc"}},
        // Patterns reduced as stored jobs mean them: "*" reduces to nothing.
        {"*", "", {"a.txt", "atxt"}, {}},
        {"*.txt", "", {"a.txt", "atxt", "a.tar.gz"}, {"a.txt", "atxt"}},
        {"*.tar.gz", "", {"a.tar.gz", "targz"}, {"targz"}},
        {" report*.doc ; ", "", {"report1.doc", "reportdoc"}, {"reportdoc"}},
        {"", "  ", {"a.txt", "atxt"}, {"a.txt", "atxt"}},  // no filter at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.include) + " / " + c.exclude);
        test::TestContext t;
        WorkingList list;
        for (const std::string& name : c.names) {
            list.push_back(clsDskFile{});
            list.back().filename = name;
            list.back().path = "/x/";
        }
        ApplyMasks(t.ctx->control, c.include, c.exclude, list);
        EXPECT_EQ(names(list), c.kept);
        if (*c.include != '\0') {  // no mask at all: no filtering to show
            EXPECT_EQ(t.host.status1, "Performing filter operations ...");
        }
    }
}

TEST(Search, ListsEveryLevelDepthFirstAndSkipsWhatIsNotAFile) {
    test::TestContext t;
    test::TempDir src;
    src.write("top/one/a.txt", "a");
    src.write("top/one/deeper/b.txt", "bb");
    src.write("top/two/c.txt", "ccc");
    std::filesystem::create_directory_symlink(src.file("top"), src.file("top/two/loop"));
    std::filesystem::create_symlink(src.file("top/two/c.txt"), src.file("top/two/link.txt"));
    ASSERT_EQ(::mkfifo(src.file("top/fifo").c_str(), 0600), 0);
    WorkingList list;
    ListingProblems problems;
    SearchFiles(t.ctx->control, src.file("top"), list, problems);
    auto found = names(list);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "link.txt"}));
    EXPECT_EQ(problems.unreadable, 0);
    EXPECT_TRUE(t.loggedContaining("Skipped " + src.file("top/fifo") + ": not a regular file"));
    EXPECT_TRUE(t.loggedContaining("Skipped " + src.file("top/two/loop") + ": a link"));
    // Depth first: b.txt follows a.txt's folder, whatever the order inside a folder.
    for (const clsDskFile& f : list) {
        EXPECT_EQ(f.path.back(), '/');
        EXPECT_EQ(f.dSize, std::filesystem::file_size(f.path + f.filename));
        EXPECT_NE(f.lastWriteTime.ticks(), 0);
    }

    SearchFiles(t.ctx->control, src.file("missing"), list, problems);
    EXPECT_EQ(problems.unreadable, 1);
    EXPECT_TRUE(t.loggedContaining("FAIL: Can't read folder " + src.file("missing")));
}

TEST(Search, AbortStopsTheSearch) {
    test::TestContext t;
    test::TempDir src;
    for (int i = 0; i < 20; ++i) {
        src.write("f" + std::to_string(i), "x");
    }
    int seen = 0;
    t.host.onYield = [&] {
        if (++seen == 5) {
            t.ctx->flags.bAbortBackup = true;
        }
    };
    WorkingList list;
    ListingProblems problems;
    SearchFiles(t.ctx->control, src.path(), list, problems);
    // The entry whose yield saw the abort is still taken; no entry after it.
    EXPECT_EQ(list.size(), 5u);
    EXPECT_EQ(seen, 5);

    // A request to stop the program stops it the same way, and is not cleared by the search.
    t.ctx->flags.bAbortBackup = false;
    seen = 0;
    t.host.onYield = [&] {
        if (++seen == 2) {
            t.ctx->flags.requestStop();
        }
    };
    list.clear();
    SearchFiles(t.ctx->control, src.path(), list, problems);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_TRUE(t.ctx->flags.stopRequested());
}

TEST(Search, TheJobsOwnFoldersAreLeftOutWhereverASourceHoldsThem) {
    // The source is the tree's "src", which holds a.txt, sub/c.txt and backup/old.uxarc.
    using Names = std::vector<std::string>;
    const Names all = {"a.txt", "c.txt", "old.uxarc"};
    const Names noBackup = {"a.txt", "c.txt"};
    struct Case {
        const char* name;
        const char* destination;  // below the tree; "" = an FTP destination
        const char* linkTo;       // a link to the tree's folder, used as the destination path
        bool homeInSource;
        Names found;
        Names leftOut;  // the folders logged, below the tree
    };
    const Case cases[] = {
        {"destination inside", "src/backup", "", false, noBackup, {"src/backup"}},
        {"destination elsewhere", "out", "", false, all, {}},
        {"destination not made yet", "src/none", "", false, all, {}},
        {"destination is the source", "src", "", false, {}, {"src"}},
        {"destination through a link", "", "src/backup", false, noBackup, {"src/backup"}},
        {"FTP destination", "", "", false, all, {}},
        {"program folder inside", "out", "", true, all, {"src/kestrel"}},
        {"both", "src/backup", "", true, noBackup, {"src/backup", "src/kestrel"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir tree;
        tree.write("src/a.txt", "a");
        tree.write("src/sub/c.txt", "c");
        tree.write("src/backup/old.uxarc", "volume");
        std::filesystem::create_directories(tree.file("out"));
        std::string home = tree.file("elsewhere");
        if (c.homeInSource) {
            home = tree.file("src/kestrel");
            tree.write("src/kestrel/logs/kestrel.log", "log");
        }
        std::filesystem::create_directories(home);
        test::FakeClock clock;
        test::FakeHost host;
        AppContext ctx(ProgramFolder(home), clock, host);
        ASSERT_TRUE(ctx.initialise());

        clsBackup job;
        job.sName = "Docs";
        job.destFTP = std::string(c.destination).empty() && std::string(c.linkTo).empty();
        job.sDestinationDir = tree.file(c.destination);
        if (!std::string(c.linkTo).empty()) {
            std::filesystem::create_directory_symlink(tree.file(c.linkTo), tree.file("link"));
            job.sDestinationDir = tree.file("link");
        }
        WorkingList list;
        ListingProblems problems;
        SearchFiles(ctx.control, tree.file("src"), list, problems,
                    ownFolders(ctx.paths.home(), job));
        auto found = names(list);
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, c.found);
        std::vector<std::string> logged;
        for (const std::string& line : host.logLines) {
            const size_t at = line.find("Left out ");
            if (at != std::string::npos) {
                logged.push_back(line.substr(at + 9, line.find(':', at) - at - 9));
            }
        }
        std::vector<std::string> expected;
        for (const std::string& folder : c.leftOut) {
            expected.push_back(tree.file(folder));
        }
        std::sort(logged.begin(), logged.end());
        EXPECT_EQ(logged, expected);
    }
}

TEST(SingleFiles, KeepTheirCaseAndTheStoredSize) {
    test::TestContext t;
    test::TempDir src;
    const std::string path = src.write("Mixed/Case.TXT", "12345");
    clsBackupFile entry{path, kSourceFile, 999, 0};
    WorkingList list;
    ListingProblems problems;
    MakeSingleFileEntry(t.ctx->control, entry, list, problems);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].filename, "Case.TXT");
    EXPECT_EQ(list[0].path, src.file("Mixed") + "/");
    EXPECT_EQ(list[0].dSize, 999);
    EXPECT_NE(list[0].lastWriteTime.ticks(), 0);

    entry.sPath = src.file("gone.txt");
    MakeSingleFileEntry(t.ctx->control, entry, list, problems);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].filename, "");
    EXPECT_EQ(list[1].lastWriteTime.ticks(), 0);
    EXPECT_EQ(problems.unreadable, 0);
}

}  // namespace
}  // namespace kestrel
