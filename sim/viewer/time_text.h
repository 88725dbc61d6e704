#pragma once
// Record times as the viewer shows and takes them. A time is a count of microseconds since
// 1970-01-01 00:00 UTC (the stores' seconds taken as unsigned, so up to 2106). Shown in one
// fixed form with milliseconds, the zone always written:
//   UTC    2024-03-05T10:00:00.250Z
//   local  2024-03-05T11:00:00.250+01:00   (this machine's zone, TZ when it is set)
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qvr/time/timestamp.h"

namespace viewer::time_text {

enum class Zone { kUtc, kLocal };

std::uint64_t micros_of(const TimeStamp& t);
TimeStamp stamp_of(std::uint64_t micros);

std::string format(std::uint64_t micros, Zone zone);

// Takes the shown form and shorter ones: "YYYY-MM-DD", "YYYY-MM-DDTHH:MM", with ":SS" and a
// fraction of up to 6 digits, ' ' in place of 'T'; then "Z", "+HH:MM" or "-HH:MM", or nothing
// for a time in `zone`. "@N" is N seconds since 1970 (UTC). nullopt for anything else or a
// time outside 1970..2106.
std::optional<std::uint64_t> parse(std::string_view text, Zone zone);

}  // namespace viewer::time_text
