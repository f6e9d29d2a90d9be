#include "platform/date_time.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(DateTime, TheZeroDateAndDatesBeforeIt) {
    const DateTime zero;
    EXPECT_TRUE(zero.isZero());
    EXPECT_EQ(zero.format("yyyyMMddHHmm"), "189912300000");
    EXPECT_EQ(*DateTime::fromParts(1899, 12, 30), zero);
    EXPECT_EQ(zero.weekday(), 6);  // a Saturday
    const DateTime before = *DateTime::fromParts(1899, 12, 29, 6, 0, 0);
    EXPECT_LT(before, zero);
    EXPECT_EQ(before.day(), 29);
    EXPECT_EQ(before.hour(), 6);
    EXPECT_EQ(before.format("yyyyMMddHHmm"), "189912290600");
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

TEST(DateTime, FieldsWeekdaysAndFormatsAroundTheCalendar) {
    const DateTime t = *DateTime::fromParts(2006, 1, 15, 9, 5, 7);
    EXPECT_EQ(t.year() * 10000 + t.month() * 100 + t.day(), 20060115);
    EXPECT_EQ(t.hour() * 10000 + t.minute() * 100 + t.second(), 90507);
    EXPECT_EQ(t.weekday(), 7);  // Sunday
    EXPECT_EQ(t.addDays(1).weekday(), 1);
    EXPECT_EQ(t.date().format("yyyy-MM-dd HH:mm:ss"), "2006-01-15 00:00:00");
    EXPECT_EQ(t.timeOfDay(), 9 * 3600 + 5 * 60 + 7);
    EXPECT_EQ(t.format("yyyy MMM dd HH:mm:ss"), "2006 Jan 15 09:05:07");
    EXPECT_EQ(t.format("dddd, MMM dd"), "Sunday, Jan 15");
    EXPECT_EQ(t.format("HHmm"), "0905");
    EXPECT_EQ(t.format("MMMM ddd"), "January Sun");
    // Crossing a month, a leap day and a year.
    EXPECT_EQ(DateTime::fromParts(2008, 2, 28)->addDays(1).format("yyyy-MM-dd"), "2008-02-29");
    EXPECT_EQ(DateTime::fromParts(2008, 2, 28)->addDays(2).format("yyyy-MM-dd"), "2008-03-01");
    EXPECT_EQ(DateTime::fromParts(2006, 12, 31, 23, 59, 59)->addSeconds(1).format("yyyyMMddHHmmss"),
              "20070101000000");
}

}  // namespace
}  // namespace kestrel
