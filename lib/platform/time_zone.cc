// The zone record from the zone's POSIX rule.
#include "platform/time_zone.h"

#include <cstdlib>
#include <fstream>

#include "platform/debug_output.h"

namespace platform {
namespace {

constexpr std::string_view kZoneFolder = "/usr/share/zoneinfo";
constexpr std::size_t kZoneFileMax = 1u << 20;
constexpr int kDefaultChangeHour = 2;

class RuleReader {
  public:
    explicit RuleReader(std::string_view text) : text_(text) {}
    bool at_end() const { return pos_ == text_.size(); }
    bool peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
    bool take(char c) {
        if (!peek(c)) return false;
        ++pos_;
        return true;
    }
    bool peek_digit() const { return pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9'; }

    // A zone name: three or more letters, or "<...>" of letters, digits, '+' and '-'.
    bool name(std::string& out) {
        out.clear();
        if (take('<')) {
            while (pos_ < text_.size() && text_[pos_] != '>') {
                const char c = text_[pos_];
                if (!is_alnum(c) && c != '+' && c != '-') return false;
                out += c;
                ++pos_;
            }
            return take('>') && out.size() >= 3;
        }
        while (pos_ < text_.size() && is_alpha(text_[pos_])) out += text_[pos_++];
        return out.size() >= 3;
    }

    // [+-]hh[:mm[:ss]] in seconds, hours up to `max_hours`.
    bool clock(int max_hours, long& seconds) {
        int sign = 1;
        if (take('-'))
            sign = -1;
        else
            take('+');
        long parts[3] = {0, 0, 0};
        for (int i = 0; i < 3; ++i) {
            if (i > 0 && !take(':')) break;
            long value = 0;
            if (!number(value, i == 0 ? max_hours : 59)) return false;
            parts[i] = value;
        }
        seconds = sign * (parts[0] * 3600 + parts[1] * 60 + parts[2]);
        return true;
    }

    // A decimal number of at most `max`.
    bool number(long& value, long max) {
        if (!peek_digit()) return false;
        value = 0;
        while (peek_digit()) {
            value = value * 10 + (text_[pos_++] - '0');
            if (value > max) return false;
        }
        return true;
    }

    // One date of the rule with its time. False for text that is no date; `expressible`
    // false for a valid date the record cannot hold.
    bool change(ZoneChange& out, bool& expressible) {
        out = ZoneChange{};
        if (take('M')) {
            long month = 0, week = 0, day = 0;
            if (!number(month, 12) || month < 1 || !take('.') || !number(week, 5) || week < 1 || !take('.') ||
                !number(day, 6))
                return false;
            out.month = static_cast<int>(month);
            out.week = static_cast<int>(week);
            out.weekday = static_cast<int>(day);
        } else {
            const bool julian = take('J');
            long day = 0;
            if (!number(day, 365) || (julian && day < 1)) return false;
            expressible = false;
        }
        long seconds = kDefaultChangeHour * 3600L;
        if (take('/') && !clock(167, seconds)) return false;
        if (seconds < 0 || seconds >= 24 * 3600L) {
            expressible = false;
            return true;
        }
        out.hour = static_cast<int>(seconds / 3600);
        out.minute = static_cast<int>(seconds / 60 % 60);
        out.second = static_cast<int>(seconds % 60);
        return true;
    }

  private:
    static bool is_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
    static bool is_alnum(char c) { return is_alpha(c) || (c >= '0' && c <= '9'); }

    std::string_view text_;
    std::size_t pos_ = 0;
};

uint32_t big_endian32(std::string_view data, std::size_t at) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(data[at + i]);
    return value;
}

void put16(TimeZoneInformation& out, std::size_t at, int value) {
    const auto v = static_cast<uint16_t>(value);
    out[at] = static_cast<uint8_t>(v & 0xFF);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(TimeZoneInformation& out, std::size_t at, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void put_name(TimeZoneInformation& out, std::size_t at, std::string_view name) {
    for (std::size_t i = 0; i < name.size() && i + 1 < kTimeZoneNameUnits; ++i)
        put16(out, at + 2 * i, static_cast<uint8_t>(name[i]));
}

void put_change(TimeZoneInformation& out, std::size_t at, const ZoneChange& change) {
    if (change.month == 0) return;
    put16(out, at + 2, change.month);
    put16(out, at + 4, change.weekday);
    put16(out, at + 6, change.week);
    put16(out, at + 8, change.hour);
    put16(out, at + 10, change.minute);
    put16(out, at + 12, change.second);
}

std::optional<std::string> read_small_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data;
    data.resize(kZoneFileMax + 1);
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got > kZoneFileMax) return std::nullopt;
    data.resize(got);
    return data;
}

bool safe_zone_name(std::string_view name) {
    if (name.empty() || name.front() == '/') return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t slash = name.find('/', start);
        if (slash == std::string_view::npos) slash = name.size();
        if (name.substr(start, slash - start) == "..") return false;
        start = slash + 1;
    }
    return true;
}

std::optional<ZoneRule> rule_of_file(const std::string& path) {
    const auto data = read_small_file(path);
    if (!data) return std::nullopt;
    const auto footer = tzif_footer_rule(*data);
    if (!footer) return std::nullopt;
    return parse_zone_rule(*footer);
}

}  // namespace

