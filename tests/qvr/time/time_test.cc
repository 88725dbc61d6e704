#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>

#include "qvr/time/timestamp.h"

namespace {

// Seconds of a date in the stamps' counting (local wall clock as if UTC).
int64_t civil(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return timegm(&t);
}

TimeStamp stamp(int64_t seconds, int ms = 0, int us = 0) {
    return TimeStamp{static_cast<int32_t>(static_cast<uint32_t>(seconds)), static_cast<int16_t>(ms),
                     static_cast<int16_t>(us)};
}

std::string text_of(const TimeStamp& s) {
    const std::tm t = time_GmTime(s.seconds);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, s.milliseconds);
    return buf;
}

std::tm broken(int year, int mon0, int mday, int hour = 0, int min = 0, int sec = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = mon0;
    t.tm_mday = mday;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    return t;
}

}  // namespace

TEST(Calendar, DaysInMonthFollowsTheGregorianLeapRules) {
    struct Case {
        int year, month, days;
    } cases[] = {{2000, 2, 29}, {1900, 2, 28}, {2004, 2, 29},  {2001, 2, 28}, {2100, 2, 28},
                 {2023, 1, 31}, {2023, 4, 30}, {2023, 12, 31}, {2023, 0, 0},  {2023, 13, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(rt_DaysInMonth(c.year, c.month), c.days) << c.year << "-" << c.month;
}

TEST(Calendar, SystemTimeToStampCountsLocalSecondsAndKeepsTheMicroseconds) {
    struct Case {
        SystemTime in;
        int64_t seconds;
    } cases[] = {
        {{1970, 1, 4, 1, 0, 0, 0, 0}, 0},
        {{2000, 2, 2, 29, 12, 34, 56, 789}, civil(2000, 2, 29, 12, 34, 56)},
        {{2024, 12, 2, 31, 23, 59, 59, 999}, civil(2024, 12, 31, 23, 59, 59)},
        {{2038, 1, 2, 19, 3, 14, 7, 0}, INT32_MAX},
    };
    for (const auto& c : cases) {
        TimeStamp out{0, 0, 321};
        rt_SystemTimeToStamp(&c.in, &out);
        EXPECT_EQ(out.seconds, c.seconds);
        EXPECT_EQ(out.milliseconds, c.in.milliseconds);
        EXPECT_EQ(out.microseconds, 321);
    }
}

TEST(Calendar, StampsPast2038WrapAndStillBreakDownToTheirDate) {
    const SystemTime after{2038, 1, 2, 19, 3, 14, 8, 0};
    TimeStamp out{};
    rt_SystemTimeToStamp(&after, &out);
    EXPECT_EQ(out.seconds, INT32_MIN);
    EXPECT_EQ(text_of(out), "2038-01-19 03:14:08.000");
    EXPECT_EQ(text_of(stamp(-1)), "2106-02-07 06:28:15.000");
    EXPECT_STREQ(time_FileStampText(INT32_MIN), "380119_031408");
}

TEST(Calendar, MakeSecondsNormalisesFieldsInPlace) {
    struct Case {
        std::tm in;
        int year, month, day, hour, min, sec;
    } cases[] = {
        {broken(1900, 1, 29), 1900, 3, 1, 0, 0, 0},   // 1900 is no leap year
        {broken(2000, 1, 29), 2000, 2, 29, 0, 0, 0},  // 2000 is one
        {broken(2023, 0, 32), 2023, 2, 1, 0, 0, 0},
        {broken(2023, 2, 0), 2023, 2, 28, 0, 0, 0},  // day 0 is the last of the month before
        {broken(2023, 12, 1), 2024, 1, 1, 0, 0, 0},  // month 12 carries into the year
        {broken(2023, -1, 1), 2022, 12, 1, 0, 0, 0},
        {broken(2023, 5, 1, 0, 0, -1), 2023, 5, 31, 23, 59, 59},
        {broken(2023, 0, 1, 47, 125, 61), 2023, 1, 3, 1, 6, 1},
        {broken(2023, 0, -400), 2021, 11, 26, 0, 0, 0},
    };
    for (auto& c : cases) {
        std::tm t = c.in;
        time_MakeSeconds(&t);
        EXPECT_EQ(t.tm_year + 1900, c.year);
        EXPECT_EQ(t.tm_mon + 1, c.month);
        EXPECT_EQ(t.tm_mday, c.day);
        EXPECT_EQ(t.tm_hour, c.hour);
        EXPECT_EQ(t.tm_min, c.min);
        EXPECT_EQ(t.tm_sec, c.sec);
    }
}

TEST(Calendar, MakeSecondsAgreesWithTheCivilCalendarFrom1970On) {
    for (int year = 1970; year <= 2400; year += 7) {
        for (int mon0 = -13; mon0 <= 25; mon0 += 3) {
            for (int mday = -40; mday <= 70; mday += 11) {
                std::tm ours = broken(year, mon0, mday, 13, 7, 5);
                std::tm oracle = ours;
                const int64_t expected = timegm(&oracle);
                if (oracle.tm_year + 1900 < 1970) continue;
                ASSERT_EQ(time_MakeSeconds(&ours), expected) << year << " " << mon0 << " " << mday;
                EXPECT_EQ(ours.tm_mday, oracle.tm_mday);
                EXPECT_EQ(ours.tm_mon, oracle.tm_mon);
                EXPECT_EQ(ours.tm_year, oracle.tm_year);
            }
        }
    }
}

TEST(Calendar, MakeSecondsOfHugeOrCorruptFieldsEndsWithTheSameResult) {
    // Stepping one day at a time, these took millions of steps.
    for (int mday : {INT_MAX, INT_MIN + 1, 200'000'000, -200'000'000}) {
        std::tm ours = broken(2000, 0, 1);
        ours.tm_mday = mday;
        std::tm oracle = ours;
        const int64_t expected = timegm(&oracle);
        const int64_t got = time_MakeSeconds(&ours);
        if (oracle.tm_year + 1900 >= 1970) {
            EXPECT_EQ(got, expected) << mday;
        }
        EXPECT_EQ(ours.tm_year, oracle.tm_year) << mday;
        EXPECT_EQ(ours.tm_mon, oracle.tm_mon) << mday;
        EXPECT_EQ(ours.tm_mday, oracle.tm_mday) << mday;
    }
    std::tm hours = broken(2000, 0, 1);
    hours.tm_hour = INT_MAX;
    hours.tm_sec = INT_MIN;
    std::tm oracle = hours;
    EXPECT_EQ(time_MakeSeconds(&hours), timegm(&oracle));
}

TEST(Calendar, YearsBefore1970CountNoDays) {
    std::tm t = broken(1969, 11, 31);
    EXPECT_EQ(time_MakeSeconds(&t), 364LL * 86400);
    std::tm epoch = broken(1970, 0, 1);
    EXPECT_EQ(time_MakeSeconds(&epoch), 0);
}

TEST(Calendar, StampFieldsGiveSecondsWithTheTwoDigitYearWindow) {
    EXPECT_EQ(time_StampFieldsToSeconds(70, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(time_StampFieldsToSeconds(99, 12, 31, 23, 59, 59), civil(1999, 12, 31, 23, 59, 59));
    EXPECT_EQ(time_StampFieldsToSeconds(0, 2, 29, 12, 30, 15), civil(2000, 2, 29, 12, 30, 15));
    EXPECT_EQ(time_StampFieldsToSeconds(69, 12, 31, 23, 59, 59), civil(2069, 12, 31, 23, 59, 59));
}

TEST(Calendar, StampFieldsOutsideTheirRangesGiveNothing) {
    struct Fields {
        int yy, month, day, hour, minute, second;
    };
    const Fields bad[] = {{-1, 1, 1, 0, 0, 0},  {100, 1, 1, 0, 0, 0}, {24, 0, 1, 0, 0, 0},  {24, 13, 1, 0, 0, 0},
                          {24, 1, 0, 0, 0, 0},  {23, 2, 29, 0, 0, 0}, {24, 4, 31, 0, 0, 0}, {24, 1, 1, 24, 0, 0},
                          {24, 1, 1, -1, 0, 0}, {24, 1, 1, 0, 60, 0}, {24, 1, 1, 0, 0, 60}, {24, 1, 1, 0, 0, -1}};
    for (const Fields& f : bad)
        EXPECT_FALSE(time_StampFieldsToSeconds(f.yy, f.month, f.day, f.hour, f.minute, f.second))
            << f.yy << "-" << f.month << "-" << f.day << " " << f.hour << ":" << f.minute << ":" << f.second;
}

TEST(TimeStampArithmetic, DiffMsIsExactInRangeAndSaturatesBeyond) {
    const TimeStamp a = stamp(civil(2024, 3, 2), 250);
    const TimeStamp b = stamp(civil(2024, 3, 1), 250);
    EXPECT_EQ(time_DiffMs(&a, &b), 86'400'000);
    EXPECT_EQ(time_DiffMs(&b, &a), -86'400'000);
    const TimeStamp month_later = stamp(civil(2024, 4, 1));
    EXPECT_EQ(time_DiffMs(&month_later, &b), INT32_MAX);  // about 31 days: past the i32 range
    EXPECT_EQ(time_DiffMs(&b, &month_later), INT32_MIN);
    const TimeStamp lo = stamp(INT32_MIN), hi = stamp(INT32_MAX, 999);
    EXPECT_EQ(time_DiffMs(&hi, &lo), INT32_MAX);
    EXPECT_EQ(time_DiffUs(&hi, &lo), (static_cast<int64_t>(UINT32_MAX)) * 1'000'000 + 999'000);
    const TimeStamp x{100, 5, 7}, y{99, 999, 999};
    EXPECT_EQ(time_DiffUs(&x, &y), 5'008);
    EXPECT_EQ(time_DiffMs(&x, &y), 6);
}

TEST(TimeStampArithmetic, CompareGivesMinusOneZeroOrOne) {
    struct Case {
        TimeStamp a, b;
        int result;
    } cases[] = {
        {{10, 5, 0}, {10, 5, 999}, 0},  // microseconds are not compared
        {{10, 4, 0}, {10, 5, 0}, -1},
        {{11, 0, 0}, {10, 999, 0}, 1},
        {{INT32_MIN, 0, 0}, {INT32_MAX, 0, 0}, -1},  // subtracting would overflow
        {{INT32_MAX, 0, 0}, {INT32_MIN, 0, 0}, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(time_Compare(&c.a, &c.b), c.result);
}

TEST(TimeStampArithmetic, AddMsCarriesBothWays) {
    struct Case {
        TimeStamp in;
        int32_t add;
        int32_t seconds;
        int16_t ms;
    } cases[] = {
        {{10, 999, 0}, 1, 11, 0},
        {{10, 500, 0}, 2500, 13, 0},
        {{10, 500, 0}, 0, 10, 500},
        {{10, 100, 0}, 799, 10, 899},
        {{10, 100, 0}, -200, 9, 900},
        {{10, 0, 0}, -1, 9, 999},
        {{10, 0, 0}, -3000, 7, 0},
        {{0, 0, 0}, INT32_MAX, 2'147'483, 647},
        {{INT32_MAX, 999, 0}, 1, INT32_MIN, 0},  // on past 2038
    };
    for (const auto& c : cases) {
        TimeStamp s = c.in;
        time_AddMs(&s, c.add);
        EXPECT_EQ(s.seconds, c.seconds) << c.add;
        EXPECT_EQ(s.milliseconds, c.ms) << c.add;
        EXPECT_EQ(s.microseconds, c.in.microseconds);
    }
}

TEST(TimeStampArithmetic, NextPeriodBoundaryLiesOnTheGridFromMidnight) {
    const int64_t day = civil(2024, 5, 6);
    struct Case {
        TimeStamp in;
        uint32_t period;
        const char* expected;
    } cases[] = {
        {stamp(day + 36000, 400), 1000, "2024-05-06 10:00:01.000"},
        {stamp(day + 36030), 120'000, "2024-05-06 10:02:00.000"},  // step of one minute
        {stamp(day + 36000, 123), 250, "2024-05-06 10:00:00.250"},
        {stamp(day + 36000, 123), 0, "2024-05-06 10:00:00.123"},
        {stamp(day + 86370), 60'000, "2024-05-07 00:00:00.000"},  // across midnight
        {stamp(day + 86399, 900), 1000, "2024-05-07 00:00:00.000"},
        {stamp(day + 86000), 3'600'000, "2024-05-07 00:53:00.000"},  // an hour on the minute grid
        {stamp(INT32_MAX, 500), 1000, "2038-01-19 03:14:08.000"},    // across the i32 end
    };
    for (const auto& c : cases) EXPECT_EQ(text_of(*time_NextPeriodBoundary(&c.in, c.period)), c.expected);
    const TimeStamp with_us{static_cast<int32_t>(day), 0, 77};
    EXPECT_EQ(time_NextPeriodBoundary(&with_us, 1000)->microseconds, 0);
}

TEST(TimeStampArithmetic, SubtractPeriodWorksOnCalendarFields) {
    struct Case {
        TimeStamp in;
        PeriodSpec period;
        const char* expected;
    } cases[] = {
        {stamp(civil(2000, 3, 1), 123), {0, 0, 1, 0, 0, 0}, "2000-02-29 00:00:00.123"},
        {stamp(civil(2001, 3, 1)), {0, 0, 1, 0, 0, 0}, "2001-02-28 00:00:00.000"},
        {stamp(civil(2001, 3, 31)), {0, 1, 0, 0, 0, 0}, "2001-03-03 00:00:00.000"},
        {stamp(civil(2024, 2, 29)), {1, 0, 0, 0, 0, 0}, "2023-03-01 00:00:00.000"},
        {stamp(civil(2000, 1, 1)), {0, 0, 0, 0, 0, 1}, "1999-12-31 23:59:59.000"},
        {stamp(civil(2024, 1, 15, 1, 2, 3)), {0, 13, 0, 25, 0, 0}, "2022-12-14 00:02:03.000"},
        {stamp(civil(2040, 1, 1)), {2, 0, 0, 0, 0, 0}, "2038-01-01 00:00:00.000"},
    };
    for (const auto& c : cases) EXPECT_EQ(text_of(*time_SubtractPeriod(&c.in, &c.period)), c.expected);
}

TEST(TimeStampHelpers, SplitFileTextMicrosAndLocalStamp) {
    MinSecMs m{};
    rt_SplitMilliseconds(&m, 20'000'000);
    EXPECT_EQ(m.minutes, 99);
    rt_SplitMilliseconds(&m, 61'234);
    EXPECT_EQ(m.minutes, 1);
    EXPECT_EQ(m.seconds, 1);
    EXPECT_EQ(m.milliseconds, 234);

    EXPECT_STREQ(time_FileStampText(static_cast<int32_t>(civil(2024, 7, 5, 9, 8, 7))), "240705_090807");

    const timeval tv{5, 123'456};
    TimeStamp s{};
    rt_MicrosToStamp(&tv, &s);
    EXPECT_EQ(s.seconds, 5);
    EXPECT_EQ(s.milliseconds, 123);
    EXPECT_EQ(s.microseconds, 456);

    setenv("TZ", "UTC", 1);
    tzset();
    // time() reads the coarse clock, which may lag the stamp's clock by a tick: compare with
    // the fine one.
    const auto now = [] {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return ts.tv_sec;
    };
    const time_t before = now();
    TimeStamp local{1, 1, 1};
    EXPECT_EQ(rt_GetLocalStamp(&local), &local);
    const time_t after = now();
    EXPECT_GE(local.seconds, before);
    EXPECT_LE(local.seconds, after);
    EXPECT_EQ(local.microseconds, 0);
    const TimeStamp* shared = rt_GetLocalStamp(nullptr);
    ASSERT_NE(shared, nullptr);
    EXPECT_GE(shared->seconds, before);
}
