// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/scramble.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>

namespace kestrel {
namespace {

TEST(Scramble, UsesTheKeyTableAndRoundTripsEveryLengthUpToAThousand) {
    const std::string_view key = scrambleKeyTable();
    ASSERT_EQ(key.size(), 1000u);
    // One character, 1000 passes: XOR with every key character in turn.
    unsigned char expected = 'x';
    for (char k : key) {
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(k))) << k;
        expected ^= static_cast<unsigned char>(k);
    }
    EXPECT_EQ(static_cast<unsigned char>(ScrambleText("x")[0]), expected);
    // 600 characters: one pass over key positions 1..600; beyond 1000 nothing changes.
    EXPECT_EQ(ScrambleText(std::string(600, '\0')), key.substr(0, 600));
    EXPECT_EQ(ScrambleText(std::string(1001, 'p')), std::string(1001, 'p'));

    std::mt19937 gen(7);
    for (size_t n = 0; n <= 1000; ++n) {
        std::string plain(n, '\0');
        for (char& c : plain) {
            c = static_cast<char>(gen());
        }
        const std::string scrambled = ScrambleText(plain);
        ASSERT_EQ(UnscrambleText(scrambled), plain) << n;
        ASSERT_EQ(FromCodeList(ToCodeList(scrambled)), scrambled) << n;
    }
}

TEST(CodeList, FormatAndDamagedLists) {
    EXPECT_EQ(ToCodeList(std::string("a\0\xff", 3)), "97,0,255");
    EXPECT_EQ(parseCodeList(" 97 , 98 "), "ab");
    EXPECT_EQ(parseCodeList(""), "");
    for (const char* bad : {"97,,98", "97,256", "97,x", "-1"}) {
        EXPECT_FALSE(parseCodeList(bad)) << bad;
    }
    EXPECT_EQ(FromCodeList("97,x"), "");
}

}  // namespace
}  // namespace kestrel
