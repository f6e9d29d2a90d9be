// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/date_time.h"
#include "platform/file_facts.h"

namespace kestrel {
namespace {

TEST(DateTime, RejectsPartsOutOfRange) {
    EXPECT_FALSE(DateTime::fromParts(2007, 2, 29));
    EXPECT_TRUE(DateTime::fromParts(2008, 2, 29));
    EXPECT_FALSE(DateTime::fromParts(1900, 2, 29));  // not a leap year
    EXPECT_TRUE(DateTime::fromParts(2000, 2, 29));
    EXPECT_FALSE(DateTime::fromParts(2006, 13, 1));
    EXPECT_FALSE(DateTime::fromParts(2006, 0, 1));
    EXPECT_FALSE(DateTime::fromParts(2006, 4, 31));
    EXPECT_FALSE(DateTime::fromParts(2006, 1, 1, 24));
    EXPECT_FALSE(DateTime::fromParts(2006, 1, 1, 0, 60));
    EXPECT_FALSE(DateTime::fromParts(2006, 1, 1, 0, 0, 60));
}

TEST(FileTime, UnixEpochIsTheKnownTickCountAndTimesRoundTripAt100Nanoseconds) {
    // 1970-01-01 is 116444736000000000 ticks after 1601-01-01: 0x019DB1DE D53E8000.
    const FileTime t = toFileTime(PosixTime{0, 0});
    EXPECT_EQ(t.ticks(), 116444736000000000LL);
    EXPECT_EQ(t.high, 0x019DB1DE);
    EXPECT_EQ(t.low, static_cast<std::int32_t>(0xD53E8000u));  // negative as a signed half
    EXPECT_LT(t.low, 0);
    EXPECT_EQ(toPosixTime(t), (PosixTime{0, 0}));
    for (const PosixTime p : {PosixTime{1136914205, 123456700}, PosixTime{-5000000000LL, 900},
                              PosixTime{4102444800LL, 999999900}}) {
        EXPECT_EQ(toPosixTime(toFileTime(p)), p);
    }
    // Below 100 ns is cut, not rounded.
    EXPECT_EQ(toPosixTime(toFileTime(PosixTime{10, 199})).nanoseconds, 100);
    // Before 1601 there is no file time.
    EXPECT_EQ(toFileTime(PosixTime{-12000000000LL, 0}).ticks(), 0);
    EXPECT_EQ(FileTime::fromTicks(toFileTime(PosixTime{77, 0}).ticks()),
              toFileTime(PosixTime{77, 0}));
}

TEST(FileAttributes, DerivedFromTheMode) {
    EXPECT_EQ(attributesFor(0040755, "docs"), kAttrDirectory);
    EXPECT_EQ(attributesFor(0100644, "a.txt"), kAttrArchive);
    EXPECT_EQ(attributesFor(0100444, "a.txt"), kAttrArchive | kAttrReadOnly);
    EXPECT_EQ(attributesFor(0100644, ".profile"), kAttrArchive | kAttrHidden);
    EXPECT_EQ(attributesFor(0040555, ".cache"), kAttrDirectory | kAttrReadOnly | kAttrHidden);
    EXPECT_EQ(attributesFor(0010644, "fifo"), 0u);
}

}  // namespace
}  // namespace kestrel
