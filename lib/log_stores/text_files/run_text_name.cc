#include "log_stores/text_files/run_text_name.h"

namespace log_stores::text_files {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool is_stamp(std::string_view text) {
    if (text.size() != kStampLength || text[6] != '_') return false;
    for (std::size_t i = 0; i < kStampLength; ++i)
        if (i != 6 && !is_digit(text[i])) return false;
    return true;
}

std::optional<RunTextName> walk_run_name(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t name_at = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot < name_at) return std::nullopt;
    RunTextName out;
    out.extension_at = dot;
    const std::size_t name_length = dot - name_at;
    if (name_length < kStampLength || !is_stamp(path.substr(dot - kStampLength, kStampLength))) return out;
    out.start_at = dot - kStampLength;
    const std::size_t both = 2 * kStampLength + 1;
    if (name_length >= both && path[dot - kStampLength - 1] == '_' &&
        is_stamp(path.substr(dot - both, kStampLength))) {
        out.start_at = dot - both;
        out.finished = true;
    }
    return out;
}

}  // namespace log_stores::text_files
