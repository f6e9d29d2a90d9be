#include "archive/sums.h"

#include <gtest/gtest.h>

#include "archive/catalogue.h"
#include "archive_support.h"
#include "platform/fs.h"

namespace kestrel {
namespace {

const std::string kLine = std::string(64, 'a') + "|b2=" + std::string(64, 'b');

TEST(Sums, DigestsAndTheirText) {
    const Digest d = digestOf("abc");
    // BLAKE2b-256 of "abc", as Python's hashlib.blake2b(digest_size=32) gives it.
    EXPECT_EQ(digestHex(d), "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319");
    EXPECT_EQ(parseDigestHex(digestHex(d)), d);
    EXPECT_EQ(parseDigestHex(std::string(64, 'A')), parseDigestHex(std::string(64, 'a')));
    EXPECT_FALSE(parseDigestHex(std::string(63, 'a')));
    EXPECT_FALSE(parseDigestHex(std::string(63, 'a') + "g"));
    ContentDigest pieces;
    pieces.update("a");
    pieces.update("bc");
    EXPECT_EQ(pieces.final(), d);
}

TEST(Sums, TheWorkerThreadsDigestEqualsTheDirectOne) {
    // Sizes around the worker's 1 MB pieces, fed in uneven slices, one object reused.
    ParallelDigest parallel;
    for (const size_t size :
         {size_t{0}, size_t{1}, (size_t{1} << 20) - 1, size_t{1} << 20, (size_t{3} << 20) + 17}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<char>((i * 131 + size) % 251);
        }
        parallel.begin();
        for (size_t at = 0, slice = 1; at < size; at += slice, slice = slice * 3 + 7) {
            parallel.update(std::string_view(bytes).substr(at, slice));
        }
        EXPECT_EQ(parallel.final(), digestOf(bytes)) << size;
    }
    // A file abandoned half-way (a failed read) does not leak into the next one.
    parallel.begin();
    parallel.update(std::string(3 << 20, 'x'));
    parallel.begin();
    parallel.update("abc");
    EXPECT_EQ(parallel.final(), digestOf("abc"));
}

TEST(Sums, ParsingKeepsGoodEntriesAndNumbersDamagedOnes) {
    const std::string good = "line=" + kLine + "\r\n";
    const std::string named = "line=" + std::string(64, 'c') + "|b2=" + std::string(64, 'd') +
                              "|fname=/home/u/a|b.txt\r\n";
    const std::string covers = "covers=3|bytes=900|cat=" + std::string(64, 'e') + "\r\n";
    // Entries of both versions, a covers line, and damage: a bad digest, a blank line, a cut
    // entry, an entry with something else after it, a cut covers line.
    auto sums = parseSums(sumsHeader(3) + "\r\n" + good + "line=" + std::string(64, 'z') +
                          "|b2=" + std::string(64, 'b') + "\r\n\r\n" + "line=short\n" + good +
                          named + covers + "line=" + kLine + "|size=1\r\n" +
                          "covers=3|bytes=900\r\n" + "line=" + kLine);
    ASSERT_TRUE(sums);
    EXPECT_EQ(sums->linesBefore, 3u);
    EXPECT_EQ(sums->byLine.size(), 2u);
    EXPECT_EQ(sums->order.size(), 2u);
    EXPECT_EQ(sums->byLine.at(sums->order[1]).fname, "/home/u/a|b.txt");
    ASSERT_EQ(sums->covers.size(), 1u);
    EXPECT_EQ(sums->covers[0].lines, 3u);
    EXPECT_EQ(sums->covers[0].bytes, 900);
    EXPECT_EQ(sums->skippedLines, (std::vector<size_t>{3, 5, 9, 10, 11}));
    for (const char* notSums :
         {"", "line=x\r\n", "KestrelSums=3|linesBefore=0\r\n", "KestrelSums=1|linesBefore=-1\r\n",
          "KestrelSums=2|linesBefore=x"}) {
        EXPECT_FALSE(parseSums(notSums)) << notSums;
    }
    EXPECT_TRUE(parseSums("KestrelSums=1|linesBefore=0\r\n" + good));
    EXPECT_EQ(upgradedHeader("KestrelSums=1|linesBefore=7"), "KestrelSums=2|linesBefore=7");
    EXPECT_FALSE(upgradedHeader(sumsHeader(7)));
}

TEST(Sums, TheArchiveWritesAnEntryPerFileThatMatchesItsLineAndBytesAndTellsLostOnes) {
    test::TestContext t;
    test::TempDir src;
    const std::vector<std::string> contents = {"first file", "", std::string(200'000, 's')};
    std::vector<std::string> paths;
    for (size_t i = 0; i < contents.size(); ++i) {
        paths.push_back(src.write("f" + std::to_string(i), contents[i]));
    }
    ASSERT_EQ(test::archiveFiles(*t.ctx, "Daily", paths, true, 50'000),
              (std::vector<clsArchive::AddResult>(3, clsArchive::AddResult::Added)));
    const std::string folder = t.ctx->paths.tempDir();
    const SumsFile file = ReadSums(fs::join(folder, "Daily.fs.sums"));
    ASSERT_EQ(file.status, SumsFile::Status::Read) << file.error;
    EXPECT_EQ(file.sums->linesBefore, 0u);
    const Catalogue catalogue = test::catalogueOf(*t.ctx, "Daily");
    ASSERT_EQ(catalogue.records.size(), contents.size());
    for (size_t i = 0; i < contents.size(); ++i) {
        const Digest* d = file.sums->find(catalogue.records[i].lineDigest);
        ASSERT_NE(d, nullptr) << i;
        EXPECT_EQ(*d, digestOf(contents[i])) << i;
    }
    // A catalogue emptied by another program has lost every file, named in order.
    const SumsVerdict emptied = judgeSums(*file.sums, "", {});
    EXPECT_TRUE(emptied.belongs);
    EXPECT_EQ(emptied.lostNames, paths);
    EXPECT_EQ(emptied.lost, paths.size());
    EXPECT_EQ(lostFilesText(emptied, 1), paths[0] + " and 2 more");
    EXPECT_EQ(ReadSums(fs::join(folder, "missing.sums")).status, SumsFile::Status::Missing);
    EXPECT_EQ(ReadSums(fs::join(folder, "Daily.fs")).status, SumsFile::Status::Damaged);
}

}  // namespace
}  // namespace kestrel
