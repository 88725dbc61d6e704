#include "log_stores/run_file_collection/run_stamp.h"

#include <limits>

#include "platform/ascii_text.h"
#include "qvr/time/timestamp.h"

namespace log_stores {
namespace {

constexpr std::size_t kStampSize = 13;  // yymmdd_hhmmss
constexpr std::size_t kStopDistance = 14;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_separator(char c) { return c == '_' || c == '.'; }

int pair_at(std::string_view text, std::size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); }

// Walks back from the end of `stem` over pairs of digits; a separator may stand only
// between whole groups of three pairs. The position of the first digit of the last 12 or
// 6 pairs found, or nullopt.
std::optional<std::size_t> stamp_begin(std::string_view stem) {
    std::size_t pos = stem.size();
    std::size_t pairs = 0;
    std::size_t at_six = 0, at_twelve = 0;
    while (pairs < 12) {
        std::size_t next = pos;
        if (pairs != 0 && pairs % 3 == 0 && next > 0 && is_separator(stem[next - 1])) --next;
        if (next < 2 || !is_digit(stem[next - 1]) || !is_digit(stem[next - 2])) break;
        pos = next - 2;
        ++pairs;
        if (pairs == 6) at_six = pos;
        if (pairs == 12) at_twelve = pos;
    }
    if (pairs == 12) return at_twelve;
    if (pairs >= 6) return at_six;
    return std::nullopt;
}

}  // namespace

std::int32_t read_stamp_seconds(std::string_view text) {
    if (text.size() != kStampSize || !is_separator(text[6])) return 0;
    for (std::size_t i = 0; i < kStampSize; ++i)
        if (i != 6 && !is_digit(text[i])) return 0;
    const int yy = pair_at(text, 0), month = pair_at(text, 2), day = pair_at(text, 4);
    const int hour = pair_at(text, 7), minute = pair_at(text, 9), second = pair_at(text, 11);
    const std::optional<std::int64_t> seconds = time_StampFieldsToSeconds(yy, month, day, hour, minute, second);
    // Past the 32-bit count (years 38-69 read as 2038-2069) a wrapped count would name a
    // time before 1970: such a name is no run of this system.
    if (!seconds || *seconds > std::numeric_limits<std::int32_t>::max()) return 0;
    return static_cast<std::int32_t>(*seconds);
}

std::optional<RunStamp> read_run_stamp(std::string_view name, std::string_view extension) {
    if (extension.empty() || !platform::ends_with_ignoring_case(name, extension)) return std::nullopt;
    const std::string_view stem = name.substr(0, name.size() - extension.size());
    const auto begin = stamp_begin(stem);
    if (!begin) return std::nullopt;
    RunStamp stamp;
    stamp.at = *begin;
    const std::string_view text = stem.substr(*begin);
    if (text.size() >= kStampSize) stamp.start = read_stamp_seconds(text.substr(0, kStampSize));
    if (stamp.start != 0 && text.size() > kStopDistance)
        stamp.stop = read_stamp_seconds(text.substr(kStopDistance, kStampSize));
    return stamp;
}

}  // namespace log_stores
