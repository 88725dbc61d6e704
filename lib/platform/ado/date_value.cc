#include "platform/ado/date_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace ado {
namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

constexpr int64_t kOleEpochDays = -25569;  // 1899-12-30 from 1970-01-01
constexpr double kOleMin = -657434.0;      // 0100-01-01
constexpr double kOleMax = 2958466.0;      // 10000-01-01

bool read_int(std::string_view text, size_t& i, size_t digits, int& out) {
    if (i + digits > text.size()) return false;
    const auto* first = text.data() + i;
    const auto [ptr, ec] = std::from_chars(first, first + digits, out);
    if (ec != std::errc() || ptr != first + digits) return false;
    i += digits;
    return true;
}

}  // namespace

DateValue date_from_civil(const CivilTime& c) {
    const int64_t days = days_from_civil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day));
    return {days * 86400 + c.hour * 3600 + c.minute * 60 + c.second, c.nanoseconds};
}

CivilTime civil_from_date(DateValue date) {
    CivilTime c;
    int64_t days = date.seconds / 86400;
    int64_t rest = date.seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    civil_from_days(days, c.year, c.month, c.day);
    c.hour = static_cast<int>(rest / 3600);
    c.minute = static_cast<int>(rest / 60 % 60);
    c.second = static_cast<int>(rest % 60);
    c.nanoseconds = date.nanoseconds;
    return c;
}

std::optional<DateValue> date_from_ole(double ole) {
    if (!std::isfinite(ole) || ole < kOleMin || ole >= kOleMax) return std::nullopt;
    // The integer part counts days and the fraction is the time of that day, also before
    // the epoch (-1.25 is 1899-12-29 06:00).
    const double whole = std::trunc(ole);
    const double fraction = std::fabs(ole - whole);
    auto second_of_day = static_cast<int64_t>(std::llround(fraction * 86400.0));
    const auto day = static_cast<int64_t>(whole) + kOleEpochDays;
    return DateValue{day * 86400 + second_of_day, 0};
}

double ole_from_date(DateValue date) {
    int64_t days = date.seconds / 86400;
    int64_t rest = date.seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    const double fraction = (static_cast<double>(rest) + date.nanoseconds / 1e9) / 86400.0;
    const double whole = static_cast<double>(days - kOleEpochDays);
    return whole >= 0 ? whole + fraction : whole - fraction;
}

std::string canonical_date_text(DateValue date) {
    const CivilTime c = civil_from_date(date);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", c.year, c.month, c.day, c.hour,
                  c.minute, c.second, static_cast<int>(c.nanoseconds / 1000000));
    return text;
}

std::optional<DateValue> parse_date_text(std::string_view text) {
    CivilTime c;
    size_t i = 0;
    const auto separator = [&](std::string_view allowed) {
        if (i < text.size() && allowed.find(text[i]) != std::string_view::npos) {
            ++i;
            return true;
        }
        return false;
    };
    if (!read_int(text, i, 4, c.year) || !separator("-/") || !read_int(text, i, 2, c.month) || !separator("-/") ||
        !read_int(text, i, 2, c.day))
        return std::nullopt;
    if (i < text.size()) {
        if (!separator(" T") || !read_int(text, i, 2, c.hour) || !separator(":") || !read_int(text, i, 2, c.minute))
            return std::nullopt;
        if (separator(":")) {
            if (!read_int(text, i, 2, c.second)) return std::nullopt;
            if (separator(".")) {
                int64_t nanos = 0;
                int digits = 0;
                while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
                    if (digits < 9) nanos = nanos * 10 + (text[i] - '0'), ++digits;
                    ++i;
                }
                if (digits == 0) return std::nullopt;
                while (digits++ < 9) nanos *= 10;
                c.nanoseconds = static_cast<int32_t>(nanos);
            }
        }
    }
    if (i != text.size() || c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour > 23 ||
        c.minute > 59 || c.second > 60)
        return std::nullopt;
    return date_from_civil(c);
}

}  // namespace ado
