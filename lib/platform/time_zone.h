#pragma once
// The zone record peers exchange for a machine's local time: the 172-byte
// TIME_ZONE_INFORMATION, built from the zone's POSIX rule (the rule at the end of the TZif
// data of the zone file, or the TZ variable itself). Biases are minutes west of UTC; the
// names are the zone's abbreviations (UTF-16LE, 32 units, NUL-terminated); the dates say
// when a change happens as month, week of the month (5 = last), weekday (0 = Sunday) and
// local time of day, year 0.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::size_t kTimeZoneInformationSize = 172;
inline constexpr std::size_t kTimeZoneBias = 0;
inline constexpr std::size_t kTimeZoneStandardName = 4;
inline constexpr std::size_t kTimeZoneStandardDate = 68;
inline constexpr std::size_t kTimeZoneStandardBias = 84;
inline constexpr std::size_t kTimeZoneDaylightName = 88;
inline constexpr std::size_t kTimeZoneDaylightDate = 152;
inline constexpr std::size_t kTimeZoneDaylightBias = 168;
inline constexpr std::size_t kTimeZoneNameUnits = 32;

using TimeZoneInformation = std::array<std::uint8_t, kTimeZoneInformationSize>;

// When a change of offset happens, as the record holds it.
struct ZoneChange {
    int month = 0;  // 1..12; 0 = none
    int week = 0;   // 1..5, 5 = the last
    int weekday = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// A POSIX rule ("CET-1CEST,M3.5.0,M10.5.0/3") as far as the record can hold it.
struct ZoneRule {
    std::string standard_name;
    std::string daylight_name;        // empty: no daylight time
    int standard_offset_minutes = 0;  // west of UTC, as the rule writes it
    int daylight_offset_minutes = 0;
    ZoneChange daylight_start;  // the record's DaylightDate
    ZoneChange daylight_end;    // the record's StandardDate
    // The rule has daylight time whose dates the record cannot express (Julian days, times
    // outside 0..23 h): the dates stay zero.
    bool dates_inexpressible = false;
};

// Reads a POSIX rule. nullopt when the text is no rule at all.
std::optional<ZoneRule> parse_zone_rule(std::string_view text);
// The rule at the end of TZif data (version 2 or later); nullopt when there is none.
std::optional<std::string> tzif_footer_rule(std::string_view tzif);
// The record of a rule.
TimeZoneInformation time_zone_information(const ZoneRule& rule);

// The rule of the zone `tz` names (a TZ value: ":file", a zone name under TZDIR or
// /usr/share/zoneinfo, or a POSIX rule); an empty text means /etc/localtime.
std::optional<ZoneRule> zone_rule_of(const std::string& tz);
// This machine's record, from TZ (or /etc/localtime). A zone without a readable rule is
// UTC; a rule whose dates cannot be expressed gives zero dates. Each case that loses
// something is written to the debugger channel.
TimeZoneInformation local_time_zone_information();
// The record of the zone `tz` names, as above.
TimeZoneInformation time_zone_information_for(const std::string& tz);

}  // namespace platform
