#include "OleDateTime.h"

#include <cmath>

namespace qrv {

namespace {

constexpr int64_t MsPerDay = 86'400'000;
// Days from 0001-01-01 to 1899-12-30 in the proleptic Gregorian calendar.
constexpr int64_t EpochDayNumber = 693'593;
constexpr double MinOleDate = -693'593.0;        // 0001-01-01
constexpr double MaxOleDate = 2'958'466.0;       // 10000-01-01, exclusive

// Days since 0001-01-01 of a date, and back (the usual era-based Gregorian arithmetic).
int64_t DayNumber(int year, int month, int day)
{
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int mp = (month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    // 306 = days from 0000-03-01 to 0001-01-01.
    return static_cast<int64_t>(era) * 146'097 + doe - 306;
}

void CivilFromDayNumber(int64_t dayNumber, int& year, int& month, int& day)
{
    const int64_t z = dayNumber + 306;
    const int64_t era = z / 146'097;
    const int64_t doe = z - era * 146'097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

int DaysInMonth(int year, int month)
{
    static constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : Days[month - 1];
}

} // namespace

std::optional<TDayAndMs> SplitOleDate(double value)
{
    if (!std::isfinite(value) || value < MinOleDate || value >= MaxOleDate)
        return std::nullopt;
    const double whole = std::trunc(value);
    int64_t day = static_cast<int64_t>(whole);
    // The fraction is the time of day whatever the sign of the day.
    auto ms = static_cast<int64_t>(std::llround(std::fabs(value - whole) * MsPerDay));
    if (ms >= MsPerDay) {
        ms -= MsPerDay;
        ++day;
    }
    return TDayAndMs{day, static_cast<int32_t>(ms)};
}

std::optional<TCalendarTime> OleDateToCalendar(double value)
{
    const auto split = SplitOleDate(value);
    if (!split)
        return std::nullopt;
    TCalendarTime time;
    CivilFromDayNumber(split->Day + EpochDayNumber, time.Year, time.Month, time.Day);
    if (time.Year < 1 || time.Year > 9999)
        return std::nullopt;
    int32_t ms = split->Ms;
    time.Hour = ms / 3'600'000;
    ms %= 3'600'000;
    time.Minute = ms / 60'000;
    ms %= 60'000;
    time.Second = ms / 1000;
    time.Millisecond = ms % 1000;
    return time;
}

std::optional<double> CalendarToOleDate(const TCalendarTime& t)
{
    if (t.Year < 1 || t.Year > 9999 || t.Month < 1 || t.Month > 12 || t.Day < 1 ||
        t.Day > DaysInMonth(t.Year, t.Month) || t.Hour < 0 || t.Hour > 23 || t.Minute < 0 || t.Minute > 59 ||
        t.Second < 0 || t.Second > 59 || t.Millisecond < 0 || t.Millisecond > 999)
        return std::nullopt;
    const double day = static_cast<double>(DayNumber(t.Year, t.Month, t.Day) - EpochDayNumber);
    const double fraction =
        static_cast<double>(((t.Hour * 60 + t.Minute) * 60 + t.Second) * 1000 + t.Millisecond) / MsPerDay;
    // Before the epoch the time of day still counts forwards from midnight.
    return day >= 0 ? day + fraction : day - fraction;
}

double UnixTimeToOleDate(std::time_t when, int milliseconds)
{
    std::tm local{};
    localtime_r(&when, &local);
    return CalendarToOleDate({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                              local.tm_sec, milliseconds})
        .value_or(0.0);
}

} // namespace qrv
