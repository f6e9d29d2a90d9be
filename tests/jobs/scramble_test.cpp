#include "jobs/scramble.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrel {
namespace {

TEST(Scramble, KeyTableIsAThousandLettersAndDigits) {
    const std::string_view key = scrambleKeyTable();
    ASSERT_EQ(key.size(), 1000u);
    for (char c : key) {
        EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'));
    }
}

TEST(Scramble, RoundTripsEveryLengthUpToAThousand) {
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (size_t n = 0; n <= 1000; ++n) {
        std::string plain(n, '\0');
        for (char& c : plain) {
            c = static_cast<char>(byte(gen));
        }
        const std::string scrambled = ScrambleText(plain);
        ASSERT_EQ(scrambled.size(), n);
        ASSERT_EQ(UnscrambleText(scrambled), plain) << n;
        ASSERT_EQ(FromCodeList(ToCodeList(scrambled)), scrambled) << n;
    }
}

TEST(Scramble, PassesUseTheDocumentedKeyPositions) {
    // One character, 1000 passes: XOR with every key character in turn.
    unsigned char expected = 'x';
    for (char k : scrambleKeyTable()) {
        expected ^= static_cast<unsigned char>(k);
    }
    EXPECT_EQ(static_cast<unsigned char>(ScrambleText("x")[0]), expected);
    // 600 characters: one pass over key positions 1..600.
    const std::string plain(600, '\0');
    EXPECT_EQ(ScrambleText(plain), scrambleKeyTable().substr(0, 600));
}

TEST(Scramble, LongTextsAndEmptyTextComeBackUnchanged) {
    const std::string longText(1001, 'p');
    EXPECT_EQ(ScrambleText(longText), longText);
    EXPECT_EQ(ScrambleText(""), "");
}

TEST(CodeList, FormatAndDamagedLists) {
    EXPECT_EQ(ToCodeList("abc"), "97,98,99");
    EXPECT_EQ(ToCodeList(""), "");
    EXPECT_EQ(ToCodeList(std::string("\0\xff", 2)), "0,255");
    EXPECT_EQ(FromCodeList("97,98,99"), "abc");
    EXPECT_EQ(FromCodeList(""), "");
    EXPECT_EQ(parseCodeList(" 97 , 98 "), "ab");
    EXPECT_FALSE(parseCodeList("97,,98"));
    EXPECT_FALSE(parseCodeList("97,256"));
    EXPECT_FALSE(parseCodeList("97,x"));
    EXPECT_FALSE(parseCodeList("-1"));
    EXPECT_EQ(FromCodeList("97,x"), "");
}

}  // namespace
}  // namespace kestrel
