// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/catalogue.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

// A line as a writer puts it, for a file of that size stored in one volume in 512-byte blocks.
std::string line(const std::string& name, std::int64_t size, std::int32_t lwtLow = 7,
                 const std::string& session = "20260105143012") {
    const std::int64_t blocks = size / 512 + (size % 512 != 0 ? 1 : 0);
    return "dSession=" + session + "|RecSize=512|arcStart=Daily|sOffs=0|arcEnd=Daily|dEndOffset=" +
           std::to_string((blocks + 1) * 512) + "|fname=" + name + "|size=" + std::to_string(size) +
           "|crc=1F00A2C4|Attrib=32|dCT=1/2|dLAt=3/4|dLWt=5/" + std::to_string(lwtLow) + "\r\n";
}

struct Scanned {
    std::vector<clsRestoreFileData> records;
    CatalogueScan scan;
};

Scanned scanText(const test::TempDir& dir, const std::string& text) {
    Scanned out;
    auto scan = scanCatalogue(dir.write("JOB.fs", text), [&](clsRestoreFileData&& rec) {
        out.records.push_back(std::move(rec));
    });
    EXPECT_TRUE(scan.has_value());
    if (scan) {
        out.scan = *scan;
    }
    return out;
}

// A catalogue read piece by piece from its file gives what the same text read whole gives:
// the records in order with their digests and line numbers, and the same lines skipped.
TEST(CatalogueScan, ReadsAsTheWholeTextReads) {
    // Filler up to a piece's end, so that the next line's CR LF is split between two pieces.
    const std::string first = line("/a", 10);
    std::string straddle;
    size_t before = 0;
    while (straddle.size() + first.size() < (std::size_t{1} << 20) - 1) {
        straddle += first;
        ++before;
    }
    straddle += std::string((std::size_t{1} << 20) - 1 - straddle.size(), ' ');
    straddle += "\r\n" + line("/after the boundary", 20);
    const struct {
        const char* what;
        std::string text;
        size_t records;
        bool cutShort;
    } cases[] = {
        {"empty", "", 0, false},
        {"blank lines only", "\r\n  \r\n", 0, false},
        {"odd bytes in names",
         line(std::string("/\xff\x01\t na|me,\"q\"=x.txt", 21), 5) + line("/caf\xc3\xa9", 6), 2,
         false},
        {"damaged line between good ones", line("/a", 1) + "garbage\r\n" + line("/b", 2), 2, false},
        {"last line cut short", line("/a", 1) + line("/b", 2).substr(0, 40), 1, true},
        {"last line without its line end",
         line("/a", 1) + line("/b", 2).substr(0, line("/b", 2).size() - 2), 1, true},
        {"one name in two sessions",
         line("/a", 1, 7, "20260105143012") + line("/a", 1, 7, "20260106143012"), 2, false},
        {"sizes past 2 and 4 GiB", line("/big", 3'000'000'000) + line("/huge", 5'000'000'001), 2,
         false},
        {"a CR LF split between pieces", straddle, before + 1, false},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Scanned got = scanText(dir, c.text);
        const Catalogue whole = parseCatalogue(c.text);
        ASSERT_EQ(got.records.size(), c.records);
        ASSERT_EQ(whole.records.size(), c.records);
        EXPECT_EQ(got.scan.skippedLines, whole.skippedLines);
        EXPECT_EQ(got.scan.cutShort, c.cutShort);
        for (size_t i = 0; i < got.records.size(); ++i) {
            EXPECT_EQ(got.records[i].fname, whole.records[i].fname);
            EXPECT_EQ(got.records[i].size, whole.records[i].size);
            EXPECT_EQ(got.records[i].lineIndex, whole.records[i].lineIndex);
            EXPECT_EQ(got.records[i].lineDigest, whole.records[i].lineDigest);
            EXPECT_EQ(got.records[i].dSession, whole.records[i].dSession);
        }
    }
}

TEST(CatalogueScan, KeepsWhatTheLinesSay) {
    test::TempDir dir;
    const Scanned got = scanText(dir, "\r\n" + line("/big", 3'000'000'000, -9) + "junk\r\n" +
                                          line("/big", 3'000'000'000, -9, "20260106143012"));
    ASSERT_EQ(got.records.size(), 2u);
    EXPECT_EQ(got.records[0].size, 3'000'000'000);
    EXPECT_EQ(got.records[0].lastWriteTime, (FileTime{5, -9}));
    // Numbered from 1 with blank lines; indexes count the non-blank ones from 0.
    EXPECT_EQ(got.scan.skippedLines, (std::vector<size_t>{3}));
    EXPECT_EQ(got.records[1].lineIndex, 2u);
    EXPECT_EQ(got.scan.lines, 3u);
    EXPECT_FALSE(got.records[0].dSession == got.records[1].dSession);
}

TEST(CatalogueScan, AMissingFileIsNoCatalogue) {
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(scanCatalogue(
        dir.file("none.fs"), [](clsRestoreFileData&&) {}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(ReadCatalogue(dir.file("none.fs")));
}

}  // namespace
}  // namespace kestrel
