#include "archive/gzip_read_ahead.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

#include "archive_support.h"

namespace kestrel {
namespace {

// Text that compresses, with random bytes mixed in so that positions are told apart.
std::string content(size_t size) {
    std::mt19937 gen(11);
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        out[i] = (i / 4096) % 2 == 0 ? static_cast<char>('a' + i % 26) : static_cast<char>(gen());
    }
    return out;
}

std::string gzipFile(const test::TempDir& dir, const std::string& bytes) {
    const std::string path = dir.file("v.gz");
    gzFile out = gzopen(path.c_str(), "wb9");
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(gzwrite(out, bytes.data(), static_cast<unsigned>(bytes.size())),
              static_cast<int>(bytes.size()));
    EXPECT_EQ(gzclose(out), Z_OK);
    return path;
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

TEST(GzipReadAheadTest, ReadsForwardAcrossPiecesBackwardAndPastTheEnd) {
    test::TempDir dir;
    const size_t size = GzipReadAhead::kPiece * 3 + 777;
    const std::string bytes = content(size);
    Stream s(gzipFile(dir, bytes));
    std::string got;
    const auto piece = static_cast<std::int64_t>(GzipReadAhead::kPiece);
    // In order, in blocks that do not divide the piece size.
    for (std::int64_t at = 0; at < static_cast<std::int64_t>(size); at += 5000) {
        const std::int64_t want =
            std::min<std::int64_t>(5000, static_cast<std::int64_t>(size) - at);
        ASSERT_EQ(s.reader->read(got, 5000, at), want) << at;
        ASSERT_TRUE(got == bytes.substr(static_cast<size_t>(at), static_cast<size_t>(want))) << at;
    }
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
    const std::string bytes = content(GzipReadAhead::kPiece * 4);
    for (const bool cut : {true, false}) {
        test::TempDir dir;
        const std::string path = gzipFile(dir, bytes);
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
        // Damaged deflate data may decode to wrong bytes before zlib notices: the checksums
        // catch those. The read-ahead must give what zlib gives, less at most a little.
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
    const std::string bytes = content(GzipReadAhead::kPiece * (GzipReadAhead::kPiecesAhead + 4));
    Stream s(gzipFile(dir, bytes));
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
