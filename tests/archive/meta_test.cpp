// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/meta.h"

#include <gtest/gtest.h>

#include "archive_support.h"

namespace kestrel {
namespace {

std::string factsFile(size_t files) {
    std::string out = metaHeader() + "\r\n" +
                      metaSessionLine(*DateTime::fromParts(2026, 1, 5, 14, 30, 12)) + "\r\n";
    for (size_t i = 0; i < files; ++i) {
        out += metaFileLine(digestOf(std::to_string(i)),
                            PosixFacts{0644, static_cast<std::uint32_t>(i), 100}) +
               "\r\n";
    }
    out += metaFolderLine(FolderFact{"/home/u|x", PosixFacts{0755, 1, 2}}) + "\r\n";
    out += metaLinkLine(LinkFact{"/home/u/l", "../t", PosixFacts{0777, 1, 2}}) + "\r\n";
    return out;
}

// Read from disk in pieces, a facts file tells what its whole text tells; the facts of a file
// recorded twice are the later ones; damaged lines are numbered; without the files' facts the
// folders, links and damaged lines stay.
TEST(Meta, ReadInPiecesAsItsWholeText) {
    const std::string small = factsFile(3);
    const std::string twice = small + metaFileLine(digestOf("1"), PosixFacts{0600, 7, 8}) + "\r\n";
    const struct {
        const char* what;
        std::string content;
        size_t files;  // numbered 0..files-1 as factsFile writes them
        std::vector<size_t> skipped;
    } cases[] = {
        {"whole", small, 3, {}},
        {"larger than a piece", factsFile(15000), 15000, {}},
        {"a file recorded twice", twice, 3, {}},
        {"damaged and cut lines",
         small + "file=xyz|mode=644|uid=1|gid=1\r\n\r\nsize=3\r\n" +
             metaFileLine(digestOf("cut"), PosixFacts{0644, 1, 1}),
         3,
         {8, 10, 11}},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<Meta> want = parseMeta(c.content);
        ASSERT_TRUE(want);
        EXPECT_EQ(want->skippedLines, c.skipped);
        const std::string path = dir.write("J.fs.meta", c.content);
        // Every file's facts, none, or those of the even-numbered files only.
        std::vector<Digest> even;
        for (size_t i = 0; i < c.files; i += 2) {
            even.push_back(digestOf(std::to_string(i)));
        }
        for (int mode = 0; mode < 3; ++mode) {
            SCOPED_TRACE(mode);
            const bool withFiles = mode != 1;
            const MetaFile got =
                ReadMeta(path, withFiles, mode == 2 ? std::optional(even) : std::nullopt);
            ASSERT_EQ(got.status, MetaFile::Status::Read);
            const Meta& meta = *got.meta;
            EXPECT_EQ(meta.skippedLines, c.skipped);
            EXPECT_EQ(meta.fileCount(), mode == 0 ? c.files : mode == 1 ? 0 : even.size());
            for (size_t i = 0; i < c.files; ++i) {
                const PosixFacts* facts = meta.find(digestOf(std::to_string(i)));
                ASSERT_EQ(facts != nullptr, mode == 0 || (mode == 2 && i % 2 == 0)) << i;
                if (facts != nullptr) {
                    EXPECT_EQ(*facts, *want->find(digestOf(std::to_string(i))));
                }
            }
            EXPECT_EQ(meta.find(digestOf("absent")), nullptr);
            ASSERT_EQ(meta.sessions.size(), want->sessions.size());
            ASSERT_EQ(meta.sessions.size(), 1u);
            ASSERT_EQ(meta.sessions[0].folders.size(), 1u);
            EXPECT_EQ(meta.sessions[0].folders[0].path, "/home/u|x");
            ASSERT_EQ(meta.sessions[0].links.size(), 1u);
            EXPECT_EQ(meta.sessions[0].links[0].target, "../t");
        }
    }
    const PosixFacts later{0600, 7, 8};
    EXPECT_EQ(*parseMeta(twice)->find(digestOf("1")), later);
    // No header, or nothing at all: no facts file.
    for (const std::string& notMeta : {std::string(), "file=x\r\n" + small}) {
        EXPECT_FALSE(parseMeta(notMeta));
        EXPECT_EQ(ReadMeta(dir.write("N.fs.meta", notMeta)).status, MetaFile::Status::Damaged);
    }
    EXPECT_EQ(ReadMeta(dir.file("none.meta")).status, MetaFile::Status::Missing);
}

}  // namespace
}  // namespace kestrel