std::optional<ZoneRule> parse_zone_rule(std::string_view text) {
    RuleReader reader(text);
    ZoneRule rule;
    long seconds = 0;
    if (!reader.name(rule.standard_name) || !reader.clock(24, seconds)) return std::nullopt;
    rule.standard_offset_minutes = static_cast<int>(seconds / 60);
    if (reader.at_end()) return rule;
    if (!reader.name(rule.daylight_name)) return std::nullopt;
    rule.daylight_offset_minutes = rule.standard_offset_minutes - 60;
    if (!reader.peek(',') && !reader.at_end()) {
        if (!reader.clock(24, seconds)) return std::nullopt;
        rule.daylight_offset_minutes = static_cast<int>(seconds / 60);
    }
    bool expressible = true;
    if (reader.take(',')) {
        if (!reader.change(rule.daylight_start, expressible) || !reader.take(',') ||
            !reader.change(rule.daylight_end, expressible))
            return std::nullopt;
    } else {
        expressible = false;  // the dates are left to the library reading the rule
    }
    if (!reader.at_end()) return std::nullopt;
    if (!expressible) {
        rule.dates_inexpressible = true;
        rule.daylight_start = ZoneChange{};
        rule.daylight_end = ZoneChange{};
    }
    return rule;
}

std::optional<std::string> tzif_footer_rule(std::string_view tzif) {
    constexpr std::size_t kHeader = 44;
    auto block_end = [&](std::size_t at, std::size_t time_size, uint64_t& end) {
        if (tzif.size() < at + kHeader || tzif.substr(at, 4) != "TZif") return false;
        const uint64_t isut = big_endian32(tzif, at + 20), isstd = big_endian32(tzif, at + 24),
                       leap = big_endian32(tzif, at + 28), times = big_endian32(tzif, at + 32),
                       types = big_endian32(tzif, at + 36), chars = big_endian32(tzif, at + 40);
        end = at + kHeader + times * time_size + times + types * 6 + chars + leap * (time_size + 4) + isstd +
              isut;
        return end <= tzif.size();
    };
    uint64_t first_end = 0;
    if (!block_end(0, 4, first_end) || tzif[4] < '2') return std::nullopt;
    uint64_t second_end = 0;
    if (!block_end(static_cast<std::size_t>(first_end), 8, second_end)) return std::nullopt;
    const std::string_view rest = tzif.substr(static_cast<std::size_t>(second_end));
    if (rest.size() < 2 || rest.front() != '\n') return std::nullopt;
    const std::size_t close = rest.find('\n', 1);
    if (close == std::string_view::npos || close == 1) return std::nullopt;
    return std::string(rest.substr(1, close - 1));
}

TimeZoneInformation time_zone_information(const ZoneRule& rule) {
    TimeZoneInformation out{};
    put32(out, kTimeZoneBias, rule.standard_offset_minutes);
    put_name(out, kTimeZoneStandardName, rule.standard_name);
    if (!rule.daylight_name.empty()) {
        put_name(out, kTimeZoneDaylightName, rule.daylight_name);
        put32(out, kTimeZoneDaylightBias, rule.daylight_offset_minutes - rule.standard_offset_minutes);
        put_change(out, kTimeZoneStandardDate, rule.daylight_end);
        put_change(out, kTimeZoneDaylightDate, rule.daylight_start);
    }
    return out;
}

std::optional<ZoneRule> zone_rule_of(const std::string& tz) {
    if (tz.empty()) return rule_of_file("/etc/localtime");
    std::string_view name(tz);
    const bool file_only = name.front() == ':';
    if (file_only) name.remove_prefix(1);
    if (!name.empty() && name.front() == '/') return rule_of_file(std::string(name));
    if (safe_zone_name(name)) {
        const char* folder = std::getenv("TZDIR");
        const std::string base = folder != nullptr && *folder != '\0' ? folder : std::string(kZoneFolder);
        if (auto rule = rule_of_file(base + "/" + std::string(name))) return rule;
    }
    if (file_only) return std::nullopt;
    return parse_zone_rule(name);
}

TimeZoneInformation time_zone_information_for(const std::string& tz) {
    auto rule = zone_rule_of(tz);
    if (!rule) {
        debug_output("No readable rule for the time zone \"" + tz + "\": UTC is reported\r\n");
        rule = ZoneRule{"UTC"};
    } else if (rule->dates_inexpressible) {
        debug_output("The daylight-time dates of the time zone \"" + tz +
                     "\" cannot be expressed: none are reported\r\n");
    }
    return time_zone_information(*rule);
}

TimeZoneInformation local_time_zone_information() {
    const char* tz = std::getenv("TZ");
    if (tz != nullptr && *tz == '\0') return time_zone_information(ZoneRule{"UTC"});  // TZ= is UTC
    return time_zone_information_for(tz != nullptr ? tz : "");
}

}  // namespace platform
