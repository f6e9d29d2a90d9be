// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/parallel_gzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "archive/gzip_read_ahead.h"
#include "archive_support.h"
#include "platform/fs.h"

namespace kestrel {
namespace {

constexpr size_t kPiece = 32 * 1024;  // the smallest piece, so that tests cross many

// Text that compresses (repeated words) followed by bytes that do not.
std::string mixedBytes(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    static const char* const words[] = {"backup ", "volume ", "session ", "catalogue ", "\n"};
    std::string s;
    while (s.size() < size / 2) {
        s += words[rng() % 5];
    }
    while (s.size() < size) {
        s.push_back(static_cast<char>(rng() & 0xff));
    }
    s.resize(size);
    return s;
}

// Compresses input into path as the archive does; returns path.
std::string compress(const std::string& path, const std::string& input, unsigned workers,
                     size_t chunk, size_t flushEvery = 0) {
    ParallelGzip gz(9, workers, kPiece);
    EXPECT_TRUE(gz.open(path));
    size_t sinceFlush = 0;
    for (size_t at = 0; at < input.size(); at += chunk) {
        const std::string_view part = std::string_view(input).substr(at, chunk);
        EXPECT_TRUE(gz.write(part));
        sinceFlush += part.size();
        if (flushEvery != 0 && sinceFlush >= flushEvery) {
            EXPECT_TRUE(gz.flush());
            EXPECT_EQ(gz.size(), static_cast<std::int64_t>(test::readAll(path).size()));
            sinceFlush = 0;
        }
    }
    EXPECT_TRUE(gz.close());
    return path;
}

TEST(ParallelGzip, RoundTripsAtPieceBoundariesWithAnyChunkingAndFlushes) {
    test::TempDir dir;
    for (const size_t size : {size_t{0}, size_t{1}, kPiece - 1, kPiece, kPiece + 1,
                              5 * kPiece + 123, size_t{1} << 20}) {
        const std::string input = mixedBytes(size, static_cast<unsigned>(size));
        for (const size_t chunk : {size_t{512}, size_t{7777}, 3 * kPiece}) {
            for (const size_t flushEvery : {size_t{0}, size_t{50'000}}) {
                SCOPED_TRACE(std::to_string(size) + " in " + std::to_string(chunk) + ", flush " +
                             std::to_string(flushEvery));
                const std::string path = dir.file("v.gz");
                std::remove(path.c_str());
                bool whole = false;
                EXPECT_EQ(test::gunzip(compress(path, input, 3, chunk, flushEvery), &whole), input);
                EXPECT_TRUE(whole);
            }
        }
    }
}

TEST(ParallelGzip, AppendsAMemberAfterWhatTheFileHolds) {
    test::TempDir dir;
    const std::string path = dir.file("v.gz");
    compress(path, "first session|", 2, 100);
    compress(path, mixedBytes(3 * kPiece, 3), 2, 1000);
    bool whole = false;
    EXPECT_EQ(test::gunzip(path, &whole), "first session|" + mixedBytes(3 * kPiece, 3));
    EXPECT_TRUE(whole);
}

TEST(ParallelGzip, AFullDiskOrAMissingFolderFailsTheWritesAndTheClose) {
    ParallelGzip gz(9, 2, kPiece);
    ASSERT_TRUE(gz.open("/dev/full") || gz.status().isDiskFull());
    bool failed = !gz.isOpen();
    for (int i = 0; i < 20 && !failed; ++i) {
        failed = !gz.write(mixedBytes(kPiece, static_cast<unsigned>(i)));
    }
    EXPECT_TRUE(failed);
    EXPECT_FALSE(gz.close());
    EXPECT_TRUE(gz.status().isDiskFull());
    EXPECT_NE(gz.status().text().find("/dev/full"), std::string::npos) << gz.status().text();

    test::TempDir dir;
    ParallelGzip missing;
    EXPECT_FALSE(missing.open(dir.file("no/such/folder/v.gz")));
    EXPECT_FALSE(missing.write("x"));
    EXPECT_FALSE(missing.close());
    EXPECT_FALSE(missing.status().text().empty());
}

struct Stream {
    explicit Stream(const std::string& path) : gz(gzopen(path.c_str(), "rb")) {}
    ~Stream() {
        reader.reset();
        gzclose(gz);
    }
    gzFile gz;
    std::unique_ptr<GzipReadAhead> reader = std::make_unique<GzipReadAhead>(gz);
};

TEST(GzipReadAheadTest, ReadsBackwardAcrossPiecesAndPastTheEnd) {
    test::TempDir dir;
    const size_t size = GzipReadAhead::kPiece * 3 + 777;
    const std::string bytes = mixedBytes(size, 11);
    Stream s(compress(dir.file("v.gz"), bytes, 2, bytes.size()));
    std::string got;
    const auto piece = static_cast<std::int64_t>(GzipReadAhead::kPiece);
    // Back to the start, a span over a piece boundary, a jump over whole pieces.
    for (const std::int64_t at : {std::int64_t{0}, piece - 10, std::int64_t{10}, 3 * piece + 5}) {
        ASSERT_EQ(s.reader->read(got, 100, at), 100) << at;
        EXPECT_TRUE(got == bytes.substr(static_cast<size_t>(at), 100)) << at;
    }
    // The end: a short read, then nothing; and again after it.
    EXPECT_EQ(s.reader->read(got, 1000, static_cast<std::int64_t>(size) - 10), 10);
    EXPECT_EQ(s.reader->read(got, 1000, static_cast<std::int64_t>(size)), 0);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(s.reader->read(got, 10, std::int64_t{1} << 62), 0);
    EXPECT_EQ(s.reader->read(got, 10, 20), 10);
    EXPECT_TRUE(got == bytes.substr(20, 10));
    EXPECT_GT(s.reader->compressedOffset(), 0);
}

TEST(GzipReadAheadTest, ADamagedOrCutStreamEndsTheReadsEarlyAndKeepsWhatLiesBefore) {
    const std::string bytes = mixedBytes(GzipReadAhead::kPiece * 4, 11);
    for (const bool cut : {true, false}) {
        test::TempDir dir;
        const std::string path = compress(dir.file("v.gz"), bytes, 2, bytes.size());
        const auto half = static_cast<std::int64_t>(std::filesystem::file_size(path) / 2);
        if (cut) {
            std::filesystem::resize_file(path, static_cast<std::uintmax_t>(half));
        } else {
            std::FILE* f = std::fopen(path.c_str(), "r+b");
            ASSERT_NE(f, nullptr);
            std::fseek(f, static_cast<long>(half), SEEK_SET);
            std::fputs("damage damage damage damage damage", f);
            std::fclose(f);
        }
        // The read-ahead gives what zlib gives before the damage, less at most a little.
        const std::string direct = test::gunzip(path);
        Stream s(path);
        std::string got;
        std::string all;
        for (std::int64_t n = 1; n > 0;) {
            n = s.reader->read(got, 65536, static_cast<std::int64_t>(all.size()));
            all += got;
        }
        EXPECT_LT(all.size(), bytes.size()) << cut;
        EXPECT_TRUE(direct.compare(0, all.size(), all) == 0) << cut;
        EXPECT_GE(all.size() + 64 * 1024, direct.size()) << cut;
    }
}

TEST(GzipReadAheadTest, GoesAwayWhileItsWorkerWaitsForRoom) {
    test::TempDir dir;
    const std::string bytes =
        mixedBytes(GzipReadAhead::kPiece * (GzipReadAhead::kPiecesAhead + 4), 11);
    Stream s(compress(dir.file("v.gz"), bytes, 2, bytes.size()));
    std::string got;
    ASSERT_EQ(s.reader->read(got, 10, 0), 10);
    s.reader.reset();  // must not wait for the rest to be taken
    // The stream is left usable: another reader seeks in it afresh.
    s.reader = std::make_unique<GzipReadAhead>(s.gz);
    const auto at = static_cast<std::int64_t>(GzipReadAhead::kPiece * 2 + 3);
    ASSERT_EQ(s.reader->read(got, 50, at), 50);
    EXPECT_TRUE(got == bytes.substr(static_cast<size_t>(at), 50));
}

}  // namespace
}  // namespace kestrel
