#pragma once
// Logged-data locations: a folder or run file path for the file kind, a connection string
// beginning with "PROVIDER=" for the database kinds, with ";LoggerName=" and ";LoggerSeq="
// naming a logger and one of its runs.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace log_stores {

enum class LocationKind : int { File = -1, Ado = 0, MySql = 1, Witsml = 2, Osdu = 3 };

// The back end a location names (null or empty: the file kind).
LocationKind GetLocationKind(const char* location);

// Finds ";LoggerName=" (any letter case); the value runs to the next ';' or the end. *size
// becomes the value's length + 1 (its NUL). With `name`, the value is copied when it and its
// NUL fit in the size given; then key and value are cut out of `location` (a ';' behind them
// stays) and 1 is returned. Otherwise 0 and `location` unchanged (also without `name`: a size
// query only).
int GetLoggerNameFromLocation(std::string& location, std::size_t* size, char* name);
// Finds ";LoggerSeq=" (any letter case) and reads a decimal value up to the next ';'; on
// success cuts key and value out as above and returns 1, else 0 and `location` unchanged.
int GetLoggerSeqFromLocation(std::string& location, std::int32_t& sequence);

// Replaces each of " #&*=+?!^(){}~<>:-" by '_'.
void SanitiseTableName(std::string& text);
// 1 when a channel tag cannot name a database column (empty, or "END", "DT", "MS", "TX",
// "TP", "LL", "LV" in exactly that case), else 0.
int IsReservedColumnName(std::string_view tag);
// CR LF pairs, plus 1 when text follows the last pair.
int CountTextLines(std::string_view text);

// Copies `value` and its NUL into `out` when they fit in *size, and sets *size to the size
// needed (value length + 1) in every case; either pointer may be null. True when copied.
bool copy_with_size(std::string_view value, char* out, std::size_t* size);

}  // namespace log_stores
