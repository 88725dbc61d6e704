#include <algorithm>
#include <climits>
#include <cstdio>

#include "qvr/time/timestamp.h"

namespace {

constexpr int64_t kSecondsPerDay = 86'400;

// Seconds as the calendar reads them (zero extended), and back into the i32 field.
int64_t calendar_seconds(int32_t seconds) {
    return static_cast<uint32_t>(seconds);
}
int32_t to_field(int64_t seconds) {
    return static_cast<int32_t>(static_cast<uint32_t>(seconds));
}

int64_t floor_div(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

}  // namespace

void rt_MicrosToStamp(const struct timeval* time, TimeStamp* out) {
    out->seconds = static_cast<int32_t>(time->tv_sec);
    out->milliseconds = static_cast<int16_t>(time->tv_usec / 1000);
    out->microseconds = static_cast<int16_t>(time->tv_usec % 1000);
}

TimeStamp* rt_GetLocalStamp(TimeStamp* out) {
    thread_local TimeStamp stamp{};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    SystemTime st{};
    st.year = static_cast<uint16_t>(local.tm_year + 1900);
    st.month = static_cast<uint16_t>(local.tm_mon + 1);
    st.day_of_week = static_cast<uint16_t>(local.tm_wday);
    st.day = static_cast<uint16_t>(local.tm_mday);
    st.hour = static_cast<uint16_t>(local.tm_hour);
    st.minute = static_cast<uint16_t>(local.tm_min);
    st.second = static_cast<uint16_t>(local.tm_sec);
    st.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1'000'000);
    rt_SystemTimeToStamp(&st, &stamp);
    if (out == nullptr) return &stamp;
    *out = stamp;
    return out;
}

int32_t time_DiffMs(const TimeStamp* a, const TimeStamp* b) {
    const int64_t ms =
        (static_cast<int64_t>(a->seconds) - b->seconds) * 1000 + a->milliseconds - b->milliseconds;
    return static_cast<int32_t>(std::clamp<int64_t>(ms, INT32_MIN, INT32_MAX));
}

int64_t time_DiffUs(const TimeStamp* a, const TimeStamp* b) {
    return (static_cast<int64_t>(a->seconds) - b->seconds) * 1'000'000 +
           (static_cast<int64_t>(a->milliseconds) - b->milliseconds) * 1000 + a->microseconds -
           b->microseconds;
}

int time_Compare(const TimeStamp* a, const TimeStamp* b) {
    if (a->seconds != b->seconds) return a->seconds < b->seconds ? -1 : 1;
    if (a->milliseconds != b->milliseconds) return a->milliseconds < b->milliseconds ? -1 : 1;
    return 0;
}

void time_AddMs(TimeStamp* stamp, int32_t milliseconds) {
    const int64_t ms = static_cast<int64_t>(milliseconds) + stamp->milliseconds;
    if (ms >= 0 && ms < 1000) {
        stamp->milliseconds = static_cast<int16_t>(ms);
        return;
    }
    stamp->seconds = to_field(calendar_seconds(stamp->seconds) + floor_div(ms, 1000));
    stamp->milliseconds = static_cast<int16_t>(ms - floor_div(ms, 1000) * 1000);
}

const char* time_FileStampText(int32_t seconds) {
    thread_local char text[32];
    const std::tm t = time_GmTime(seconds);
    std::snprintf(text, sizeof text, "%02d%02d%02d_%02d%02d%02d", t.tm_year % 100, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

const TimeStamp* time_NextPeriodBoundary(const TimeStamp* stamp, uint32_t period_ms) {
    thread_local TimeStamp result{};
    if (period_ms == 0) {
        result = *stamp;
        return &result;
    }
    const int64_t seconds = calendar_seconds(stamp->seconds);
    const int64_t midnight = seconds - seconds % kSecondsPerDay;
    int64_t t = static_cast<int64_t>(period_ms) + stamp->milliseconds + (seconds % kSecondsPerDay) * 1000;
    t -= t % std::min<int64_t>(period_ms, 60'000);
    result.seconds = to_field(midnight + t / 1000);
    result.milliseconds = static_cast<int16_t>(t % 1000);
    result.microseconds = 0;
    return &result;
}

const TimeStamp* time_SubtractPeriod(const TimeStamp* stamp, const PeriodSpec* period) {
    thread_local TimeStamp result{};
    std::tm t = time_GmTime(stamp->seconds);
    t.tm_year -= period->years;
    t.tm_mon -= period->months;
    t.tm_mday -= period->days;
    t.tm_hour -= period->hours;
    t.tm_min -= period->minutes;
    t.tm_sec -= period->seconds;
    result = *stamp;
    result.seconds = to_field(time_MakeSeconds(&t));
    return &result;
}
