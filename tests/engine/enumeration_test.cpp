// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/enumeration.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "engine/paths.h"
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

// Each catalogue record drops the first listed file of its full name and last-write time that no
// earlier record dropped; whatever differs in name or time stays.
TEST(UnchangedFilesTest, EachRecordDropsTheFirstUnmatchedFileOfItsNameAndTime) {
    auto file = [](std::string path, std::string name, std::int32_t low) {
        clsDskFile f;
        f.path = std::move(path);
        f.filename = std::move(name);
        f.lastWriteTime = {3, low};
        return f;
    };
    const WorkingList listed = {file("/d/", "a", 1), file("/d/", "b", 2), file("/d/", "a", 1),
                                file("/e/", "a", -1), file("/d/x/", "\xff,|=", 5)};
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::int32_t>> records;  // name, low half of the time
        std::vector<size_t> kept;                                   // indexes into listed
    } cases[] = {
        {"no records", {}, {0, 1, 2, 3, 4}},
        {"one record of a listed twice", {{"/d/a", 1}}, {1, 2, 3, 4}},
        {"two records of it", {{"/d/a", 1}, {"/d/a", 1}}, {1, 3, 4}},
        {"three records of it", {{"/d/a", 1}, {"/d/a", 1}, {"/d/a", 1}}, {1, 3, 4}},
        {"another time", {{"/d/b", 3}, {"/e/a", 1}}, {0, 1, 2, 3, 4}},
        {"another name", {{"/d/A", 1}, {"/d/a ", 1}, {"/d", 1}, {"d/a", 1}}, {0, 1, 2, 3, 4}},
        {"negative halves and odd bytes", {{"/e/a", -1}, {"/d/x/\xff,|=", 5}}, {0, 1, 2}},
        {"every file",
         {{"/e/a", -1}, {"/d/a", 1}, {"/d/b", 2}, {"/d/x/\xff,|=", 5}, {"/d/a", 1}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WorkingList list = listed;
        UnchangedFiles unchanged(list);
        for (const auto& [name, low] : c.records) {
            unchanged.match(name, FileTime{3, low});
        }
        unchanged.dropFrom(list);
        ASSERT_EQ(list.size(), c.kept.size());
        for (size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i].fullName(), listed[c.kept[i]].fullName());
            EXPECT_EQ(list[i].lastWriteTime, listed[c.kept[i]].lastWriteTime);
        }
    }
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
    }
}

// The unit changes only above a whole unit; German swaps the separators and the word.
TEST(Sizes, AUnitStartsAboveOneWholeOfItInEitherLanguage) {
    const SizeWords german{" Bytes", '.', ','};
    const struct {
        std::int64_t bytes;
        const char* english;
        const char* german;
    } cases[] = {
        {0, "0 bytes", "0 Bytes"},
        {1024, "1024 bytes", "1024 Bytes"},
        {1536, "1.50 Kb", "1,50 Kb"},
        {1044992, "1,020.50 Kb", "1.020,50 Kb"},
        {1048576, "1048576 bytes", "1048576 Bytes"},
        {1572864, "1.50 Mb", "1,50 Mb"},
        {std::int64_t{5} << 40, "5,120.00 Gb", "5.120,00 Gb"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatSize(c.bytes), c.english) << c.bytes;
        EXPECT_EQ(FormatSize(c.bytes, german), c.german) << c.bytes;
    }
}

TEST(Search, ListsEveryLevelAndSkipsWhatIsNotAFile) {
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
}

// A folder's name is held once for its files, listed or named in the job; giving one record
// another folder leaves the others as they were.
TEST(Search, TheFilesOfAFolderShareItsNameAndARecordChangesOnlyItsOwn) {
    test::TestContext t;
    test::TempDir src;
    src.write("d/a", "a");
    src.write("d/b", "b");
    src.write("e/c", "c");
    WorkingList list;
    ListingProblems problems;
    SearchFiles(t.ctx->control, src.file("d"), list, problems);
    SearchFiles(t.ctx->control, src.file("e"), list, problems);
    for (const char* name : {"d/a", "d/b", "e/c"}) {
        clsBackupFile entry;
        entry.sPath = src.file(name);
        MakeSingleFileEntry(t.ctx->control, entry, list, problems);
    }
    ASSERT_EQ(list.size(), 6u);
    for (const auto& [a, b, shared] : std::vector<std::tuple<size_t, size_t, bool>>{
             {0, 1, true}, {3, 4, true}, {1, 2, false}, {0, 3, false}, {4, 5, false}}) {
        EXPECT_EQ(list[a].path.sharesWith(list[b].path), shared) << a << " " << b;
    }
    std::vector<std::string> full;
    for (const clsDskFile& f : list) {
        full.push_back(f.fullName());
    }
    std::sort(full.begin(), full.begin() + 2);
    EXPECT_EQ(full, (std::vector<std::string>{src.file("d/a"), src.file("d/b"), src.file("e/c"),
                                              src.file("d/a"), src.file("d/b"), src.file("e/c")}));
    const std::string before = list[1].fullName();
    list[0].path = "/elsewhere/";
    EXPECT_EQ(list[0].fullName(), "/elsewhere/" + list[0].filename);
    EXPECT_EQ(list[1].fullName(), before);
    EXPECT_TRUE(list[3].path.sharesWith(list[4].path));
}

