#include "log_stores/run_file/run_name.h"

#include <cctype>
#include <limits>

#include "qvr/time/timestamp.h"

namespace log_stores::run_file {
namespace {

constexpr std::size_t kStampSize = 13;  // yymmdd_hhmmss

bool ends_with_extension(std::string_view name) {
    if (name.size() < kRunExtension.size()) return false;
    const std::string_view tail = name.substr(name.size() - kRunExtension.size());
    for (std::size_t i = 0; i < tail.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(tail[i])) != kRunExtension[i]) return false;
    return true;
}

std::optional<int> two_digits(std::string_view text, std::size_t at) {
    const auto digit = [&](std::size_t i) { return std::isdigit(static_cast<unsigned char>(text[i])) != 0; };
    if (!digit(at) || !digit(at + 1)) return std::nullopt;
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

std::optional<std::int32_t> parse_stamp(std::string_view stamp) {
    if (stamp.size() != kStampSize || stamp[6] != '_') return std::nullopt;
    int field[6];
    for (std::size_t i = 0; i < 6; ++i) {
        const auto value = two_digits(stamp, i < 3 ? 2 * i : 2 * i + 1);
        if (!value) return std::nullopt;
        field[i] = *value;
    }
    const std::optional<std::int64_t> seconds =
        time_StampFieldsToSeconds(field[0], field[1], field[2], field[3], field[4], field[5]);
    // Years 38-69 read as 2038-2069: past the 32-bit count of seconds no run of this system
    // starts or stops, and a wrapped count would name a time before 1970.
    if (!seconds || *seconds > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(*seconds);
}

}  // namespace

std::string running_run_name(std::string_view prefix, std::int32_t start) {
    std::string name(prefix);
    name += time_FileStampText(start);
    name += kRunExtension;
    return name;
}

std::string finished_run_name(std::string_view prefix, std::int32_t start, std::int32_t stop) {
    std::string name(prefix);
    name += time_FileStampText(start);
    name += '_';
    name += time_FileStampText(stop);
    name += kRunExtension;
    return name;
}

std::optional<RunNameParts> parse_run_name(std::string_view name) {
    if (!ends_with_extension(name)) return std::nullopt;
    const std::string_view stem = name.substr(0, name.size() - kRunExtension.size());
    if (stem.size() < kStampSize) return std::nullopt;
    const auto last = parse_stamp(stem.substr(stem.size() - kStampSize));
    if (!last) return std::nullopt;
    if (stem.size() >= 2 * kStampSize + 1 && stem[stem.size() - kStampSize - 1] == '_') {
        const std::string_view first_stamp = stem.substr(stem.size() - 2 * kStampSize - 1, kStampSize);
        if (const auto first = parse_stamp(first_stamp))
            return RunNameParts{std::string(stem.substr(0, stem.size() - 2 * kStampSize - 1)), *first, *last};
    }
    return RunNameParts{std::string(stem.substr(0, stem.size() - kStampSize)), *last, std::nullopt};
}

std::string companion_name(std::string_view run_file, std::string_view extension) {
    const std::size_t slash = run_file.find_last_of("/\\");
    const std::size_t dot = run_file.rfind('.');
    std::string name(run_file);
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) name.resize(dot);
    name += extension;
    return name;
}

}  // namespace log_stores::run_file
