#pragma once
// The parts of a run file's path that lead to its text companion: the extension, and the
// start and (for a finished run) stop stamps "yymmdd_hhmmss" just before it.
#include <cstddef>
#include <optional>
#include <string_view>

namespace log_stores::text_files {

inline constexpr std::size_t kStampLength = 13;  // yymmdd_hhmmss

struct RunTextName {
    std::size_t extension_at = 0;  // the extension's '.'
    // Where the start stamp begins; npos when the stem ends in no stamp.
    std::size_t start_at = std::string_view::npos;
    bool finished = false;  // a second stamp, the stop, follows the start after a '_'

    bool has_stamp() const { return start_at != std::string_view::npos; }
};

// Walks back from the end of `path` over the extension and the stamps. Only the last
// component counts; nullopt when it has no extension. The prefix is never taken for a stamp,
// whatever digits and underscores it ends with.
std::optional<RunTextName> walk_run_name(std::string_view path);

// True when `text` is laid out as a stamp: six digits, '_', six digits.
bool is_stamp(std::string_view text);

}  // namespace log_stores::text_files
