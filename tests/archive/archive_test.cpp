// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/archive.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "archive/sums.h"
#include "archive/volume_reader.h"
#include "archive_support.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace kestrel {
namespace {

class ArchiveTest : public ::testing::Test {
protected:
    test::TestContext t;
    test::TempDir src;
    AppContext& ctx() { return *t.ctx; }
    std::string temp(const std::string& name) { return fs::join(ctx().paths.tempDir(), name); }

    clsArchive::AddResult add(clsArchive& archive, const std::string& name,
                              const std::string& content) {
        return archive.AddFileToArchive(*clsDskFile::fromPath(src.write(name, content)), false);
    }
};

TEST_F(ArchiveTest, TwoFilesInANewPlainVolume) {
    const std::string a = test::noise(3000, 1);
    const std::string b = test::noise(100, 2);
    const auto codes = test::archiveFiles(
        ctx(), "Daily", {src.write("a.doc", a), src.write("b.txt", b), src.write("empty", "")},
        false);
    EXPECT_EQ(codes, (std::vector<clsArchive::AddResult>(3, clsArchive::AddResult::Added)));

    const std::string volume = test::readAll(temp("Daily.uxarc"));
    ASSERT_EQ(volume.size(), 5120u);
    EXPECT_EQ(volume.substr(0, 3000), a);
    EXPECT_EQ(volume.substr(3000, 72), std::string(72, '\0'));
    const std::string descriptor = volume.substr(3072, 512);
    EXPECT_EQ(descriptor.substr(0, src.file("a.doc").size() + 12),
              src.file("a.doc") + "000000003000");
    EXPECT_EQ(descriptor.find("0000000000000000000000003584"), src.file("a.doc").size() + 20);
    EXPECT_EQ(descriptor.substr(descriptor.find_first_of('\0')),
              std::string(512 - (src.file("a.doc").size() + 75), '\0'));
    EXPECT_EQ(volume.substr(3584, 100), b);
    EXPECT_EQ(volume.substr(3684, 412), std::string(412, '\0'));

    const Catalogue cat = test::catalogueOf(ctx(), "Daily");
    ASSERT_EQ(cat.records.size(), 3u);
    EXPECT_EQ(cat.records[0].soffs, 0);
    EXPECT_EQ(cat.records[0].dendoffset, 3584);
    EXPECT_EQ(cat.records[1].soffs, 3584);
    EXPECT_EQ(cat.records[1].dendoffset, 4608);
    EXPECT_EQ(cat.records[0].recsize, 512);
    EXPECT_EQ(cat.records[1].recsize, 512);
    // An empty file gets a descriptor only.
    EXPECT_EQ(cat.records[2].size, 0);
    EXPECT_EQ(cat.records[2].crc, "00000000");
    EXPECT_EQ(cat.records[2].dendoffset, 5120);
    EXPECT_EQ(cat.records[0].arcStart, "Daily");
    EXPECT_EQ(cat.records[0].dSession.format("yyyyMMddHHmmss"), "20260105143012");
    const auto facts = statFile(src.file("a.doc"));
    EXPECT_EQ(cat.records[0].lastWriteTime, facts->lastWriteTime);
    EXPECT_EQ(cat.records[0].Attrib, facts->attributes);
    EXPECT_TRUE(text::endsWith(test::readAll(temp("Daily.fs")), "\r\n"));
}

// Names that are prefixes of each other, the empty name, names across the filled blocks and
// one longer than a block: each is found once added, and only then.
TEST(NameSetTest, FindsEveryNameAddedAndNoOtherAcrossGrowthAndBlocks) {
    std::vector<std::string> names = {"", "a", "ab", "a/b", std::string(3 << 20, 'x')};
    for (int i = 0; i < 5000; ++i) {
        names.push_back("/d" + std::to_string(i % 7) + "/" + std::string(300, 'n') +
                        std::to_string(i));
    }
    NameSet set;
    std::set<std::string> model;
    for (size_t i = 0; i < names.size(); i += 2) {
        EXPECT_TRUE(set.insert(names[i]));
        model.insert(names[i]);
    }
    for (size_t i = 0; i < names.size(); i += 3) {
        EXPECT_EQ(set.insert(names[i]), model.insert(names[i]).second) << i;
    }
    EXPECT_EQ(set.size(), model.size());
    for (const std::string& name : names) {
        EXPECT_EQ(set.contains(name), model.count(name) == 1) << name.substr(0, 40);
    }
    EXPECT_FALSE(set.contains("ab/"));
    set.clear();
    EXPECT_FALSE(set.contains("a"));
    EXPECT_TRUE(set.insert("a"));
    EXPECT_TRUE(set.contains("a"));
}

TEST_F(ArchiveTest, DuplicatesAreRefusedAndAnArchiveThatIsNotOpenAddsNothing) {
    clsArchive archive(ctx().control, ctx().paths.tempDir());
    EXPECT_EQ(add(archive, "x", "1"), clsArchive::AddResult::Failed);
    archive.NewArchive(test::sessionOf("D"));
    const clsDskFile x = *clsDskFile::fromPath(src.file("x"));
    EXPECT_EQ(archive.AddFileToArchive(x, false), clsArchive::AddResult::Added);
    EXPECT_EQ(archive.AddFileToArchive(x, false), clsArchive::AddResult::Duplicate);
    EXPECT_EQ(archive.AddFileToArchive(x, true), clsArchive::AddResult::DuplicateFlagged);
    EXPECT_TRUE(archive.CloseArchive());
    EXPECT_EQ(*fs::fileSize(temp("D.uxarc")), 1024);
    EXPECT_EQ(test::catalogueOf(ctx(), "D").records.size(), 1u);

    t.dir.write("blocked", "a file where the folder should be");
    clsArchive blocked(ctx().control, t.dir.file("blocked/archives"));
    blocked.NewArchive(test::sessionOf("B"));
    EXPECT_FALSE(blocked.isOpen());
    EXPECT_FALSE(blocked.status().text().empty());
}

TEST_F(ArchiveTest, SplitsALargeFileAtBlockBoundaries) {
    const std::string big = test::noise(2'500'000, 1);
    const auto codes =
        test::archiveFiles(ctx(), "base", {src.write("big.bin", big)}, false, 1'000'000);
    EXPECT_EQ(codes, std::vector<clsArchive::AddResult>{clsArchive::AddResult::Added});
    EXPECT_EQ(*fs::fileSize(temp("base.uxarc")), 62 * 16384);
    EXPECT_EQ(*fs::fileSize(temp("base-001.uxarc")), 62 * 16384);
    EXPECT_EQ(*fs::fileSize(temp("base-002.uxarc")), 30 * 16384);
    const Catalogue cat = test::catalogueOf(ctx(), "base");
    ASSERT_EQ(cat.records.size(), 1u);
    EXPECT_EQ(cat.records[0].arcStart, "base");
    EXPECT_EQ(cat.records[0].soffs, 0);
    EXPECT_EQ(cat.records[0].arcEnd, "base-002");
    EXPECT_EQ(cat.records[0].dendoffset, 491520);
}

TEST_F(ArchiveTest, AFullVolumeMakesTheNextFileStartInTheNextOne) {
    // The first file's last block passes the split size: the rest goes to the next volume.
    const auto codes = test::archiveFiles(
        ctx(), "F", {src.write("one", test::noise(1024, 1)), src.write("two", test::noise(10, 1))},
        false, 1024);
    EXPECT_EQ(codes, (std::vector<clsArchive::AddResult>(2, clsArchive::AddResult::Added)));
    const Catalogue cat = test::catalogueOf(ctx(), "F");
    ASSERT_EQ(cat.records.size(), 2u);
    EXPECT_EQ(cat.records[0].arcEnd, "F-001");
    EXPECT_EQ(cat.records[0].dendoffset, 512);
    EXPECT_EQ(cat.records[1].arcStart, "F-001");
    EXPECT_EQ(cat.records[1].soffs, 512);
    EXPECT_EQ(cat.records[1].arcEnd, "F-002");
}

TEST_F(ArchiveTest, CancelOfAFileAtOffsetZeroLeavesItsBlocks) {
    clsArchive archive(ctx().control, ctx().paths.tempDir());
    archive.NewArchive(test::sessionOf("C0"));
    t.host.onYield = [&] { ctx().flags.bCancelFile = true; };
    EXPECT_EQ(add(archive, "f", test::noise(2000, 1)), clsArchive::AddResult::Cancelled);
    t.host.onYield = nullptr;
    EXPECT_TRUE(archive.CloseArchive());
    EXPECT_EQ(*fs::fileSize(temp("C0.uxarc")), 512);
    EXPECT_TRUE(test::readAll(temp("C0.fs")).empty());
}

TEST_F(ArchiveTest, ClearFlagDeletesEveryFileOfThatName) {
    for (const char* name :
         {"Daily.fs", "Daily.uxarc", "Daily-001.uxarc", "Daily2.fs", "Other.fs"}) {
        t.dir.write(std::string("temp/") + name, "old");
    }
    clsArchive archive(ctx().control, ctx().paths.tempDir());
    archive.NewArchive(test::sessionOf("Daily"));
    for (const char* gone : {"Daily.fs", "Daily.uxarc", "Daily-001.uxarc", "Daily2.fs"}) {
        EXPECT_FALSE(fs::exists(temp(gone))) << gone;
    }
    EXPECT_TRUE(fs::exists(temp("Other.fs")));
    clsArchive keep(ctx().control, ctx().paths.tempDir());
    t.dir.write("temp/Daily.fs", "old");
    keep.NewArchive(test::sessionOf("Daily", false));
    EXPECT_TRUE(fs::exists(temp("Daily.fs")));
}

TEST_F(ArchiveTest, CompressedVolumesDecompressToThePlainBytes) {
    const std::vector<std::string> files = {src.write("one", test::noise(150'000, 7)),
                                            src.write("two", std::string(70'000, 'a')),
                                            src.write("three", "")};
    test::archiveFiles(ctx(), "P", files, false);
    test::archiveFiles(ctx(), "Q", files, true);
    const std::string plain = test::readAll(temp("P.uxarc"));
    const std::string unzipped = test::gunzip(temp("Q.uxarc"));
    // The descriptors hold the time of the add; the session is the same second in both.
    EXPECT_EQ(unzipped, plain);
    EXPECT_LT(*fs::fileSize(temp("Q.uxarc")), static_cast<std::int64_t>(plain.size()));
    EXPECT_FALSE(fs::exists(temp("P-001.uxarc"))) << "split size 0 never splits";
}

TEST_F(ArchiveTest, SplitCompressedVolumesAreWholeGzipStreamsOfTheBlocks) {
    std::string text;
    while (text.size() < 3'000'000) {
        text += "line " + std::to_string(text.size()) + " of some compressible text\n";
    }
    const std::string path = src.write("log.txt", text);
    test::archiveFiles(ctx(), "S", {path}, true, 100'000);
    int volumes = 0;
    for (std::string name = "S"; fs::exists(temp(name + ".uxarc")); name = nextVolumeName(name)) {
        // Each volume, unpacked, is a plain volume the reader can use.
        t.dir.write("plain/" + name + ".uxarc", test::gunzip(temp(name + ".uxarc")));
        ++volumes;
    }
    EXPECT_GT(volumes, 2);

    const Catalogue cat = test::catalogueOf(ctx(), "S");
    ASSERT_EQ(cat.records.size(), 1u);
    FolderVolumes plain(t.dir.file("plain"));
    VolumeReader reader(nullptr, plain, false);
    const auto [r, back] = test::extracted(reader, cat.records[0]);
    EXPECT_EQ(r.status, ExtractStatus::Ok);
    EXPECT_EQ(back, text);
}

TEST_F(ArchiveTest, AFileThatChangesWhileArchivedIsRecordedAsArchived) {
    const std::string grow = src.write("grow", test::noise(5000, 1));
    const std::string shrink = src.write("shrink", test::noise(600'000, 1));
    clsArchive archive(ctx().control, ctx().paths.tempDir());
    archive.NewArchive(test::sessionOf("W"));
    t.host.onYield = [&] { std::filesystem::resize_file(grow, 20000); };
    ASSERT_EQ(archive.AddFileToArchive(*clsDskFile::fromPath(grow), false),
              clsArchive::AddResult::Added);
    t.host.onYield = [&] {
        if (std::filesystem::file_size(shrink) > 300'000) {
            std::filesystem::resize_file(shrink, 300'000);
        }
    };
    ASSERT_EQ(archive.AddFileToArchive(*clsDskFile::fromPath(shrink), false),
              clsArchive::AddResult::Added);
    t.host.onYield = nullptr;
    EXPECT_TRUE(archive.CloseArchive());

    const Catalogue cat = test::catalogueOf(ctx(), "W");
    ASSERT_EQ(cat.records.size(), 2u);
    EXPECT_EQ(cat.records[0].size, 5000);
    // Read ahead of the blocks, the first 256 KiB were taken before the file shrank.
    EXPECT_EQ(cat.records[1].size, 300'000);
    FolderVolumes volumes(ctx().paths.tempDir());
    VolumeReader reader(nullptr, volumes, false);
    for (const auto& rec : cat.records) {
        const auto [r, back] = test::extracted(reader, rec);
        EXPECT_EQ(r.status, ExtractStatus::Ok);
        EXPECT_EQ(static_cast<std::int64_t>(back.size()), rec.size);
    }
}

// A source that is no regular file or is gone fails to open, and the next add goes on.
TEST_F(ArchiveTest, WhatCannotBeOpenedFailsTheAdd) {
    ASSERT_EQ(::mkfifo(src.file("fifo").c_str(), 0600), 0);
    const clsDskFile gone = *clsDskFile::fromPath(src.write("gone", "x"));
    std::filesystem::remove(src.file("gone"));
    clsArchive archive(ctx().control, ctx().paths.tempDir());
    archive.NewArchive(test::sessionOf("M"));
    EXPECT_EQ(archive.AddFileToArchive(*clsDskFile::fromPath(src.file("fifo")), false),
              clsArchive::AddResult::OpenFailed);
    EXPECT_TRUE(t.loggedContaining("not a regular file"));
    EXPECT_EQ(archive.AddFileToArchive(gone, false), clsArchive::AddResult::OpenFailed);
    EXPECT_NE(archive.status().text().find("gone"), std::string::npos);
    EXPECT_EQ(add(archive, "ok", "x"), clsArchive::AddResult::Added);
}

// A new checksum file is compact; one that is there takes each session in its own form, after
// its whole records.
TEST_F(ArchiveTest, ChecksumsAreAppendedInTheFormOfTheFileThere) {
    const std::string sums = temp("S.fs.sums");
    auto session = [&](bool clear, const std::string& name) {
        clsArchive archive(ctx().control, ctx().paths.tempDir());
        archive.NewArchive(test::sessionOf("S", clear));
        EXPECT_EQ(add(archive, name, name), clsArchive::AddResult::Added);
        EXPECT_TRUE(archive.CloseArchive());
    };
    // Every catalogue line has its entry, and nothing reads as damaged.
    auto expectAllCovered = [&](size_t sessions) {
        auto read = parseSums(test::readAll(sums));
        ASSERT_TRUE(read);
        EXPECT_TRUE(read->skippedLines.empty());
        EXPECT_EQ(read->covers.size(), sessions);
        size_t lines = 0;
        for (std::string line : text::split(test::readAll(temp("S.fs")), '\n')) {
            if (!line.empty()) {
                line.pop_back();  // its CR
                ++lines;
                EXPECT_NE(read->find(digestOf(line)), nullptr) << line;
            }
        }
        EXPECT_EQ(read->order.size(), lines);
    };
    session(true, "a");
    EXPECT_TRUE(text::startsWith(test::readAll(sums), "KestrelSums=3|"));
    session(false, "b");
    expectAllCovered(2);

    // A crash cut the last session's covers record.
    const std::string whole = test::readAll(sums);
    t.dir.write("temp/S.fs.sums", whole.substr(0, whole.size() - 4));
    session(false, "c");
    expectAllCovered(2);

    // The same entries in the text form of an older version stay text.
    auto read = parseSums(test::readAll(sums));
    ASSERT_TRUE(read);
    SumsWriter text2(2);
    std::string old = text2.header(0);
    for (const std::string& raw : read->order) {
        Digest line{};
        std::copy(raw.begin(), raw.end(), line.begin());
        old += text2.entry(line, read->byLine.at(raw).content, read->byLine.at(raw).fname);
    }
    t.dir.write("temp/S.fs.sums", old);
    session(false, "d");
    EXPECT_TRUE(text::startsWith(test::readAll(sums), "KestrelSums=2|"));
    expectAllCovered(1);
}

}  // namespace
}  // namespace kestrel
