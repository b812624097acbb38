#pragma once

// Date-time values of the recording format: a double counting days since
// 30 December 1899 00:00 local time; the fraction is the time of day. For days before
// that epoch the fraction still counts forwards from midnight (-1.25 is 29 December
// 1899, 06:00), as OLE Automation dates do.

#include <cstdint>
#include <ctime>
#include <optional>

namespace qrv {

struct TCalendarTime {
    int Year = 0;    // 1..9999
    int Month = 0;   // 1..12
    int Day = 0;     // 1..31
    int Hour = 0;    // 0..23
    int Minute = 0;  // 0..59
    int Second = 0;  // 0..59
    int Millisecond = 0; // 0..999

    bool operator==(const TCalendarTime&) const = default;
};

// Splits a date-time into whole days since the epoch and milliseconds of that day,
// rounded to the nearest millisecond (a rounding that reaches midnight moves to the next
// day). Empty for NaN, infinities and values outside years 1..9999.
struct TDayAndMs {
    int64_t Day = 0;
    int32_t Ms = 0;
    auto operator<=>(const TDayAndMs&) const = default;
};
std::optional<TDayAndMs> SplitOleDate(double value);

// The calendar fields of a date-time (it already holds local time). Empty when the value
// is not a date (see SplitOleDate).
std::optional<TCalendarTime> OleDateToCalendar(double value);

// The date-time of calendar fields; empty when a field is out of its range.
std::optional<double> CalendarToOleDate(const TCalendarTime& time);

// The date-time of a moment given as Unix time, in the local time zone.
double UnixTimeToOleDate(std::time_t when, int milliseconds = 0);

} // namespace qrv
