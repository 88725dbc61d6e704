#pragma once
// A date value as the data-access layer holds it: calendar seconds counted from
// 1970-01-01 00:00:00 without any time zone (the broken-down form is the stored wall-clock
// time), and a fraction of a second in nanoseconds, both exact.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ado {

struct CivilTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    int32_t nanoseconds = 0;
};

struct DateValue {
    int64_t seconds = 0;
    int32_t nanoseconds = 0;  // 0..999,999,999

    friend bool operator==(const DateValue&, const DateValue&) = default;
};

DateValue date_from_civil(const CivilTime& civil);
CivilTime civil_from_date(DateValue date);

// An OLE date (days since 1899-12-30, the fraction the time of day) rounded to the nearest
// second; nothing when the double is not a finite date within years 100..9999.
std::optional<DateValue> date_from_ole(double ole);
double ole_from_date(DateValue date);

// "YYYY-MM-DD HH:MM:SS.000" (milliseconds of the fraction), the one form SQLite keeps dates in.
std::string canonical_date_text(DateValue date);
// Reads "YYYY-MM-DD[ HH:MM[:SS[.fraction]]]" and the same with '/' or 'T'; nothing for
// anything else.
std::optional<DateValue> parse_date_text(std::string_view text);

}  // namespace ado
