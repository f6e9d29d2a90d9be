// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/format.h"

#include <gtest/gtest.h>

#include <map>

#include "archive/catalogue.h"
#include "archive/sums.h"
#include "archive_support.h"
#include "platform/fs.h"

namespace kestrel {
namespace {

TEST(ArchiveFormat, ChecksumIsTheXorOfFourByteGroups) {
    FoldChecksum sum;
    EXPECT_EQ(ChecksumToHex(sum.bytes()), "00000000");
    sum.fold(std::string("\x01\x02\x03\x04\x10\x20\x30\x40", 8));
    EXPECT_EQ(ChecksumToHex(sum.bytes()), "11223344");
    // The state carries over blocks, and groups at any 4-byte position count alike.
    sum.fold(std::string("\x00\x00\x00\x00\x00\x00\x00\x00\xf0\x00\x00\x0f", 12));
    EXPECT_EQ(ChecksumToHex(sum.bytes()), "E122334B");
    EXPECT_EQ(ChecksumToHex(std::string("\xab\x0c\x00\xff", 4)), "AB0C00FF");
}

clsArchiveFileData reportDoc() {
    clsArchiveFileData f;
    f.sFileName = "C:\\Data\\report.doc";
    f.dSize = 3000;
    f.crc32 = std::string("\x1f\x00\xa2\xc4", 4);
    f.dStartOffset = 0;
    f.dEndOffset = 3584;
    f.AddDate = *DateTime::fromParts(2026, 1, 5, 14, 30, 12);
    f.dAttributes = 32;
    f.RecSize = 512;
    f.sArchiveStart = "Daily";
    f.sArchiveEnd = "Daily";
    f.tCreationTimeSet(29563521, -1163529728);
    f.tLastAccessTimeSet(29563600, 104857600);
    f.tLastWriteTimeSet(29563590, -20971520);
    return f;
}

TEST(ArchiveFormat, DescriptorAndCatalogueLineOfTheWorkedExample) {
    const std::string text = descriptorText(reportDoc());
    EXPECT_EQ(text,
              "C:\\Data\\report.doc000000003000"
              "1F00A2C4"
              "00000000000000"
              "00000000003584"
              "20260105143012"
              "0000000000032");
    EXPECT_EQ(text.size(), 93u);

    // Long paths are cut.
    clsArchiveFileData f = reportDoc();
    f.sFileName = std::string(300, 'p');
    const std::string cut = descriptorText(f);
    EXPECT_EQ(cut.substr(0, 256), std::string(255, 'p') + "0");
    EXPECT_EQ(cut.size(), 255u + 75u - 8u);  // the later cuts bite too
    f.sFileName = std::string(247, 'p');
    EXPECT_EQ(descriptorText(f).size(), 247u + 75u);
    EXPECT_EQ(catalogueLine(*DateTime::fromParts(2026, 1, 5, 14, 30, 12), reportDoc()),
              "dSession=20260105143012|RecSize=512|arcStart=Daily|sOffs=0|arcEnd=Daily|"
              "dEndOffset=3584|fname=C:\\Data\\report.doc|size=3000|crc=1F00A2C4|Attrib=32|"
              "dCT=29563521/-1163529728|dLAt=29563600/104857600|dLWt=29563590/-20971520");
}

TEST(ArchiveFormat, VolumeNames) {
    EXPECT_EQ(volumeNumber("Daily"), 0);
    EXPECT_EQ(volumeNumber("Daily-001"), 1);
    EXPECT_EQ(volumeNumber("Docs202603051405-012"), 12);
    EXPECT_EQ(nextVolumeName("Daily"), "Daily-001");
    EXPECT_EQ(nextVolumeName("Daily-009"), "Daily-010");
    EXPECT_EQ(nextVolumeName("Daily-999"), "Daily-1000");
}

constexpr const char* kExample =
    "dSession=20260105143012|RecSize=512|arcStart=Daily|sOffs=0|arcEnd=Daily|dEndOffset=3584|"
    "fname=C:\\Data\\report.doc|size=3000|crc=1F00A2C4|Attrib=32|dCT=29563521/-1163529728|"
    "dLAt=29563600/104857600|dLWt=29563590/-20971520";

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
    // No files: cut after the name, an end offset unfit for the size, no crc, no last line end.
    const std::string cutAfterName = line.substr(0, line.find("|size=")) + "\r\n";
    std::string shifted = good;
    shifted.replace(shifted.find("dEndOffset=3584"), 15, "dEndOffset=4096");
    std::string noCrc = good;
    noCrc.erase(noCrc.find("|crc="), 14);
    const Catalogue c = parseCatalogue(good + "garbage line\r\n\r\n" + good + cutAfterName +
                                       shifted + noCrc + "size=1|fname=/a\n" + line);
    ASSERT_EQ(c.records.size(), 2u);
    EXPECT_EQ(c.skippedLines, (std::vector<size_t>{2, 5, 6, 7, 8, 9}));
    // Line numbers for the checksum file count the non-blank lines.
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

// Digest where the checksum file covers a line, crc before it, unmatched where it misses one.
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
         {"", "line=x\r\n", "KestrelSums=4|linesBefore=0\r\n", "KestrelSums=1|linesBefore=-1\r\n",
          "KestrelSums=2|linesBefore=x", "KestrelSums=3|linesBefore=x\r\n"}) {
        EXPECT_FALSE(parseSums(notSums)) << notSums;
    }
    EXPECT_TRUE(parseSums("KestrelSums=1|linesBefore=0\r\n" + good));
    EXPECT_EQ(upgradedHeader("KestrelSums=1|linesBefore=7"), "KestrelSums=2|linesBefore=7");
    EXPECT_FALSE(upgradedHeader(sumsHeader(7)));
}

