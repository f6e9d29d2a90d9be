#include "platform/date_time.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(DateTime, ZeroDateIsTheDefaultAndFormatsAsTheStoreWritesIt) {
    const DateTime zero;
    EXPECT_TRUE(zero.isZero());
    EXPECT_EQ(zero.format("yyyyMMddHHmm"), "189912300000");
    EXPECT_EQ(*DateTime::fromParts(1899, 12, 30), zero);
    EXPECT_EQ(zero.weekday(), 6);  // a Saturday
}

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

TEST(DateTime, FieldsAndWeekdaysAroundTheCalendar) {
    const DateTime t = *DateTime::fromParts(2006, 1, 15, 19, 30, 5);
    EXPECT_EQ(t.year(), 2006);
    EXPECT_EQ(t.month(), 1);
    EXPECT_EQ(t.day(), 15);
    EXPECT_EQ(t.hour(), 19);
    EXPECT_EQ(t.minute(), 30);
    EXPECT_EQ(t.second(), 5);
    EXPECT_EQ(t.weekday(), 7);  // Sunday
    EXPECT_EQ(t.addDays(1).weekday(), 1);
    EXPECT_EQ(t.date().format("yyyy-MM-dd HH:mm:ss"), "2006-01-15 00:00:00");
    EXPECT_EQ(t.timeOfDay(), 19 * 3600 + 30 * 60 + 5);
    // Crossing a month and a leap day.
    EXPECT_EQ(DateTime::fromParts(2008, 2, 28)->addDays(1).format("yyyy-MM-dd"), "2008-02-29");
    EXPECT_EQ(DateTime::fromParts(2008, 2, 28)->addDays(2).format("yyyy-MM-dd"), "2008-03-01");
    EXPECT_EQ(DateTime::fromParts(2006, 12, 31, 23, 59, 59)->addSeconds(1).format("yyyyMMddHHmmss"),
              "20070101000000");
}

TEST(DateTime, DatesBeforeTheZeroDate) {
    const DateTime t = *DateTime::fromParts(1899, 12, 29, 6, 0, 0);
    EXPECT_LT(t, DateTime());
    EXPECT_EQ(t.day(), 29);
    EXPECT_EQ(t.hour(), 6);
    EXPECT_EQ(t.format("yyyyMMddHHmm"), "189912290600");
}

TEST(DateTime, FormatsTheDisplayPatterns) {
    const DateTime t = *DateTime::fromParts(2006, 1, 15, 9, 5, 7);
    EXPECT_EQ(t.format("yyyy MMM dd HH:mm:ss"), "2006 Jan 15 09:05:07");
    EXPECT_EQ(t.format("dddd, MMM dd"), "Sunday, Jan 15");
    EXPECT_EQ(t.format("HHmm"), "0905");
    EXPECT_EQ(t.format("MMMM ddd"), "January Sun");
}

}  // namespace
}  // namespace kestrel
