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
    auto sums = parseSums(sumsHeader(3) + "\r\n" + good + "line=" + std::string(64, 'z') +
                          "|b2=" + std::string(64, 'b') + "\r\n\r\n" + "line=short\n" + good +
                          "line=" + kLine);  // the last one cut: no line end
    ASSERT_TRUE(sums);
    EXPECT_EQ(sums->linesBefore, 3u);
    EXPECT_EQ(sums->byLine.size(), 1u);
    EXPECT_EQ(sums->skippedLines, (std::vector<size_t>{3, 5, 7}));
    for (const char* notSums :
         {"", "line=x\r\n", "KestrelSums=2|linesBefore=0\r\n", "KestrelSums=1|linesBefore=-1\r\n",
          "KestrelSums=1|linesBefore=x"}) {
        EXPECT_FALSE(parseSums(notSums)) << notSums;
    }
}

TEST(Sums, EachLineIsCheckedByWhatCoversIt) {
    Sums sums;
    sums.linesBefore = 2;
    const Digest known = digestOf("known line");
    sums.byLine[std::string(reinterpret_cast<const char*>(known.data()), known.size())] =
        digestOf("content");
    const Digest* expected = nullptr;
    EXPECT_EQ(checkKindFor(nullptr, known, 5, &expected), CheckKind::Weak);
    EXPECT_EQ(expected, nullptr);
    EXPECT_EQ(checkKindFor(&sums, known, 5, &expected), CheckKind::Strong);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(*expected, digestOf("content"));
    // A line the checksum file predates; one it should hold but does not.
    EXPECT_EQ(checkKindFor(&sums, digestOf("other"), 1, &expected), CheckKind::Weak);
    EXPECT_EQ(checkKindFor(&sums, digestOf("other"), 2, &expected), CheckKind::Unmatched);
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
              (std::vector<int>{1, 1, 1}));
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