// The entry whose yield saw the stop is still taken, none after it; a stop request stays.
TEST(Search, AnAbortOrAStopRequestEndsTheSearch) {
    test::TempDir src;
    for (int i = 0; i < 20; ++i) {
        src.write("f" + std::to_string(i), "x");
    }
    for (const bool abort : {true, false}) {
        SCOPED_TRACE(abort ? "abort" : "stop request");
        test::TestContext t;
        int seen = 0;
        t.host.onYield = [&] {
            if (++seen == 5 && abort) {
                t.ctx->flags.bAbortBackup = true;
            } else if (seen == 5) {
                t.ctx->flags.requestStop();
            }
        };
        WorkingList list;
        ListingProblems problems;
        SearchFiles(t.ctx->control, src.path(), list, problems);
        EXPECT_EQ(list.size(), 5u);
        EXPECT_EQ(seen, 5);
        EXPECT_EQ(t.ctx->flags.stopRequested(), !abort);
    }
}

TEST(Search, TheJobsOwnFoldersAreLeftOutWhereverASourceHoldsThem) {
    // The source is the tree's "src", which holds a.txt, sub/c.txt and backup/old.uxarc.
    using Names = std::vector<std::string>;
    const Names all = {"a.txt", "c.txt", "old.uxarc"};
    const Names noBackup = {"a.txt", "c.txt"};
    struct Case {
        const char* name;
        const char* destination;  // below the tree; "" = an FTP destination
        bool throughLink;         // named through a link to it
        const char* home;         // the program folder, below the tree
        Names found;
        Names leftOut;  // the folders logged, below the tree
    };
    const Case cases[] = {
        {"destination inside", "src/backup", false, "home", noBackup, {"src/backup"}},
        {"destination elsewhere", "out", false, "home", all, {}},
        {"destination not made yet", "src/none", false, "home", all, {}},
        {"destination is the source", "src", false, "home", {}, {"src"}},
        {"destination through a link", "src/backup", true, "home", noBackup, {"src/backup"}},
        {"FTP destination", "", false, "home", all, {}},
        {"program folder inside", "out", false, "src/kestrel", all, {"src/kestrel"}},
        {"both", "src/backup", false, "src/kestrel", noBackup, {"src/backup", "src/kestrel"}},
    };
    test::TestContext t;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir tree;
        tree.write("src/a.txt", "a");
        tree.write("src/sub/c.txt", "c");
        tree.write("src/backup/old.uxarc", "volume");
        tree.write("out/x", "x");
        tree.write(std::string(c.home) + "/logs/kestrel.log", "log");
        clsBackup job;
        job.sName = "Docs";
        job.destFTP = *c.destination == '\0';
        job.sDestinationDir = tree.file(c.destination);
        if (c.throughLink) {
            std::filesystem::create_directory_symlink(job.sDestinationDir, tree.file("link"));
            job.sDestinationDir = tree.file("link");
        }
        t.host.logLines.clear();
        WorkingList list;
        ListingProblems problems;
        SearchFiles(t.ctx->control, tree.file("src"), list, problems,
                    ownFolders(tree.file(c.home), job));
        auto found = names(list);
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, c.found);
        for (const std::string& folder : c.leftOut) {
            EXPECT_TRUE(t.loggedContaining("Left out " + tree.file(folder) + ":")) << folder;
        }
        const auto leftOut = [](const std::string& line) {
            return line.find("Left out ") != std::string::npos;
        };
        EXPECT_EQ(std::count_if(t.host.logLines.begin(), t.host.logLines.end(), leftOut),
                  std::ssize(c.leftOut));
    }
}

}  // namespace
}  // namespace kestrel
