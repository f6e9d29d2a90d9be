// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/listing.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

std::vector<clsFTPFile> parse(std::string block) {
    std::vector<clsFTPFile> list;
    ParseListing(block, list);
    EXPECT_TRUE(block.empty()) << block;
    return list;
}

TEST(Listing, UnixLongFormatByFieldsWhateverTheColumns) {
    const auto list = parse(
        "drwxr-xr-x   2 root     root         4096 Dec 06 23:08 newdir\r\n"
        "-rw-r--r--    1 0        0          102460 Dec 06 23:08 Remote.fs\r\n"
        "-rw-r--r-- 1 u g 5 Jan 05  2020 hello world.txt\r\n"
        "-rw-r--r-- 1 averyveryverylongowner group 123456789012 Jan 05 14:30  lead.txt\r\n"
        "lrwxrwxrwx 1 u g 7 Jan 05 14:30 link -> target\r\n");
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].strName, "newdir");
    EXPECT_TRUE(list[0].bDir);
    EXPECT_EQ(list[1].strName, "Remote.fs");
    EXPECT_EQ(list[1].dSize, 102460);
    EXPECT_FALSE(list[1].bDir);
    EXPECT_EQ(list[2].strName, "hello world.txt");
    EXPECT_EQ(list[2].strDate, "Jan 05 2020");
    EXPECT_EQ(list[3].strName, " lead.txt");
    EXPECT_EQ(list[4].strName, "link -> target");
    EXPECT_FALSE(list[4].bDir);
}

TEST(Listing, OtherLinesFallBackToColumn56) {
    const std::string name56(55, 'x');
    const auto list =
        parse("total 12\r\n" + std::string("d") + name56.substr(1) + "  spaced name  \r\n");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].strName, "");
    EXPECT_EQ(list[1].strName, "spaced name");
    EXPECT_TRUE(list[1].bDir);
}

TEST(Listing, UnfinishedLinesWaitForTheNextBlock) {
    std::vector<clsFTPFile> list;
    std::string block = "-rw-r--r-- 1 u g 5 Jan 05 14:30 a.txt\r\n-rw-r--r-- 1 u g 5 Ja";
    ParseListing(block, list);
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(block, "-rw-r--r-- 1 u g 5 Ja");
    block += "n 05 14:30 b.txt\r\n\r\n";
    ParseListing(block, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].strName, "b.txt");
    EXPECT_TRUE(block.empty());
}

}  // namespace
}  // namespace kestrel
