// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>

#include "archive/format.h"
#include "archive/volume_reader.h"
#include "archive_support.h"

namespace kestrel {
namespace {

// Files at every record-size boundary, by the record size they get.
const std::pair<std::int64_t, std::vector<std::int64_t>> kSizes[] = {
    {512, {0, 1, 511, 512, 513, 4096, 102'399}},
    {1'024, {102'400, 102'401, 255'999}},
    {2'048, {256'000, 511'999}},
    {4'096, {512'000, 1'048'575}},
    {16'384, {1'048'576, 10'485'759}},
    {28'672, {10'485'760, 10'485'761}},
};

// A tree of files of those sizes, with awkward names; recSizes gets their record sizes.
std::vector<std::string> makeTree(test::TempDir& dir, std::vector<std::int64_t>& recSizes) {
    const char* names[] = {"plain",       "with, comma",  "with|bar",
                           "with space ", "ümlaut ä.txt", "a|size=1|fname=b"};
    std::mt19937 gen(42);
    std::vector<std::string> paths;
    int i = 0;
    for (const auto& [recSize, sizes] : kSizes) {
        for (const std::int64_t size : sizes) {
            std::string content(static_cast<size_t>(size), '\0');
            // Half compressible, half not.
            for (size_t k = 0; k < content.size(); ++k) {
                content[k] =
                    (i % 2 == 0) ? static_cast<char>(gen()) : static_cast<char>('a' + k % 7);
            }
            const std::string name = std::string(names[i % 6]) + " " + std::to_string(size);
            paths.push_back(dir.write("tree/sub " + std::to_string(i % 3) + "/" + name, content));
            recSizes.push_back(recSize);
            ++i;
        }
    }
    return paths;
}

struct Variant {
    const char* name;
    bool zipped;
    std::int64_t split;
};

class RoundTrip : public ::testing::TestWithParam<Variant> {};

TEST_P(RoundTrip, EveryByteAndTimeComesBack) {
    test::TestContext t;
    test::TempDir src;
    std::vector<std::int64_t> recSizes;
    const auto paths = makeTree(src, recSizes);
    const Variant v = GetParam();
    const auto codes = test::archiveFiles(*t.ctx, v.name, paths, v.zipped, v.split);
    for (const clsArchive::AddResult code : codes) {
        EXPECT_EQ(code, clsArchive::AddResult::Added);
    }
    const Catalogue cat = test::catalogueOf(*t.ctx, v.name);
    ASSERT_EQ(cat.records.size(), paths.size());
    EXPECT_TRUE(cat.skippedLines.empty());

    FolderVolumes volumes(t.ctx->paths.tempDir());
    VolumeReader reader(&t.ctx->control, volumes, v.zipped);
    for (size_t i = 0; i < paths.size(); ++i) {
        const clsRestoreFileData& rec = cat.records[i];
        EXPECT_EQ(rec.fname, paths[i]);
        EXPECT_EQ(rec.recsize, recSizes[i]) << rec.fname;
        const auto [r, back] = test::extracted(reader, rec);
        EXPECT_EQ(r.status, ExtractStatus::Ok) << rec.fname << ": " << r.detail;
        EXPECT_TRUE(back == test::readAll(paths[i])) << rec.fname;
        const auto facts = statFile(paths[i]);
        EXPECT_EQ(rec.lastWriteTime, facts->lastWriteTime);
        EXPECT_EQ(rec.creationTime, facts->creationTime);
        EXPECT_EQ(rec.Attrib, facts->attributes);
    }
}

INSTANTIATE_TEST_SUITE_P(Archive, RoundTrip,
                         ::testing::Values(Variant{"Plain", false, 0},
                                           Variant{"PlainSplit", false, 3'000'000},
                                           Variant{"Zipped", true, 0},
                                           Variant{"ZippedSplit", true, 2'000'000}),
                         [](const auto& info) { return std::string(info.param.name); });

// Damage to a volume or a catalogue line is reported: no padding, no huge blocks, no overflow.
TEST(VolumeReader, DamagedVolumesAndRecordsAreReported) {
    test::TestContext t;
    test::TempDir src;
    test::archiveFiles(*t.ctx, "V", {src.write("a", std::string(40'000, 'k'))}, false, 20'000);
    const std::string dir = t.ctx->paths.tempDir();
    const Catalogue cat = test::catalogueOf(*t.ctx, "V");
    ASSERT_EQ(cat.records.size(), 1u);
    struct Case {
        const char* what;
        std::function<void(clsRestoreFileData&)> damage;  // to the record or the volumes
        ExtractStatus status;
    };
    const Case cases[] = {
        {"as archived", [](clsRestoreFileData&) {}, ExtractStatus::Ok},
        {"aborted", [&](clsRestoreFileData&) { t.ctx->flags.bAbortBackup = true; },
         ExtractStatus::Aborted},
        {"no block size", [](clsRestoreFileData& rec) { rec.recsize = 0; }, ExtractStatus::Damaged},
        {"a block size no writer uses",
         [](clsRestoreFileData& rec) { rec.recsize = kMaxRecSize + 4; }, ExtractStatus::Damaged},
        {"an offset near the largest",
         [](clsRestoreFileData& rec) {
             rec.soffs = std::numeric_limits<std::int64_t>::max() - 100;
         },
         ExtractStatus::Damaged},
        {"a flipped byte",
         [&](clsRestoreFileData&) {
             std::fstream f(dir + "V.uxarc", std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(100);
             f.put('j');
         },
         ExtractStatus::ChecksumMismatch},
        {"a later volume cut short",
         [&](clsRestoreFileData&) { std::filesystem::resize_file(dir + "V-001.uxarc", 1000); },
         ExtractStatus::Damaged},
        {"a later volume missing",
         [&](clsRestoreFileData&) { std::filesystem::remove(dir + "V-001.uxarc"); },
         ExtractStatus::VolumeMissing},
    };
    FolderVolumes volumes(dir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        t.ctx->flags.bAbortBackup = false;
        clsRestoreFileData rec = cat.records[0];
        c.damage(rec);
        VolumeReader reader(&t.ctx->control, volumes, false);
        const auto [r, produced] = test::extracted(reader, rec);
        EXPECT_EQ(r.status, c.status) << r.detail;
        if (c.status == ExtractStatus::Ok || c.status == ExtractStatus::ChecksumMismatch) {
            EXPECT_EQ(static_cast<std::int64_t>(produced.size()), rec.size);
        } else {
            EXPECT_LT(static_cast<std::int64_t>(produced.size()), rec.size);
        }
        if (c.status == ExtractStatus::VolumeMissing) {
            EXPECT_EQ(r.volume, "V-001");
        }
    }
    VolumeReader reader(nullptr, volumes, false);
    EXPECT_EQ(reader.extract(cat.records[0], [](std::string_view) { return false; }).status,
              ExtractStatus::WriteFailed);
}

TEST(VolumeReader, FilesAboveTwoGibibytes) {
    test::TestContext t;
    test::TempDir src;
    const std::string path = src.write("huge.img", "");
    const std::int64_t size = (2LL << 30) + 12345;
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(size - 5);
        f.write("tail!", 5);
    }
    EXPECT_EQ(test::archiveFiles(*t.ctx, "H", {path}, false),
              std::vector<clsArchive::AddResult>{clsArchive::AddResult::Added});
    const Catalogue cat = test::catalogueOf(*t.ctx, "H");
    ASSERT_EQ(cat.records.size(), 1u);
    EXPECT_EQ(cat.records[0].size, size);
    EXPECT_EQ(cat.records[0].recsize, 28'672);
    FolderVolumes volumes(t.ctx->paths.tempDir());
    VolumeReader reader(nullptr, volumes, false);
    std::int64_t n = 0;
    std::string last;
    EXPECT_EQ(reader
                  .extract(cat.records[0],
                           [&](std::string_view d) {
                               n += static_cast<std::int64_t>(d.size());
                               last = std::string(d.substr(d.size() >= 5 ? d.size() - 5 : 0));
                               return true;
                           })
                  .status,
              ExtractStatus::Ok);
    EXPECT_EQ(n, size);
    EXPECT_EQ(last, "tail!");
}

}  // namespace
}  // namespace kestrel
