// SPDX-License-Identifier: GPL-3.0-or-later
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

// Damaged, cut or never encrypted input, or a damaged key cost (once minutes of work), writes
// nothing. A wrong password: Encryption.PasswordsOfAnyBytesButNulRoundTripInPlace.
TEST(Bfish, ADamagedFileWritesNothing) {
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
    const std::string cases[] = {
        flipped,
        encrypted.substr(0, 70'000),  // lacks its final chunk
        test::readAll(in),            // not encrypted
        cost(8, 2 + (1ULL << 24)),    // one byte damaged: ~16.7 million passes
        cost(8, 0),
        cost(8, 4),
        cost(16, 0xFF000000),  // one byte damaged: ~4 GiB
        cost(16, 8191),
        cost(16, (256ULL << 20) + 1),
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        dir.write("damaged", cases[i]);
        EXPECT_EQ(bfish({"/i:" + dir.file("damaged"), "/o:" + dir.file("out"), "/P:right", "/d"}),
                  3);
        EXPECT_FALSE(fs::exists(dir.file("out")));
    }
    EXPECT_EQ(fs::listDir(dir.path())->size(), 3u);  // no temporary files left either
}

TEST(Bfish, NoMissingOrUnusablePasswordIsAccepted) {
    test::TempDir dir;
    EXPECT_EQ(bfish({"/i:x", "/o:y", "/e"}), 1);  // no password
    EXPECT_EQ(bfish({"/i:" + dir.file("missing"), "/o:" + dir.file("o"), "/P:p", "/e"}), 2);
    // Passwords on a descriptor that cannot be used, or given twice.
    const std::string in = dir.write("in", "x");
    const std::vector<std::string> io = {"/i:" + in, "/o:" + dir.file("o"), "/e", "/q"};
    const std::pair<std::string, std::vector<std::string>> refused[] = {
        {std::string("a\0b", 3), {"/pfd:0"}},
        {std::string(64 * 1024 + 1, 'p'), {"/pfd:0"}},
        {std::string(64 * 1024, 'p') + "\n\n", {"/pfd:0"}},
        {"p", {"/pfd:9"}},  // not open
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
