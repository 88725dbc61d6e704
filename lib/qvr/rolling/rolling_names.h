#pragma once
// Names of rolling data files and the stamps read back from them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qvr::rolling {

inline constexpr std::size_t kStampLength = 13;  // yymmdd_hhmmss

// TimeStamp seconds of a 13-character "yymmdd_hhmmss" stamp (years below 70 are 20xx), or
// nothing when the text is not one (wrong length, non-digits, a field out of range).
std::optional<int64_t> stamp_seconds(std::string_view stamp);
// The stamp right after `prefix` (matched without case) at the start of `name`.
std::optional<int64_t> start_stamp(std::string_view name, std::string_view prefix);
// The last stamp before `suffix` (matched without case) at the end of `name`: the end stamp
// of a finished file, the start stamp of a running one.
std::optional<int64_t> last_stamp(std::string_view name, std::string_view suffix);

std::string running_name(std::string_view prefix, int32_t start, std::string_view suffix);
std::string finished_name(std::string_view prefix, int32_t start, int32_t end, std::string_view suffix);

// How a name of the folder relates to the prefix and suffix.
enum class NameForm { other, running, finished };
NameForm name_form(std::string_view name, std::string_view prefix, std::string_view suffix);

}  // namespace qvr::rolling
