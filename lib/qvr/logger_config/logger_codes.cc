#include "qvr/logger_config/logger_codes.h"

#include <array>
#include <utility>

#include "platform/ascii_text.h"

namespace qvr::logger {

std::uint8_t cycle_code(std::uint32_t months, std::uint32_t days, std::uint32_t hours, std::uint32_t minutes) {
    // 64-bit so that no field value can wrap into a known duration.
    const std::uint64_t total = std::uint64_t{months} * 44640 + std::uint64_t{days} * 1440 +
                                std::uint64_t{hours} * 60 + minutes;
    static constexpr std::array<std::pair<std::uint64_t, std::uint8_t>, 12> kCodes{{
        {30, 1}, {60, 2}, {120, 3}, {240, 4}, {480, 5}, {720, 6},
        {1440, 7}, {10080, 8}, {20160, 9}, {44640, 10}, {89280, 11}, {133920, 12},
    }};
    for (const auto& [duration, code] : kCodes)
        if (total == duration) return code;
    return 0;
}


std::uint8_t export_file_kind(std::string_view file_name) {
    if (file_name.size() < 5) return 1;
    const std::string_view ending = file_name.substr(file_name.size() - 4);
    if (platform::equal_ignoring_case(ending, ".csv")) return 0;
    if (platform::equal_ignoring_case(ending, ".dif")) return 2;
    if (platform::equal_ignoring_case(ending, ".txt")) return 4;
    return 1;
}

}  // namespace qvr::logger