// One session's records as the writer appends them, for a file of either form.
struct Session {
    std::string bytes;
    std::vector<std::string> lines;  // the catalogue lines the entries are for
    std::string catalogue;
    size_t coversAt = 0;
};
Session writeSession(SumsWriter& w, size_t files, const std::string& tag, bool header = true) {
    Session s;
    if (header) {
        s.bytes = w.header(1);
    }
    s.catalogue = "an older line\r\n";
    for (size_t i = 0; i < files; ++i) {
        s.lines.push_back("dSession=" + tag + "|fname=/home/u/docs/file" + std::to_string(i));
        s.catalogue += s.lines.back() + "\r\n";
        s.bytes += w.entry(digestOf(s.lines.back()), digestOf(std::to_string(i)),
                           "/home/u/docs/file" + std::to_string(i));
    }
    s.coversAt = s.bytes.size();
    s.bytes += w.covers(s.catalogue);
    return s;
}

TEST(Sums, BothFormsRoundTripAndTheCompactOneIsSmaller) {
    std::map<int, size_t> sizes;
    for (int version : {2, 3}) {
        SCOPED_TRACE(version);
        SumsWriter w(version);
        // More entries than one compressed stream holds.
        const Session s = writeSession(w, SumsWriter::kStreamRecords * 2 + 5, "1");
        sizes[version] = s.bytes.size();
        auto sums = parseSums(s.bytes);
        ASSERT_TRUE(sums);
        EXPECT_EQ(sums->linesBefore, 1u);
        EXPECT_TRUE(sums->skippedLines.empty());
        ASSERT_EQ(sums->order.size(), s.lines.size());
        for (size_t i = 0; i < s.lines.size(); ++i) {
            const Digest* content = sums->find(digestOf(s.lines[i]));
            ASSERT_NE(content, nullptr) << i;
            EXPECT_EQ(*content, digestOf(std::to_string(i)));
            EXPECT_EQ(sums->byLine.at(sums->order[i]).fname,
                      "/home/u/docs/file" + std::to_string(i));
        }
        ASSERT_EQ(sums->covers.size(), 1u);
        EXPECT_EQ(sums->covers[0].lines, s.lines.size() + 1);
        EXPECT_EQ(sums->covers[0].bytes, static_cast<std::int64_t>(s.catalogue.size()));
        EXPECT_EQ(sums->covers[0].digest, digestOf(s.catalogue));
        EXPECT_EQ(ReadSums("/nonexistent/x.sums").status, SumsFile::Status::Missing);
    }
    // The digests do not compress; the rest nearly vanishes.
    EXPECT_LT(sizes[3] * 10, sizes[2] * 6);
}

