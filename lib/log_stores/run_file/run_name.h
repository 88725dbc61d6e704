#pragma once
// Names of run files: the collection's prefix, the run's start in UTC as "yymmdd_hhmmss",
// for a finished run "_" and its stop the same way, then ".qdl". Companions share the stem.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace log_stores::run_file {

inline constexpr std::string_view kRunExtension = ".qdl";

std::string running_run_name(std::string_view prefix, std::int32_t start);
std::string finished_run_name(std::string_view prefix, std::int32_t start, std::int32_t stop);

struct RunNameParts {
    std::string prefix;
    std::int32_t start = 0;             // UTC seconds
    std::optional<std::int32_t> stop;  // finished runs only
};

// Reads the stamps at the end of a run file name (with its ".qdl", any letter case); a
// two-digit year below 70 is 20yy, else 19yy. nullopt when the name ends in no valid stamp,
// or in one past the 32-bit count of seconds (2038-01-19 03:14:07 UTC).
std::optional<RunNameParts> parse_run_name(std::string_view name);

// The companion of a run file: its extension replaced by `extension` (".txt", ".qvr", ".zip").
std::string companion_name(std::string_view run_file, std::string_view extension);

}  // namespace log_stores::run_file
