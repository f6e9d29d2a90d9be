#include "archive/catalogue.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

constexpr const char* kExample =
    "dSession=20260105143012|RecSize=512|arcStart=Daily|sOffs=0|arcEnd=Daily|dEndOffset=3584|"
    "fname=C:\\Data\\report.doc|size=3000|crc=1F00A2C4|Attrib=32|dCT=29563521/-1163529728|"
    "dLAt=29563600/104857600|dLWt=29563590/-20971520";

TEST(Catalogue, ReadsTheWorkedExampleAndReportsAnUnreadableFile) {
    test::TempDir dir;
    auto c = ReadCatalogue(dir.write("Daily.fs", std::string(kExample) + "\r\n"));
    ASSERT_TRUE(c);
    ASSERT_EQ(c->records.size(), 1u);
    const clsRestoreFileData* rec = &c->records[0];
    EXPECT_EQ(rec->dSession, *DateTime::fromParts(2026, 1, 5, 14, 30, 12));
    EXPECT_EQ(rec->recsize, 512);
    EXPECT_EQ(rec->arcStart, "Daily");
    EXPECT_EQ(rec->arcEnd, "Daily");
    EXPECT_EQ(rec->soffs, 0);
    EXPECT_EQ(rec->dendoffset, 3584);
    EXPECT_EQ(rec->fname, "C:\\Data\\report.doc");
    EXPECT_EQ(rec->size, 3000);
    EXPECT_EQ(rec->crc, "1F00A2C4");
    EXPECT_EQ(rec->Attrib, 32);
    EXPECT_EQ(rec->tCreationTimeGet(), (FileTime{29563521, -1163529728}));
    EXPECT_EQ(rec->tLastAccessTimeGet(), (FileTime{29563600, 104857600}));
    EXPECT_EQ(rec->tLastWriteTimeGet(), (FileTime{29563590, -20971520}));
    std::string error;
    EXPECT_FALSE(ReadCatalogue(dir.file("missing.fs"), &error));
    EXPECT_FALSE(error.empty());
}

TEST(Catalogue, PartialLinesOtherCasesAndLaterKeys) {
    auto rec = ParseCatalogueLine("dSession=20260105143012|fname=C:\\a.txt|size=10");
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->arcStart, "");
    EXPECT_EQ(rec->soffs, 0);
    EXPECT_EQ(rec->size, 10);
    rec = ParseCatalogueLine("SOFFS=7|Fname=/x|SIZE=3|size=4|unknown=1|DCT=5");
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->soffs, 7);
    EXPECT_EQ(rec->fname, "/x");
    EXPECT_EQ(rec->size, 4);
    EXPECT_EQ(rec->creationTime, (FileTime{0, 0}));
}

TEST(Catalogue, PathsMayHoldCommasBarsAndTheKeysThemselves) {
    const std::string path = "/data/a, b|c|size=1|fname=d ü.txt";
    auto rec = ParseCatalogueLine("dSession=20260105143012|RecSize=512|fname=" + path +
                                  "|size=42|crc=00000000|dLWt=1/2");
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->fname, path);
    EXPECT_EQ(rec->size, 42);
    EXPECT_EQ(rec->lastWriteTime, (FileTime{1, 2}));
}

TEST(Catalogue, DamagedValuesRejectTheLine) {
    for (const char* line :
         {"dSession=20260105143012|broken", "size=12x|fname=/a", "dSession=2026010514|fname=/a",
          "dCT=1/x|fname=/a", "dCT=99999999999/0|fname=/a", "sOffs=-5|fname=/a"}) {
        EXPECT_FALSE(ParseCatalogueLine(line)) << line;
    }
}

