#pragma once
// The time stamps a run file's name carries before its extension: the start as
// "yymmdd_hhmmss" and, for a finished run, "_" and the stop the same way. Names copied
// between machines may use '.' between the groups; any name the folder holds is read
// without trust.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace log_stores {

struct RunStamp {
    std::size_t at = 0;      // where the stamp's first digit stands in the name
    std::int32_t start = 0;  // UTC seconds; 0 when the stamp cannot be read (not a run)
    std::int32_t stop = 0;   // UTC seconds; 0 for a running run
};

// The stamp of `name` when it ends in `extension` (any letter case) and the text before it
// ends in 6 or 12 pairs of digits, with a '.' or '_' allowed between groups of three pairs;
// nullopt otherwise. The start reads from the stamp's first 13 characters and the stop from
// the 13 that begin 14 further on, when more than 14 characters stand before the extension.
std::optional<RunStamp> read_run_stamp(std::string_view name, std::string_view extension);

// "yymmdd_hhmmss" (or with '.' in place of '_') as UTC seconds; a two-digit year below 70
// is 20yy. 0 when the text is not exactly that, names no calendar time, or names one past
// the 32-bit count of seconds (2038-01-19 03:14:07 UTC).
std::int32_t read_stamp_seconds(std::string_view text);

}  // namespace log_stores
