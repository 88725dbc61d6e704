#include "viewer/time_text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

namespace viewer::time_text {
namespace {

constexpr std::uint64_t kMicros = 1'000'000;
constexpr std::int64_t kLastSecond = 0xFFFFFFFFLL;

// Exactly `digits` decimal digits at text[at], moved past.
std::optional<int> digits_at(std::string_view text, std::size_t& at, std::size_t digits) {
    if (at + digits > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    at += digits;
    return value;
}

int days_in_month(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool take(std::string_view text, std::size_t& at, char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
}

std::optional<std::uint64_t> seconds_since_1970(std::string_view digits) {
    std::int64_t n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || end != digits.data() + digits.size() || n < 0 || n > kLastSecond) return std::nullopt;
    return static_cast<std::uint64_t>(n) * kMicros;
}

}  // namespace

std::uint64_t micros_of(const TimeStamp& t) {
    const auto ms = static_cast<std::uint64_t>(std::clamp<int>(t.milliseconds, 0, 999));
    const auto us = static_cast<std::uint64_t>(std::clamp<int>(t.microseconds, 0, 999));
    return std::uint64_t{static_cast<std::uint32_t>(t.seconds)} * kMicros + ms * 1000u + us;
}

TimeStamp stamp_of(std::uint64_t micros) {
    const std::uint64_t seconds = std::min<std::uint64_t>(micros / kMicros, kLastSecond);
    TimeStamp t{};
    t.seconds = static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds));
    t.milliseconds = static_cast<std::int16_t>(micros / 1000u % 1000u);
    t.microseconds = static_cast<std::int16_t>(micros % 1000u);
    return t;
}

std::string format(std::uint64_t micros, Zone zone) {
    const auto seconds = static_cast<std::time_t>(micros / kMicros);
    const auto ms = static_cast<int>(micros / 1000u % 1000u);
    std::tm tm{};
    if (zone == Zone::kUtc ? ::gmtime_r(&seconds, &tm) == nullptr : ::localtime_r(&seconds, &tm) == nullptr)
        return "?";
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", tm.tm_year + 1900,
                                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    std::string out(text, static_cast<std::size_t>(std::max(n, 0)));
    if (zone == Zone::kUtc) return out + "Z";
    const long offset = tm.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    std::snprintf(text, sizeof text, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return out + text;
}

std::optional<std::uint64_t> parse(std::string_view text, Zone zone) {
    if (text.starts_with('@')) return seconds_since_1970(text.substr(1));
    std::size_t at = 0;
    std::tm tm{};
    const auto year = digits_at(text, at, 4);
    if (!year || !take(text, at, '-')) return std::nullopt;
    const auto month = digits_at(text, at, 2);
    if (!month || !take(text, at, '-')) return std::nullopt;
    const auto day = digits_at(text, at, 2);
    if (!day) return std::nullopt;
    int hour = 0, minute = 0, second = 0;
    std::uint64_t fraction = 0;  // microseconds
    if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
        ++at;
        const auto h = digits_at(text, at, 2);
        if (!h || !take(text, at, ':')) return std::nullopt;
        const auto m = digits_at(text, at, 2);
        if (!m) return std::nullopt;
        hour = *h;
        minute = *m;
        if (take(text, at, ':')) {
            const auto s = digits_at(text, at, 2);
            if (!s) return std::nullopt;
            second = *s;
            if (take(text, at, '.')) {
                std::uint64_t scale = 100'000;
                std::size_t count = 0;
                while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
                    if (++count > 6) return std::nullopt;
                    fraction += static_cast<std::uint64_t>(text[at++] - '0') * scale;
                    scale /= 10;
                }
                if (count == 0) return std::nullopt;
            }
        }
    }
    // Fields a calendar does not have are refused rather than carried over.
    if (*month < 1 || *month > 12 || *day < 1 || *day > days_in_month(*year, *month) || hour > 23 ||
        minute > 59 || second > 59)
        return std::nullopt;
    tm.tm_year = *year - 1900;
    tm.tm_mon = *month - 1;
    tm.tm_mday = *day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;

    std::optional<long> offset_seconds;  // east of UTC
    if (take(text, at, 'Z')) {
        offset_seconds = 0;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const bool west = text[at++] == '-';
        const auto oh = digits_at(text, at, 2);
        if (!oh || !take(text, at, ':')) return std::nullopt;
        const auto om = digits_at(text, at, 2);
        if (!om || *oh > 23 || *om > 59) return std::nullopt;
        offset_seconds = (west ? -1L : 1L) * (*oh * 3600L + *om * 60L);
    }
    if (at != text.size()) return std::nullopt;

    std::int64_t seconds = 0;
    if (offset_seconds || zone == Zone::kUtc) {
        seconds = static_cast<std::int64_t>(::timegm(&tm)) - offset_seconds.value_or(0);
    } else {
        tm.tm_isdst = -1;
        seconds = static_cast<std::int64_t>(::mktime(&tm));
    }
    if (seconds < 0 || seconds > kLastSecond) return std::nullopt;
    return static_cast<std::uint64_t>(seconds) * kMicros + fraction;
}

}  // namespace viewer::time_text