TEST(Catalogue, TimePairsAndSessionStamps) {
    EXPECT_EQ(ParseTimePair("29563521/-1163529728"), (FileTime{29563521, -1163529728}));
    EXPECT_EQ(ParseTimePair("5"), (FileTime{0, 0}));
    EXPECT_EQ(ParseTimePair("-2147483648/2147483647"), (FileTime{INT32_MIN, INT32_MAX}));
    EXPECT_FALSE(ParseTimePair("2147483648/0"));
    EXPECT_EQ(ParseSessionStamp("20261232000000")->format("yyyy-MM-dd"), "2027-01-01");
    EXPECT_EQ(ParseSessionStamp("20261301250000")->format("yyyy-MM-dd HH"), "2027-01-02 01");
    EXPECT_EQ(ParseSessionStamp("20260001000000")->format("yyyy-MM-dd"), "2025-12-01");
    EXPECT_FALSE(ParseSessionStamp("2026010514301"));
    EXPECT_FALSE(ParseSessionStamp("2026010514301x"));
}

TEST(Catalogue, DamagedLinesAreSkippedAndNumbered) {
    const std::string good = std::string(kExample) + "\r\n";
    const std::string line(kExample);
    // A line cut after its name but still ending in a line break, one whose end offset does
    // not fit its size, one without its crc, and a complete-looking last line without its line
    // end (its last number may be cut) are no files.
    const std::string cutAfterName = line.substr(0, line.find("|size=")) + "\r\n";
    std::string shifted = good;
    shifted.replace(shifted.find("dEndOffset=3584"), 15, "dEndOffset=4096");
    std::string noCrc = good;
    noCrc.erase(noCrc.find("|crc="), 14);
    const Catalogue c = parseCatalogue(good + "garbage line\r\n\r\n" + good + cutAfterName +
                                       shifted + noCrc + "size=1|fname=/a\n" + line);
    EXPECT_EQ(c.records.size(), 2u);
    EXPECT_EQ(c.skippedLines, (std::vector<size_t>{2, 5, 6, 7, 8, 9}));
    // Line numbers for the checksum file count the non-blank lines.
    ASSERT_EQ(c.records.size(), 2u);
    EXPECT_EQ(c.records[0].lineIndex, 0u);
    EXPECT_EQ(c.records[1].lineIndex, 2u);
    EXPECT_EQ(c.records[0].lineDigest, digestOf(line));
    EXPECT_EQ(countCatalogueLines(good + "garbage line\r\n\r\n \r\n" + good), 3u);
    EXPECT_TRUE(parseCatalogue(line).records.empty());
    EXPECT_TRUE(parseCatalogue("").records.empty());
}

// Numbers near the largest a line can carry must not overflow while they are checked.
TEST(Catalogue, HugeOffsetsAndSizesAreImplausible) {
    const std::string largest = "9223372036854775807";
    auto with = [](std::string line, const std::string& key, const std::string& value) {
        const size_t at = line.find("|" + key + "=") + key.size() + 2;
        line.replace(at, line.find('|', at) - at, value);
        return *ParseCatalogueLine(line);
    };
    const clsRestoreFileData example = *ParseCatalogueLine(kExample);
    EXPECT_TRUE(plausibleRecord(example));
    EXPECT_FALSE(plausibleRecord(with(kExample, "sOffs", largest)));
    EXPECT_FALSE(plausibleRecord(with(kExample, "size", largest)));
    EXPECT_FALSE(plausibleRecord(with(kExample, "dEndOffset", largest)));
    EXPECT_FALSE(plausibleRecord(with(kExample, "RecSize", "9223372036854775804")));
    // The same offsets one block further on still fit.
    clsRestoreFileData later = with(kExample, "sOffs", "512");
    later.dendoffset = 4096;
    EXPECT_TRUE(plausibleRecord(later));
    clsRestoreFileData empty = with(kExample, "size", "0");
    empty.dendoffset = 512;
    EXPECT_TRUE(plausibleRecord(empty));
    empty.dendoffset = 1024;
    EXPECT_FALSE(plausibleRecord(empty));
}

}  // namespace
}  // namespace kestrel
