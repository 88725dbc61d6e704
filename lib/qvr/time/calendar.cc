// The library's own Gregorian calendar. Every conversion is arithmetic, so corrupt or huge
// fields cost the same as sane ones.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "qvr/time/timestamp.h"

namespace {

constexpr int64_t kSecondsPerDay = 86'400;
constexpr int64_t kDaysPer400Years = 146'097;

constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool is_leap(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t days_in_month(int64_t year, int month0) {
    return month0 == 1 && is_leap(year) ? 29 : kMonthDays[month0];
}

int64_t floor_div(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Leap years in 1..n for n >= 0.
int64_t leaps_through(int64_t n) {
    return n / 4 - n / 100 + n / 400;
}

// Days of the years 1970 up to `year` - 1; none for years up to 1970.
int64_t days_before_year(int64_t year) {
    if (year <= 1970) return 0;
    return 365 * (year - 1970) + leaps_through(year - 1) - leaps_through(1969);
}

int64_t days_before_month(int64_t year, int month0) {
    int64_t days = 0;
    for (int m = 0; m < month0; ++m) days += days_in_month(year, m);
    return days;
}

int clamp_to_int(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

}  // namespace

int rt_DaysInMonth(int year, int month) {
    if (month < 1 || month > 12) return 0;
    return static_cast<int>(days_in_month(year, month - 1));
}

void rt_SplitMilliseconds(MinSecMs* out, uint32_t milliseconds) {
    out->milliseconds = static_cast<uint16_t>(milliseconds % 1000);
    out->seconds = static_cast<uint8_t>((milliseconds % 60'000) / 1000);
    out->minutes = static_cast<uint8_t>(std::min<uint32_t>(milliseconds / 60'000, 99));
}

void rt_SystemTimeToStamp(const SystemTime* time, TimeStamp* out) {
    const int month0 = std::clamp<int>(time->month, 1, 12) - 1;
    const int64_t days = days_before_year(time->year) + days_before_month(time->year, month0) +
                         static_cast<int64_t>(time->day) - 1;
    const int64_t seconds = days * kSecondsPerDay + time->hour * 3600LL + time->minute * 60LL +
                            static_cast<int64_t>(time->second);
    out->seconds = static_cast<int32_t>(static_cast<uint32_t>(seconds));
    out->milliseconds = static_cast<int16_t>(time->milliseconds);
}

std::tm time_GmTime(int32_t seconds) {
    const time_t t = static_cast<time_t>(static_cast<uint32_t>(seconds));
    std::tm result{};
    gmtime_r(&t, &result);
    return result;
}

int64_t time_MakeSeconds(std::tm* time) {
    int64_t sec = time->tm_sec;
    int64_t min = time->tm_min + floor_div(sec, 60);
    sec -= floor_div(sec, 60) * 60;
    int64_t hour = time->tm_hour + floor_div(min, 60);
    min -= floor_div(min, 60) * 60;
    int64_t day = time->tm_mday + floor_div(hour, 24);
    hour -= floor_div(hour, 24) * 24;
    int64_t year = static_cast<int64_t>(time->tm_year) + 1900 + floor_div(time->tm_mon, 12);
    int month0 = static_cast<int>(time->tm_mon - floor_div(time->tm_mon, 12) * 12);

    // The calendar repeats every 400 years, so whole cycles move at once.
    if (day > kDaysPer400Years || day < -kDaysPer400Years) {
        const int64_t cycles = day / kDaysPer400Years;
        year += 400 * cycles;
        day -= kDaysPer400Years * cycles;
    }
    // Then whole years: the span from this month to the same month next year.
    auto year_span = [&](int64_t y, int m0) { return is_leap(m0 <= 1 ? y : y + 1) ? 366 : 365; };
    while (day > year_span(year, month0)) {
        day -= year_span(year, month0);
        ++year;
    }
    while (day <= -year_span(year - 1, month0)) {
        day += year_span(year - 1, month0);
        --year;
    }
    // At most about a year of single months is left.
    while (day <= 0) {
        if (--month0 < 0) {
            month0 = 11;
            --year;
        }
        day += days_in_month(year, month0);
    }
    while (day > days_in_month(year, month0)) {
        day -= days_in_month(year, month0);
        if (++month0 > 11) {
            month0 = 0;
            ++year;
        }
    }

    time->tm_sec = static_cast<int>(sec);
    time->tm_min = static_cast<int>(min);
    time->tm_hour = static_cast<int>(hour);
    time->tm_mday = static_cast<int>(day);
    time->tm_mon = month0;
    time->tm_year = clamp_to_int(year - 1900);

    const int64_t days = days_before_year(year) + days_before_month(year, month0) + day - 1;
    return days * kSecondsPerDay + hour * 3600 + min * 60 + sec;
}

std::optional<int64_t> time_StampFieldsToSeconds(int yy, int month, int day, int hour, int minute, int second) {
    if (yy < 0 || yy > 99 || month < 1 || month > 12 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59)
        return std::nullopt;
    const int year = yy < 70 ? 2000 + yy : 1900 + yy;
    if (day < 1 || day > rt_DaysInMonth(year, month)) return std::nullopt;
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return time_MakeSeconds(&t);
}
