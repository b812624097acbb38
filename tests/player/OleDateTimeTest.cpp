#include "OleDateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace qrv;

TEST(OleDateTime, KnownValuesConvertBothWays)
{
    struct Case {
        double value;
        TCalendarTime time;
    } cases[] = {
        {0.0, {1899, 12, 30, 0, 0, 0, 0}},
        {1.0, {1899, 12, 31, 0, 0, 0, 0}},
        {2.25, {1900, 1, 1, 6, 0, 0, 0}},
        {-1.25, {1899, 12, 29, 6, 0, 0, 0}}, // before the epoch the time still counts forwards
        {40244.5, {2010, 3, 7, 12, 0, 0, 0}},
        {36526.0, {2000, 1, 1, 0, 0, 0, 0}},
        {36585.0, {2000, 2, 29, 0, 0, 0, 0}}, // a leap day
        {2958465.0, {9999, 12, 31, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(OleDateToCalendar(c.value), c.time);
        EXPECT_EQ(CalendarToOleDate(c.time), c.value);
    }
}

TEST(OleDateTime, RoundsToMillisecondsAndCarriesMidnight)
{
    const TCalendarTime t{2024, 5, 15, 10, 15, 1, 5};
    const double value = *CalendarToOleDate(t);
    EXPECT_EQ(OleDateToCalendar(value), t);
    // A hair before midnight rounds into the next day, not to 24:00.
    const double almost = *CalendarToOleDate({2024, 5, 15, 0, 0, 0, 0}) + 1.0 - 1e-10;
    EXPECT_EQ(OleDateToCalendar(almost), (TCalendarTime{2024, 5, 16, 0, 0, 0, 0}));
}

TEST(OleDateTime, RejectsValuesThatAreNoDates)
{
    for (double value : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                         -std::numeric_limits<double>::infinity(), 1e300, -1e7, 2958466.0}) {
        SCOPED_TRACE(value);
        EXPECT_FALSE(OleDateToCalendar(value).has_value());
    }
    EXPECT_FALSE(CalendarToOleDate({2023, 2, 29, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(CalendarToOleDate({2023, 13, 1, 0, 0, 0, 0}).has_value());
    EXPECT_FALSE(CalendarToOleDate({2023, 1, 1, 24, 0, 0, 0}).has_value());
}

TEST(OleDateTime, UnixTimeIsConvertedInLocalTime)
{
    setenv("TZ", "KST-9", 1); // UTC+9, no daylight saving
    tzset();
    // 2010-03-07 03:00 UTC is 12:00 in Seoul.
    EXPECT_EQ(OleDateToCalendar(UnixTimeToOleDate(1267930800, 250)), (TCalendarTime{2010, 3, 7, 12, 0, 0, 250}));
    unsetenv("TZ");
    tzset();
}
