#include "qvr/rolling/rolling_names.h"

#include "qvr/time/timestamp.h"

namespace qvr::rolling {
namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_without_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::optional<int> two_digits(std::string_view text, std::size_t at) {
    const char a = text[at];
    const char b = text[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return std::nullopt;
    return (a - '0') * 10 + (b - '0');
}

}  // namespace

std::optional<int64_t> stamp_seconds(std::string_view stamp) {
    if (stamp.size() != kStampLength || stamp[6] != '_') return std::nullopt;
    int fields[6];
    for (int i = 0; i < 6; ++i) {
        const std::size_t at = static_cast<std::size_t>(i) * 2 + (i >= 3 ? 1 : 0);
        const auto value = two_digits(stamp, at);
        if (!value) return std::nullopt;
        fields[i] = *value;
    }
    return time_StampFieldsToSeconds(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]);
}

std::optional<int64_t> start_stamp(std::string_view name, std::string_view prefix) {
    if (name.size() < prefix.size() + kStampLength) return std::nullopt;
    if (!equal_without_case(name.substr(0, prefix.size()), prefix)) return std::nullopt;
    return stamp_seconds(name.substr(prefix.size(), kStampLength));
}

std::optional<int64_t> last_stamp(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size() + kStampLength) return std::nullopt;
    const std::size_t stamp_end = name.size() - suffix.size();
    if (!equal_without_case(name.substr(stamp_end), suffix)) return std::nullopt;
    return stamp_seconds(name.substr(stamp_end - kStampLength, kStampLength));
}

std::string running_name(std::string_view prefix, int32_t start, std::string_view suffix) {
    std::string name(prefix);
    name += time_FileStampText(start);
    name += suffix;
    return name;
}

std::string finished_name(std::string_view prefix, int32_t start, int32_t end, std::string_view suffix) {
    std::string name(prefix);
    name += time_FileStampText(start);
    name += '_';
    name += time_FileStampText(end);
    name += suffix;
    return name;
}

NameForm name_form(std::string_view name, std::string_view prefix, std::string_view suffix) {
    if (!start_stamp(name, prefix) || !last_stamp(name, suffix)) return NameForm::other;
    const std::size_t running = prefix.size() + kStampLength + suffix.size();
    if (name.size() == running) return NameForm::running;
    if (name.size() == running + 1 + kStampLength && name[prefix.size() + kStampLength] == '_') {
        return NameForm::finished;
    }
    return NameForm::other;
}

}  // namespace qvr::rolling
