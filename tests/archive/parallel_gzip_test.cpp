#include "archive/parallel_gzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <random>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

constexpr size_t kPiece = 32 * 1024;  // the smallest piece, so that tests cross many

// Inflates every gzip member of the bytes in turn; nothing when one is damaged, its CRC or
// length does not match, or bytes follow that are not a member.
std::optional<std::string> gunzipAll(const std::string& gz) {
    std::string out;
    size_t at = 0;
    while (at < gz.size()) {
        z_stream s{};
        if (inflateInit2(&s, 16 + 15) != Z_OK) {
            return std::nullopt;
        }
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data() + at));
        s.avail_in = static_cast<uInt>(gz.size() - at);
        char buffer[65536];
        int rc = Z_OK;
        while (rc == Z_OK) {
            s.next_out = reinterpret_cast<Bytef*>(buffer);
            s.avail_out = sizeof buffer;
            rc = inflate(&s, Z_NO_FLUSH);
            out.append(buffer, sizeof buffer - s.avail_out);
        }
        at = gz.size() - s.avail_in;
        inflateEnd(&s);
        if (rc != Z_STREAM_END) {
            return std::nullopt;
        }
    }
    return out;
}

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
    return test::readAll(path);
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
                const auto back = gunzipAll(compress(path, input, 3, chunk, flushEvery));
                ASSERT_TRUE(back.has_value());
                EXPECT_EQ(*back, input);
            }
        }
    }
}

TEST(ParallelGzip, OutputDependsOnTheInputNotOnTheWorkers) {
    test::TempDir dir;
    const std::string input = mixedBytes(9 * kPiece + 5, 7);
    const std::string one = compress(dir.file("one.gz"), input, 1, 4096, 100'000);
    EXPECT_EQ(compress(dir.file("four.gz"), input, 4, 4096, 100'000), one);
    // The dictionary carries matches across pieces: random bytes that end one piece cost next
    // to nothing when the next piece repeats them.
    std::string random;
    std::mt19937 rng(11);
    while (random.size() < kPiece / 2) {
        random.push_back(static_cast<char>(rng() & 0xff));
    }
    const std::string first = std::string(kPiece / 2, 'a') + random;
    const std::string once = compress(dir.file("once.gz"), first, 2, kPiece);
    const std::string twice = compress(dir.file("twice.gz"), first + random, 2, kPiece);
    EXPECT_LT(twice.size(), once.size() + 200);
}

TEST(ParallelGzip, AppendsAMemberAfterWhatTheFileHolds) {
    test::TempDir dir;
    const std::string path = dir.file("v.gz");
    compress(path, "first session|", 2, 100);
    const std::string both = compress(path, mixedBytes(3 * kPiece, 3), 2, 1000);
    const auto back = gunzipAll(both);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, "first session|" + mixedBytes(3 * kPiece, 3));
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

}  // namespace
}  // namespace kestrel
