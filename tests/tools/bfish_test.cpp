#include <gtest/gtest.h>

#include <utility>

#include "platform/fs.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

const std::string kTool = std::string(KESTREL_BINARY_DIR) + "/bin/bfish";

// bfish's exit code, with input on its standard input.
int bfish(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), kTool);
    return runProcessWithInput(args, input, nullptr).value_or(-1);
}

TEST(Bfish, RoundTripsEmptyTinyAndLargeFiles) {
    test::TempDir dir;
    for (size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{5'000'000}}) {
        const std::string plain = test::noise(size, 7);
        const std::string in = dir.write("in", plain);
        ASSERT_EQ(bfish({"/i:\"" + in + "\"", "/o:\"" + dir.file("enc") + "\"", "/P:pass word",
                         "/e", "/q"}),
                  0);
        const std::string encrypted = test::readAll(dir.file("enc"));
        EXPECT_GT(encrypted.size(), plain.size());
        if (plain.size() >= 64) {
            EXPECT_EQ(encrypted.find(plain.substr(0, 64)), std::string::npos);
        }
        ASSERT_EQ(bfish({"/i:" + dir.file("enc"), "/o:" + dir.file("out"), "/P:pass word", "/d"}),
                  0);
        EXPECT_TRUE(test::readAll(dir.file("out")) == plain) << size;
    }
}

// A wrong password, a damaged or cut stream, a file never encrypted, or a damaged key derivation
// cost (which once kept bfish busy for minutes: the test's time-out catches that) write nothing.
TEST(Bfish, AWrongPasswordOrDamagedFileWritesNothing) {
    test::TempDir dir;
    const std::string in = dir.write("in", test::noise(200'000, 7));
    ASSERT_EQ(bfish({"/i:" + in, "/o:" + dir.file("enc"), "/P:right", "/e", "/q"}), 0);
    const std::string encrypted = test::readAll(dir.file("enc"));
    std::string flipped = encrypted;
    flipped[flipped.size() / 2] ^= 1;
    // After the 8-byte magic: passes at offset 8, memory at 16, both 64-bit little-endian.
    // Accepted: 1 to 3 passes, 8 KiB to 256 MiB.
    const auto cost = [&encrypted](size_t offset, unsigned long long value) {
        std::string damaged = encrypted;
        for (size_t i = 0; i < 8; ++i) {
            damaged[offset + i] = static_cast<char>(value >> (8 * i));
        }
        return damaged;
    };
    const std::pair<std::string, std::string> cases[] = {
        {encrypted, "wrong"},
        {flipped, "right"},
        {encrypted.substr(0, 70'000), "right"},  // lacks its final chunk
        {test::readAll(in), "right"},            // not encrypted
        {cost(8, 2 + (1ULL << 24)), "right"},    // one byte damaged: ~16.7 million passes
        {cost(8, ~0ULL), "right"},
        {cost(8, 0), "right"},
        {cost(8, 4), "right"},
        {cost(16, 0xFF000000), "right"},  // one byte damaged: ~4 GiB
        {cost(16, ~0ULL), "right"},
        {cost(16, 0), "right"},
        {cost(16, 8191), "right"},
        {cost(16, (256ULL << 20) + 1), "right"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        dir.write("damaged", cases[i].first);
        EXPECT_EQ(bfish({"/i:" + dir.file("damaged"), "/o:" + dir.file("out"),
                         "/P:" + cases[i].second, "/d"}),
                  3);
        EXPECT_FALSE(fs::exists(dir.file("out")));
    }
    EXPECT_EQ(fs::listDir(dir.path())->size(), 3u);  // no temporary files left either
}

// /pfd:N reads every byte up to end of file, less one line feed at the end.
TEST(Bfish, APasswordFromADescriptorMatchesTheSameOnTheCommandLine) {
    test::TempDir dir;
    const std::string in = dir.write("in", test::noise(100'000, 7));
    ASSERT_EQ(bfish({"/i:" + in, "/o:" + dir.file("enc"), "/P:pass word", "/e", "/q"}), 0);
    const std::pair<std::string, int> cases[] = {
        {"pass word", 0},
        {"pass word\n", 0},
        {"pass word\n\n", 3},
        {"pass word\r\n", 3},
        {"pass wor", 3},
        {"", 3},
        {"\n", 3},
    };
    for (const auto& [input, code] : cases) {
        EXPECT_EQ(
            bfish({"/i:" + dir.file("enc"), "/o:" + dir.file("out"), "/pfd:0", "/d", "/q"}, input),
            code)
            << testing::PrintToString(input);
        EXPECT_EQ(fs::exists(dir.file("out")), code == 0);
        if (code == 0) {
            EXPECT_TRUE(test::readAll(dir.file("out")) == test::readAll(in));
            ASSERT_TRUE(fs::removeFile(dir.file("out")));
        }
    }
    // Another descriptor than standard input; and a password that ends in a line feed.
    const std::string shell = "exec '" + kTool + "' '/i:" + in + "' '/o:" + dir.file("enc2") +
                              "' /pfd:5 /e /q 5<&0 </dev/null";
    ASSERT_EQ(runProcessWithInput({"/bin/sh", "-c", shell}, "ends\n\n", nullptr), 0);
    EXPECT_EQ(bfish({"/i:" + dir.file("enc2"), "/o:" + dir.file("o"), "/pfd:0", "/d"}, "ends\n"),
              3);
    EXPECT_EQ(bfish({"/i:" + dir.file("enc2"), "/o:" + dir.file("o"), "/pfd:0", "/d"}, "ends\n\n"),
              0);
}

TEST(Bfish, ArgumentsAndHelp) {
    test::TempDir dir;
    EXPECT_EQ(bfish({}), 1);
    EXPECT_EQ(bfish({"/i:x", "/o:y", "/e"}), 1);  // no password
    EXPECT_EQ(bfish({"/i:x", "/o:y", "/P:p", "/x"}), 1);
    EXPECT_EQ(bfish({"/i:" + dir.file("missing"), "/o:" + dir.file("o"), "/P:p", "/e"}), 2);
    EXPECT_EQ(bfish({"--help"}), 0);
    // Passwords on a descriptor that cannot be used, or given twice.
    const std::string in = dir.write("in", "x");
    const std::vector<std::string> io = {"/i:" + in, "/o:" + dir.file("o"), "/e", "/q"};
    const std::pair<std::string, std::vector<std::string>> refused[] = {
        {std::string("a\0b", 3), {"/pfd:0"}},
        {std::string(64 * 1024 + 1, 'p'), {"/pfd:0"}},
        {std::string(64 * 1024, 'p') + "\n\n", {"/pfd:0"}},
        {"p", {"/pfd:9"}},  // not open
        {"p", {"/pfd:"}},
        {"p", {"/pfd:-1"}},
        {"p", {"/pfd:0x"}},
        {"p", {"/pfd:0", "/P:p"}},
        {"p", {"/P:p", "/P:q"}},
    };
    for (const auto& [input, password] : refused) {
        std::vector<std::string> args = io;
        args.insert(args.end(), password.begin(), password.end());
        EXPECT_EQ(bfish(args, input), 1) << password.front() << " " << input.size();
        EXPECT_FALSE(fs::exists(dir.file("o")));
    }
    std::vector<std::string> longest = io;
    longest.push_back("/pfd:0");
    EXPECT_EQ(bfish(longest, std::string(64 * 1024, 'p') + "\n"), 0);
}

}  // namespace
}  // namespace kestrel
