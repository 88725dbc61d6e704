#pragma once
// TimeStamp and the calendar of the runtime library. A TimeStamp counts local wall-clock
// time as seconds since 1970-01-01 00:00 with no time zone applied, so a UTC breakdown of its
// seconds gives the local date and time. Breakdowns treat the i32 seconds as unsigned (zero
// extended), which carries stamps past 2038 up to 2106. Arithmetic is done in 64 bits.
#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>

struct TimeStamp {
    int32_t seconds;
    int16_t milliseconds;  // 0..999
    int16_t microseconds;  // 0..999
};
static_assert(sizeof(TimeStamp) == 8);
static_assert(offsetof(TimeStamp, seconds) == 0);
static_assert(offsetof(TimeStamp, milliseconds) == 4);
static_assert(offsetof(TimeStamp, microseconds) == 6);

struct MinSecMs {
    uint8_t minutes;  // at most 99
    uint8_t seconds;
    uint16_t milliseconds;
};
static_assert(sizeof(MinSecMs) == 4);

// Broken-down local time as the system's clock reports it (month 1..12, day 1..31).
struct SystemTime {
    uint16_t year;
    uint16_t month;
    uint16_t day_of_week;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
};
static_assert(sizeof(SystemTime) == 16);

// A calendar period to subtract: six bytes.
struct PeriodSpec {
    uint8_t years;
    uint8_t months;
    uint8_t days;
    uint8_t hours;
    uint8_t minutes;
    uint8_t seconds;
};
static_assert(sizeof(PeriodSpec) == 6);

void rt_SplitMilliseconds(MinSecMs* out, uint32_t milliseconds);
// 28..31 for a month 1..12 of `year`; 0 for a month outside 1..12.
int rt_DaysInMonth(int year, int month);
// Seconds and milliseconds from a broken-down local time; the microseconds are left as they were.
void rt_SystemTimeToStamp(const SystemTime* time, TimeStamp* out);
void rt_MicrosToStamp(const struct timeval* time, TimeStamp* out);
// The local time now (microseconds 0) into `out`, or into a per-thread static stamp when
// `out` is null (valid until the thread's next call). Returns the stamp written.
TimeStamp* rt_GetLocalStamp(TimeStamp* out);

// Breakdown of a seconds count (zero extended to 64 bits).
std::tm time_GmTime(int32_t seconds);
// a - b in milliseconds, saturated to the i32 range.
int32_t time_DiffMs(const TimeStamp* a, const TimeStamp* b);
// a - b in microseconds.
int64_t time_DiffUs(const TimeStamp* a, const TimeStamp* b);
// Seconds since 1970 of a broken-down time (tm_mon 0..11, tm_year since 1900); the fields are
// normalised in place (any values are accepted). Years before 1970 count no days.
int64_t time_MakeSeconds(std::tm* time);
// Seconds since 1970 of a file stamp's fields: a two-digit year (00..69 are 2000..2069,
// 70..99 are 1970..1999), month 1..12, a day of that month, hour, minute and second.
// Nothing when a field lies outside its range.
std::optional<int64_t> time_StampFieldsToSeconds(int yy, int month, int day, int hour, int minute, int second);
// "yymmdd_hhmmss" of the seconds count, in a per-thread static buffer.
const char* time_FileStampText(int32_t seconds);
// The next point on a grid of min(period, 1 minute) counted from the stamp's midnight, at
// least `period_ms` after the stamp; the stamp itself for a period of 0. Per-thread static.
const TimeStamp* time_NextPeriodBoundary(const TimeStamp* stamp, uint32_t period_ms);
// The stamp less a calendar period, milliseconds kept. Per-thread static.
const TimeStamp* time_SubtractPeriod(const TimeStamp* stamp, const PeriodSpec* period);
// Adds milliseconds (also negative ones), carrying into the seconds.
void time_AddMs(TimeStamp* stamp, int32_t milliseconds);
// -1, 0 or 1 as a is before, equal to or after b (seconds, then milliseconds).
int time_Compare(const TimeStamp* a, const TimeStamp* b);
