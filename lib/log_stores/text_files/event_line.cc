#include "log_stores/text_files/event_line.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace log_stores::text_files {
namespace {

// Only the stamp and the first characters of the text matter to the reading.
constexpr std::size_t kReadLimit = 96;

std::string fraction_of(const TimeStamp& time) {
    char text[16] = "";
    if (time.microseconds != 0)
        std::snprintf(text, sizeof text, ".%03d%03d", time.milliseconds, time.microseconds);
    else if (time.milliseconds != 0)
        std::snprintf(text, sizeof text, ".%03d", time.milliseconds);
    return text;
}

// Behind the second blank-separated token and the blank after it.
std::size_t text_position(std::string_view line) {
    std::size_t at = 0;
    for (int token = 0; token < 2; ++token) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
    }
    if (at < line.size()) ++at;
    return at;
}

}  // namespace

std::string format_event_line(const TimeStamp& time, std::string_view text, EventLineForm form) {
    const std::tm t = time_GmTime(time.seconds);
    const std::string fraction = fraction_of(time);
    char stamp[64];
    if (form == EventLineForm::DateFirst)
        std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d%s ", t.tm_year % 100, t.tm_mon + 1,
                      t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, fraction.c_str());
    else
        std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d%s %02d/%02d/%02d ", t.tm_hour, t.tm_min, t.tm_sec,
                      fraction.c_str(), t.tm_mday, t.tm_mon + 1, t.tm_year % 100);
    std::string line = stamp;
    const std::size_t text_at = line.size();
    line += text;
    std::replace_if(line.begin() + static_cast<std::ptrdiff_t>(text_at), line.end(),
                    [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return line;
}

std::optional<LineTime> ParseTextLineTime(std::string_view line) {
    const std::string text(line.substr(0, std::min(line.size(), kReadLimit)));
    // Tried in this order. "%1s" in place of "%*s": a text token must follow, and its first
    // character is enough; the fraction is bounded so that no digit string overflows the scan.
    struct Form {
        const char* format;
        EventLineForm form;
        bool fraction;
    };
    static constexpr Form kForms[] = {
        {"%2d/%2d/%2d %2d:%2d:%2d.%7d %1s", EventLineForm::DateFirst, true},
        {"%2d:%2d:%2d.%7d %2d/%2d/%2d %1s", EventLineForm::TimeFirst, true},
        {"%2d/%2d/%2d %2d:%2d:%2d %1s", EventLineForm::DateFirst, false},
        {"%2d:%2d:%2d %2d/%2d/%2d %1s", EventLineForm::TimeFirst, false},
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;
    char rest[2];
    const Form* matched = nullptr;
    for (const Form& form : kForms) {
        int fields = 0;
        if (form.form == EventLineForm::DateFirst && form.fraction)
            fields = std::sscanf(text.c_str(), form.format, &year, &month, &day, &hour, &minute, &second, &fraction, rest);
        else if (form.form == EventLineForm::TimeFirst && form.fraction)
            fields = std::sscanf(text.c_str(), form.format, &hour, &minute, &second, &fraction, &day, &month, &year, rest);
        else if (form.form == EventLineForm::DateFirst)
            fields = std::sscanf(text.c_str(), form.format, &year, &month, &day, &hour, &minute, &second, rest);
        else
            fields = std::sscanf(text.c_str(), form.format, &hour, &minute, &second, &day, &month, &year, rest);
        if (fields == (form.fraction ? 8 : 7)) {
            matched = &form;
            break;
        }
    }
    if (matched == nullptr) return std::nullopt;
    const bool has_fraction = matched->fraction;
    const std::optional<std::int64_t> seconds = time_StampFieldsToSeconds(year, month, day, hour, minute, second);
    if (!seconds) return std::nullopt;

    LineTime result;
    // Stamps past 2038 keep their 32 bits, as TimeStamp does.
    result.time.seconds = static_cast<std::int32_t>(static_cast<std::uint32_t>(*seconds));
    result.text_at = text_position(line);
    result.form = matched->form;
    if (has_fraction && result.text_at != 18) {
        if (fraction < 0) return std::nullopt;
        if (result.text_at == 22) {
            if (fraction > 999) return std::nullopt;
            result.time.milliseconds = static_cast<std::int16_t>(fraction);
        } else {
            if (fraction > 999'999) return std::nullopt;
            result.time.milliseconds = static_cast<std::int16_t>(fraction / 1000);
            result.time.microseconds = static_cast<std::int16_t>(fraction % 1000);
        }
    }
    return result;
}

std::optional<LineTime> ParseTextLineTime(std::u16string_view line) {
    std::string narrow;
    const std::size_t n = std::min(line.size(), kReadLimit);
    narrow.reserve(n);
    for (std::size_t i = 0; i < n; ++i) narrow += line[i] < 0x80 ? static_cast<char>(line[i]) : '?';
    return ParseTextLineTime(std::string_view(narrow));
}

std::string section_header(std::string_view name) {
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') return std::string(name);
    return "[" + std::string(name) + "]";
}

}  // namespace log_stores::text_files
