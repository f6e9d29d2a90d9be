// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <fstream>

#include "cli/command.h"
#include "cli/run_cli.h"
#include "platform/fs.h"

namespace kestrel {
namespace {

// A damaged backup set gives back either the archived bytes or an error.
class IntegrityTest : public test::CliFixture<> {
protected:
    using Result = test::CliResult;

    // A plain archive job over two files whose 4-byte words an XOR cannot tell apart in order.
    void backUp(const std::vector<std::string>& extra = {}) {
        data.write("src/words.txt", "AAAABBBBCCCCDDDD");
        data.write("src/other.txt", std::string(3000, 'x'));
        std::vector<std::string> args = {
            "new",    "--name",          "Docs",      "--source", data.file("src"),
            "--dest", data.file("dest"), "--storage", "archive"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_EQ(cli(args).code, kExitOk);
        const Result r = cli({"run", "Docs"});
        ASSERT_EQ(r.code, kExitOk) << r.err;
    }

    std::string catalogue() { return data.file("dest/Docs.fs"); }

    void SetUp() override {
        std::filesystem::create_directories(data.file("dest"));
        std::filesystem::create_directories(data.file("copies"));
    }
};

TEST_F(IntegrityTest, DamageTheCrcCannotSeeIsCaughtByTheDigest) {
    backUp();
    const std::string words = data.file("src/words.txt");

    // Two words swapped keep the XOR of the words.
    std::string swapped = test::readAll(data.file("dest/Docs.uxarc"));
    ASSERT_NE(swapped.find("AAAABBBB"), std::string::npos);
    swapped.replace(swapped.find("AAAABBBB"), 8, "BBBBAAAA");
    data.write("dest/Docs.uxarc", swapped);
    Result r = cli({"verify", catalogue()});
    EXPECT_EQ(r.code, kExitFailed) << r.out;
    EXPECT_NE(r.out.find("FAIL"), std::string::npos);
    EXPECT_NE(r.out.find(words + ": damaged (checksum mismatch)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 OK, 1 failed"), std::string::npos) << r.out;
    r = cli({"restore", "Docs", words, "--to", data.file("out")});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_FALSE(fs::exists(data.file("out") + words));
    EXPECT_TRUE(std::filesystem::is_empty(data.file("out") + data.file("src")));

    // Without the checksum file the swap passes the crc, and verify says how weak that was.
    ASSERT_TRUE(fs::removeFile(catalogue() + ".sums"));
    r = cli({"verify", catalogue()});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_NE(r.out.find("2 file(s) checked with the catalogue's crc only: a weak check"),
              std::string::npos)
        << r.out;
}

// Lost or cut lines: verify and the restore name what is lost, the next run appends nothing.
TEST_F(IntegrityTest, ACatalogueThatLostLinesIsNamedAndNeverAppendedTo) {
    backUp({"--type", "incremental"});
    const std::string sums = test::readAll(catalogue() + ".sums");
    const std::string text = test::readAll(catalogue());
    const std::string words = data.file("src/words.txt");
    const std::string other = data.file("src/other.txt");
    const std::string first = text.substr(0, text.find("\r\n") + 2);
    const std::string lostName = first.find(words) != std::string::npos ? other : words;
    const struct {
        std::string catalogue;
        std::string says;
        bool lost;  // verify and the restore see it too
    } cases[] = {
        {first, "has lost 1 line(s) that its checksum file records (" + lostName, true},
        {text.substr(0, text.size() - 20),
         "FAIL: The catalogue " + catalogue() + " does not end in a complete line", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        data.write("dest/Docs.fs", c.catalogue);
        data.write("dest/Docs.fs.sums", sums);
        if (c.lost) {
            Result r = cli({"verify", catalogue()});
            EXPECT_EQ(r.code, kExitFailed) << r.out << r.err;
            EXPECT_NE((r.out + r.err).find("LOST " + lostName), std::string::npos) << r.out;
            r = cli({"restore", "Docs", data.file("src"), "--to", data.file("out"), "--overwrite"});
            EXPECT_EQ(r.code, kExitFailed) << r.err;
            EXPECT_NE(r.err.find(lostName), std::string::npos) << r.err;
            EXPECT_EQ(test::readAll(data.file("out") + other), std::string(3000, 'x'));
        }
        clock.advanceSeconds(120);
        data.write("src/more.txt", "more");
        const Result r = cli({"run", "Docs"});
        EXPECT_EQ(r.code, kExitFailed);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(test::readAll(catalogue()), c.catalogue);
        ASSERT_TRUE(fs::removeFile(data.file("src/more.txt")));
    }
}

// verify reads the facts file too: what it records, and damage in it.
TEST_F(IntegrityTest, VerifyReadsTheFactsFile) {
    std::filesystem::create_directories(data.file("src/empty"));
    std::filesystem::create_symlink("words.txt", data.file("src/link"));
    backUp();
    Result r = cli({"verify", catalogue()});
    EXPECT_EQ(r.code, kExitOk) << r.out << r.err;
    r = cli({"ls", "Docs", data.file("src")});
    EXPECT_NE(r.out.find("link -> words.txt"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("empty/"), std::string::npos) << r.out;
    // A path the set does not hold is refused, not restored as nothing.
    EXPECT_EQ(cli({"restore", "Docs", "/nothing/here"}).code, kExitBadUsage);
    std::ofstream(catalogue() + ".meta", std::ios::app) << "dir=/x|mode=999|uid=0|gid=0\r\n";
    r = cli({"verify", catalogue()});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_NE(r.err.find("1 damaged line(s) in " + catalogue() + ".meta"), std::string::npos)
        << r.err;
}

TEST_F(IntegrityTest, ANameWithALineBreakIsReportedAsNotStored) {
    data.write("src/a\nb.txt", "broken name");
    data.write("src/fine.txt", "fine");
    ASSERT_EQ(cli({"new", "--name", "Odd", "--source", data.file("src"), "--dest",
                   data.file("dest"), "--storage", "archive"})
                  .code,
              kExitOk);
    const Result r = cli({"run", "Odd"});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_NE(r.err.find("FAIL: " + data.file("src/a\\nb.txt") +
                         " can't be stored in an archive: its name holds a line break!"),
              std::string::npos)
        << r.err;
    EXPECT_NE(cli({"list"}).out.find("failed"), std::string::npos);
    // What could be stored is whole and restorable.
    EXPECT_EQ(cli({"verify", data.file("dest/Odd.fs")}).code, kExitOk);
}

// A run removes its own job's leftovers, not another job's nor a file that looks like one.
TEST_F(IntegrityTest, ARunRemovesOnlyItsOwnLeftovers) {
    backUp();
    data.write("dest/Docs.uxarc.part-Ab12Cd", "half a volume");
    data.write("dest/Docs2.fs.part-Ab12Cd", "another job's");
    data.write("src2/b.part-Qq11Ww", "looks like a leftover");
    ASSERT_EQ(cli({"new", "--name", "Copies", "--source", data.file("src2"), "--dest",
                   data.file("copies"), "--storage", "copy"})
                  .code,
              kExitOk);
    clock.advanceSeconds(60);
    const Result r = cli({"run", "Docs"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_FALSE(fs::exists(data.file("dest/Docs.uxarc.part-Ab12Cd")));
    EXPECT_TRUE(fs::exists(data.file("dest/Docs2.fs.part-Ab12Cd")));
    ASSERT_EQ(cli({"run", "Copies"}).code, kExitOk);
    EXPECT_EQ(test::readAll(data.file("copies") + data.file("src2/b.part-Qq11Ww")),
              "looks like a leftover");
}

}  // namespace
}  // namespace kestrel
