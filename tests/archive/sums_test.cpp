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

TEST(Sums, EachLineIsCheckedByWhatCoversIt) {
    Sums sums;
    sums.linesBefore = 2;
    const Digest known = digestOf("known line");
    sums.byLine[std::string(reinterpret_cast<const char*>(known.data()), known.size())] =
        Sums::Entry{digestOf("content"), "/a"};
    const Digest* expected = nullptr;
    EXPECT_EQ(checkKindFor(nullptr, known, 5, &expected), CheckKind::Weak);
    EXPECT_EQ(expected, nullptr);
    EXPECT_EQ(checkKindFor(&sums, known, 5, &expected), CheckKind::Strong);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(*expected, digestOf("content"));
    // A line the checksum file predates; one it should hold but does not.
    EXPECT_EQ(checkKindFor(&sums, digestOf("other"), 1, &expected), CheckKind::Weak);
    EXPECT_EQ(checkKindFor(&sums, digestOf("other"), 2, &expected), CheckKind::Unmatched);
    // Past what the last session covered: appended by another writer.
    sums.covers.push_back(Sums::Covers{4, 0, {}});
    EXPECT_EQ(checkKindFor(&sums, digestOf("other"), 3, &expected), CheckKind::Unmatched);
    EXPECT_EQ(checkKindFor(&sums, digestOf("other"), 4, &expected), CheckKind::Weak);
}

// The checksum file of a real two-session archive against the catalogue as others may leave it.
TEST(Sums, LostLinesAreNamedAndAFileOfAnotherCatalogueIsIgnored) {
    test::TestContext t;
    test::TempDir src;
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i) {
        paths.push_back(src.write("f" + std::to_string(i), "content " + std::to_string(i)));
    }
    ASSERT_EQ(test::archiveFiles(*t.ctx, "Daily", paths, false),
              (std::vector<clsArchive::AddResult>(4, clsArchive::AddResult::Added)));
    const std::string folder = t.ctx->paths.tempDir();
    const std::string catalogue = *fs::readFile(fs::join(folder, "Daily.fs"));
    const SumsFile file = ReadSums(fs::join(folder, "Daily.fs.sums"));
    ASSERT_EQ(file.status, SumsFile::Status::Read) << file.error;
    ASSERT_EQ(file.sums->covers.size(), 1u);
    const auto lines = [](const std::string& text) {
        std::vector<Digest> digests;
        for (const auto& rec : parseCatalogue(text).records) {
            digests.push_back(rec.lineDigest);
        }
        return digests;
    };
    const size_t half = catalogue.find('\n', catalogue.find('\n') + 1) + 1;
    const std::string other =
        "dSession=20200101000000|RecSize=512|arcStart=X|sOffs=0|arcEnd=X|dEndOffset=1024|"
        "fname=/x|size=1|crc=00000000|Attrib=0|dCT=0/0|dLAt=0/0|dLWt=0/0\r\n";
    struct Case {
        const char* what;
        std::string text;
        bool belongs;
        std::vector<std::string> lost;
    };
    const std::vector<Case> cases = {
        {"as written", catalogue, true, {}},
        {"cut after two lines", catalogue.substr(0, half), true, {paths[2], paths[3]}},
        {"another writer appended", catalogue + other, true, {}},
        {"replaced by another writer", other, false, {}},
        {"emptied", "", true, {paths[0], paths[1], paths[2], paths[3]}},
    };
    for (const Case& c : cases) {
        const SumsVerdict v = judgeSums(*file.sums, c.text, lines(c.text));
        EXPECT_EQ(v.belongs, c.belongs) << c.what;
        EXPECT_EQ(v.lostNames, c.lost) << c.what;
        EXPECT_EQ(v.lost, c.lost.size()) << c.what;
    }
    EXPECT_EQ(lostFilesText(judgeSums(*file.sums, catalogue, lines(catalogue)), 1), "");
    SumsVerdict cut =
        judgeSums(*file.sums, catalogue.substr(0, half), lines(catalogue.substr(0, half)));
    EXPECT_EQ(lostFilesText(cut, 1), paths[2] + " and 1 more");
    // The appended line is checked by its crc, the others by their digests.
    const Catalogue appended = parseCatalogue(catalogue + other);
    const Digest* expected = nullptr;
    EXPECT_EQ(checkKindFor(&*file.sums, appended.records[4].lineDigest, 4, &expected),
              CheckKind::Weak);
    EXPECT_EQ(checkKindFor(&*file.sums, appended.records[3].lineDigest, 3, &expected),
              CheckKind::Strong);
}

TEST(Sums, TheArchiveWritesAnEntryPerFileThatMatchesItsLineAndBytes) {
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
    EXPECT_EQ(ReadSums(fs::join(folder, "missing.sums")).status, SumsFile::Status::Missing);
    EXPECT_EQ(ReadSums(fs::join(folder, "Daily.fs")).status, SumsFile::Status::Damaged);
}

}  // namespace
}  // namespace kestrel
