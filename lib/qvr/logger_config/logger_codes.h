#pragma once
// Codes the older readers of a standard or republisher record take from its typed fields.
#include <cstdint>
#include <span>
#include <string_view>

namespace qvr::logger {

// Code of a 6-byte duration (months, days, hours, minutes, ...): 1-12 for the durations the
// older readers know (30 minutes .. 3 months), 0 for any other.
std::uint8_t cycle_code(std::uint32_t months, std::uint32_t days, std::uint32_t hours, std::uint32_t minutes);

// Export file kind from the ending of the export file name, compared without case:
// ".csv" 0, ".dif" 2, ".txt" 4; any other ending, or a name of fewer than five characters, 1.
std::uint8_t export_file_kind(std::string_view file_name);

}  // namespace qvr::logger