// A changed frame costs the records of its stream from it on, a cut one what follows; the next
// stream reads again. Damaged records are numbered like lines, the header being the first.
TEST(Sums, DamagedCompactFramesAreSkippedAndNumbered) {
    SumsWriter w;
    std::string file = w.header(0);
    std::vector<size_t> frameStart;
    for (int i = 0; i < 4; ++i) {
        if (i == 2) {
            w.restart();  // a failed append: the third entry begins a stream
        }
        frameStart.push_back(file.size());
        file += w.entry(digestOf("line" + std::to_string(i)), digestOf("x"), "f");
    }
    const struct {
        const char* what;
        std::string content;
        size_t entries;
        std::vector<size_t> skipped;
    } cases[] = {
        {"whole", file, 4, {}},
        {"last frame changed", file.substr(0, file.size() - 1) + "?", 3, {5}},
        {"second frame changed",
         file.substr(0, frameStart[1] + 8) + "#" + file.substr(frameStart[1] + 9),
         3,
         {3}},
        {"first frame of the stream changed",
         file.substr(0, frameStart[0] + 7) + "#" + file.substr(frameStart[0] + 8),
         2,
         {2, 3}},
        {"last frame cut", file.substr(0, file.size() - 3), 3, {5}},
        {"a frame of an unknown kind",
         file.substr(0, frameStart[2]) + "X" + file.substr(frameStart[2] + 1),
         2,
         {4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto sums = parseSums(c.content);
        ASSERT_TRUE(sums);
        EXPECT_EQ(sums->order.size(), c.entries);
        EXPECT_EQ(sums->skippedLines, c.skipped);
    }
    // A file whose first line is no header is no checksum file: damaged as a whole.
    test::TempDir dir;
    const std::string path =
        dir.write("J.fs.sums", "KestrelSums=3|linesBefore=\r\n" + file.substr(file.find('\n') + 1));
    EXPECT_EQ(ReadSums(path).status, SumsFile::Status::Damaged);
}

// A session is appended in the file's form; a compact file a crash cut inside a frame is first
// cut back to its whole frames, or the new session would be read as part of that frame.
TEST(Sums, AppendingKeepsTheFormAndDropsACutFrame) {
    SumsWriter compact;
    const Session first = writeSession(compact, 3, "1");
    SumsWriter text(2);
    const Session old = writeSession(text, 2, "1");
    const std::string v1 = "KestrelSums=1|linesBefore=1\r\nline=" + kLine + "\r\n";
    const struct {
        const char* what;
        std::string content;
        int version;
        std::string replacement;
        size_t entries;
    } cases[] = {
        {"compact", first.bytes, 3, "", 6},
        {"compact, cut", first.bytes.substr(0, first.bytes.size() - 5), 3,
         first.bytes.substr(0, first.coversAt), 6},
        {"text", old.bytes, 2, "", 5},
        {"text of version 1", v1, 2, "KestrelSums=2" + v1.substr(13), 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const SumsAppend plan = sumsAppendPlan(c.content);
        EXPECT_EQ(plan.version, c.version);
        EXPECT_EQ(plan.replacement.value_or(""), c.replacement);
        SumsWriter next(plan.version);
        const std::string appended =
            plan.replacement.value_or(c.content) + writeSession(next, 3, "2", false).bytes;
        auto sums = parseSums(appended);
        ASSERT_TRUE(sums);
        EXPECT_EQ(sums->order.size(), c.entries);
        EXPECT_TRUE(sums->skippedLines.empty());
    }
}

// The verdicts read the same from the compact form: a lost line is named, a file written for
// another catalogue does not belong to this one.
TEST(Sums, LostLinesAndAForeignCatalogueFromTheCompactForm) {
    SumsWriter w;
    const Session s = writeSession(w, 3, "1");
    auto sums = parseSums(s.bytes);
    ASSERT_TRUE(sums);
    const std::string lostOne = "an older line\r\n" + s.lines[0] + "\r\n" + s.lines[2] + "\r\n";
    SumsVerdict v = judgeSums(*sums, lostOne, {digestOf(s.lines[0]), digestOf(s.lines[2])});
    EXPECT_TRUE(v.belongs);
    EXPECT_EQ(v.lost, 1u);
    EXPECT_EQ(v.lostNames, std::vector<std::string>{"/home/u/docs/file1"});
    v = judgeSums(*sums, "another\r\n", {digestOf("another")});
    EXPECT_FALSE(v.belongs);
}

}  // namespace
}  // namespace kestrel
