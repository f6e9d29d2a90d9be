// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "archive/catalogue.h"
#include "archive/sums.h"
#include "archive_support.h"

namespace kestrel {
namespace {

struct Written {
    std::string bytes;
    std::vector<std::string> lines;  // the catalogue lines the entries are for
};

// Sessions of entries in one form: the names are unlike each other, so that a large file stays
// large when compressed and its frames cross the pieces it is read in.
Written writeFile(int version, size_t sessions, size_t files) {
    SumsWriter w(version);
    Written out;
    out.bytes = w.header(1);
    std::string catalogue = "an older line\r\n";
    for (size_t s = 0; s < sessions; ++s) {
        for (size_t i = 0; i < files; ++i) {
            const std::string name =
                "/home/u/" + digestHex(digestOf(std::to_string(s * files + i)));
            out.lines.push_back("line of " + name);
            catalogue += out.lines.back() + "\r\n";
            out.bytes += w.entry(digestOf(out.lines.back()), digestOf(name), name);
        }
        out.bytes += w.covers(catalogue);
    }
    return out;
}

void expectSameVerdict(const SumsVerdict& got, const SumsVerdict& want, bool named) {
    EXPECT_EQ(got.belongs, want.belongs);
    EXPECT_EQ(got.lost, want.lost);
    if (named) {
        EXPECT_EQ(got.lostNames, want.lostNames);
    }
}

// The compact reader, read from disk in pieces, tells what the whole-text reader tells: the
// same entries, covers, damaged lines, checks and verdicts, in every keeping mode (Wanted:
// every other line of the catalogue).
TEST(SumsIndex, ReadsWhatTheTextReaderReads) {
    const Written v2 = writeFile(2, 2, 5);
    const Written v3 = writeFile(3, 3, 200);
    const Written large = writeFile(3, 1, 20000);  // over one piece
    const Written largeText = writeFile(2, 1, 9000);
    const std::string v1 = "KestrelSums=1|linesBefore=2\r\nline=" + std::string(64, 'a') +
                           "|b2=" + std::string(64, 'b') + "\r\n";
    // The same line twice: the first entry counts.
    SumsWriter twice;
    const std::string duplicate = twice.header(0) + twice.entry(digestOf("l"), digestOf("1"), "a") +
                                  twice.entry(digestOf("l"), digestOf("2"), "b");
    const struct {
        const char* what;
        std::string content;
        std::vector<std::string> lines;
    } cases[] = {
        {"version 1", v1, {}},
        {"version 2", v2.bytes, v2.lines},
        {"version 3", v3.bytes, v3.lines},
        {"version 3, larger than a piece", large.bytes, large.lines},
        {"version 2, larger than a piece", largeText.bytes, largeText.lines},
        {"version 3, cut", v3.bytes.substr(0, v3.bytes.size() / 2), v3.lines},
        {"version 3, a frame changed", v3.bytes.substr(0, 500) + "#" + v3.bytes.substr(501),
         v3.lines},
        {"version 2, cut", v2.bytes.substr(0, v2.bytes.size() - 30), v2.lines},
        {"the same line twice", duplicate, {"l"}},
        {"a header only", SumsWriter().header(4), {}},
        {"empty", "", {}},
        {"no checksum file", "KestrelSums=3|linesBefore=x\r\n", {}},
        {"a header cut", "KestrelSums=3|linesBef", {}},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.write("J.fs.sums", c.content);
        const std::optional<Sums> want = parseSums(c.content);
        std::vector<Digest> everyOtherLine;
        for (size_t i = 0; i < c.lines.size(); i += 2) {
            everyOtherLine.push_back(digestOf(c.lines[i]));
        }
        for (SumsIndex::Keep keep :
             {SumsIndex::Keep::All, SumsIndex::Keep::Verdict, SumsIndex::Keep::Wanted}) {
            const bool all = keep == SumsIndex::Keep::All;
            SCOPED_TRACE(static_cast<int>(keep));
            const SumsFile got =
                ReadSums(path, keep,
                         keep == SumsIndex::Keep::Wanted ? everyOtherLine : std::vector<Digest>());
            ASSERT_EQ(got.status, want ? SumsFile::Status::Read : SumsFile::Status::Damaged);
            if (!want) {
                EXPECT_FALSE(got.error.empty());
                continue;
            }
            const SumsIndex& index = *got.sums;
            EXPECT_EQ(index.linesBefore, want->linesBefore);
            EXPECT_EQ(index.skippedLines, want->skippedLines);
            ASSERT_EQ(index.covers.size(), want->covers.size());
            for (size_t i = 0; i < want->covers.size(); ++i) {
                EXPECT_EQ(index.covers[i].lines, want->covers[i].lines);
                EXPECT_EQ(index.covers[i].bytes, want->covers[i].bytes);
                EXPECT_EQ(index.covers[i].digest, want->covers[i].digest);
            }
            EXPECT_EQ(index.size(), want->order.size());
            // Every line of the catalogue, and one no entry is for, at each place.
            std::vector<Digest> digests;
            for (const std::string& line : c.lines) {
                digests.push_back(digestOf(line));
            }
            digests.push_back(digestOf("absent"));
            for (size_t i = 0; i < digests.size(); ++i) {
                const Digest* expected = nullptr;
                const Digest* wanted = nullptr;
                const CheckKind kind = checkKindFor(&index, digests[i], i, &expected);
                const CheckKind wantKind = checkKindFor(&*want, digests[i], i, &wanted);
                const bool wantedLine =
                    keep == SumsIndex::Keep::Wanted && i < c.lines.size() && i % 2 == 0;
                if (all || wantedLine) {
                    EXPECT_EQ(kind, wantKind) << i;
                    ASSERT_EQ(expected == nullptr, wanted == nullptr) << i;
                    if (expected != nullptr) {
                        EXPECT_EQ(*expected, *wanted) << i;
                    }
                } else {
                    EXPECT_EQ(index.find(digests[i]), nullptr);
                }
            }
            // The whole catalogue, one that lost every other line, and another catalogue.
            digests.pop_back();
            std::vector<Digest> everyOther;
            for (size_t i = 0; i < digests.size(); i += 2) {
                everyOther.push_back(digests[i]);
            }
            for (const std::vector<Digest>& present :
                 {digests, everyOther, std::vector<Digest>{digestOf("another")}}) {
                expectSameVerdict(judgeSums(index, "another\r\n", present),
                                  judgeSums(*want, "another\r\n", present), all);
            }
        }
    }
}

// What a covers record says of a catalogue is the same fed in pieces as whole: its non-blank
// lines (a CR before a line end is no content, one elsewhere is), size and digest.
TEST(SumsIndex, CatalogueStateInPieces) {
    test::TempDir dir;
    const std::vector<std::string> catalogues = {
        "", "a", "a\r\n", " \t\r\n", "\r\r\n", "a\rb\n", "x\n\n \r\ny", "\r", "line\r\n\r\n "};
    for (const std::string& catalogue : catalogues) {
        SCOPED_TRACE(catalogue);
        CatalogueStateReader bytewise;
        for (const char c : catalogue) {
            bytewise.update(std::string_view(&c, 1));
        }
        const std::optional<CatalogueState> read =
            readCatalogueState(dir.write("J.fs", catalogue), nullptr);
        ASSERT_TRUE(read);
        for (const CatalogueState& state : {bytewise.final(), *read}) {
            EXPECT_EQ(state.lines, countCatalogueLines(catalogue));
            EXPECT_EQ(state.bytes, static_cast<std::int64_t>(catalogue.size()));
            EXPECT_EQ(state.digest, digestOf(catalogue));
        }
    }
    EXPECT_FALSE(readCatalogueState(dir.file("none.fs"), nullptr));
}

// The plan for appending, read from the file frame head by frame head, is the one its whole
// text gives.
TEST(SumsIndex, AppendPlanFromTheFile) {
    const Written v3 = writeFile(3, 2, 3);
    const Written v2 = writeFile(2, 1, 3);
    const std::string v1 = "KestrelSums=1|linesBefore=1\r\n";
    test::TempDir dir;
    for (const std::string& content :
         {v3.bytes, v3.bytes.substr(0, v3.bytes.size() - 5), v3.bytes.substr(0, 40),
          v3.bytes.substr(0, 100) + "X" + v3.bytes.substr(101), v2.bytes, v1,
          std::string("KestrelSums=3|linesBefore=0\r\n")}) {
        const SumsAppend want = sumsAppendPlan(content);
        const std::optional<SumsAppend> got =
            readSumsAppendPlan(dir.write("J.fs.sums", content), nullptr);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->version, want.version);
        EXPECT_EQ(got->replacement, want.replacement);
    }
}

}  // namespace
}  // namespace kestrel
