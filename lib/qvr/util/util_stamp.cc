#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/time/timestamp.h"
#include "qvr/util/util.h"

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Seconds of a stamp "yymmdd", "yymmddhhmmss" or either with one separator after the date.
int64_t stamp_seconds(const char* stamp) {
    int fields[6] = {0, 0, 0, 0, 0, 0};
    const char* p = stamp;
    for (int i = 0; i < 6; ++i) {
        if (i == 3 && (*p == '.' || *p == '_')) ++p;
        if (!is_digit(p[0]) || !is_digit(p[1])) break;
        fields[i] = (p[0] - '0') * 10 + (p[1] - '0');
        p += 2;
    }
    std::tm time{};
    time.tm_year = fields[0] < 70 ? fields[0] + 100 : fields[0];
    time.tm_mon = fields[1] - 1;
    time.tm_mday = fields[2];
    time.tm_hour = fields[3];
    time.tm_min = fields[4];
    time.tm_sec = fields[5];
    return time_MakeSeconds(&time);
}

}  // namespace

const char* util_FindTrailingStamp(const char* name, const char* suffix) {
    if (name == nullptr || name[0] == 0) return nullptr;
    const std::string_view text(name);
    const std::string_view tail(suffix != nullptr ? suffix : "");
    if (!platform::ends_with_ignoring_case(text, tail)) return nullptr;
    size_t end = text.size() - tail.size();  // one past the stamp's last character
    if (end < 2) return nullptr;

    size_t digits = 0;
    size_t start = end;  // first character of the stamp found so far
    size_t position = end;
    while (digits < 12 && position >= 2 && is_digit(name[position - 1]) && is_digit(name[position - 2])) {
        position -= 2;
        digits += 2;
        start = position;
        if (digits == 6 && position > 2 && (name[position - 1] == '.' || name[position - 1] == '_') &&
            is_digit(name[position - 2]))
            --position;  // the separator between date and time
    }
    return digits == 6 || digits == 12 ? name + start : nullptr;
}

int util_HasTrailingStamp(const char* name, const char* suffix) {
    return util_FindTrailingStamp(name, suffix) != nullptr ? 1 : 0;
}

int util_FindNewestStamped(const char* folder, char* name, size_t capacity, const char* suffix) {
    if (folder == nullptr || name == nullptr || capacity == 0)
        return platform::fail(platform::kErrorInvalidArgument);
    UtilFindHandle* search = util_FindFirst(folder);
    if (search == nullptr) return -1;
    bool found = false;
    int64_t newest = 0;
    std::string newest_name;
    while (const char* entry = util_FindNext(search)) {
        const char* stamp = util_FindTrailingStamp(entry, suffix);
        if (stamp == nullptr) continue;
        const int64_t seconds = stamp_seconds(stamp);
        if (!found || seconds > newest) {
            found = true;
            newest = seconds;
            newest_name = entry;
        }
    }
    util_FindClose(search);
    if (!found) return 0;
    // A cut name would name another file.
    if (newest_name.size() >= capacity) return platform::fail(platform::kErrorInsufficientBuffer);
    std::memcpy(name, newest_name.data(), newest_name.size() + 1);
    return 1;
}
