// Reading the replies of the list, state, value and file requests.
#include "qvr/requests/reply_parsers.h"

#include <cstring>
#include <string>

#include "platform/ascii_text.h"
#include "qvr/requests/request_text.h"
#include "qvr/time/timestamp.h"
#include "qvr/util/bounded_copy.h"

namespace qvr::requests {
namespace {

constexpr std::size_t kStateTextMax = 30;
constexpr std::size_t kZoneSize = 172;

// The records are packed: their members are written through bytes, never through a
// reference that may be misaligned.
template <typename T>
bool small_number(std::string_view text, long long min, long long max, void* out) {
    const auto n = number_of(text);
    if (!n || *n < min || *n > max) return false;
    const T value = static_cast<T>(*n);
    std::memcpy(out, &value, sizeof value);
    return true;
}

// "XX:n" into a range; false for a prefix of more than 2 characters or a bad count.
bool range_of(std::string_view text, ChannelRange& range) {
    range = ChannelRange{};
    const std::size_t colon = text.find(':');
    std::string_view prefix = text.substr(0, colon);
    if (prefix.size() > 2) return false;
    std::memcpy(range.prefix, prefix.data(), prefix.size());
    if (colon == std::string_view::npos) return true;
    return small_number<uint16_t>(text.substr(colon + 1), 0, 65535, &range.count);
}

// The state text: the first text, or a non-empty second one in its place.
bool state_text(const std::vector<std::string_view>& fields, std::size_t first, char* out, std::size_t size) {
    std::string_view text = first < fields.size() ? fields[first] : std::string_view();
    if (text.size() > kStateTextMax) return false;
    if (first + 1 < fields.size() && !fields[first + 1].empty()) text = fields[first + 1];
    return copy_text(text, out, size);
}

template <typename Record, typename Fill>
int parse_list(std::string_view text, Record* records, int capacity, Fill fill) {
    std::vector<std::string_view> entries;
    if (!list_entries(text, entries)) return -1;
    if (static_cast<long long>(entries.size()) > capacity || (!entries.empty() && records == nullptr))
        return -1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        records[i] = Record{};
        if (!fill(split(entries[i], ','), records[i])) return -1;
    }
    return static_cast<int>(entries.size());
}

}  // namespace

bool list_entries(std::string_view text, std::vector<std::string_view>& entries) {
    entries.clear();
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) return false;
    const auto count = number_of(text.substr(0, comma));
    if (!count) return false;
    if (*count == 0) return true;
    for (std::string_view entry : split(text.substr(comma + 1), ';'))
        if (!entry.empty()) entries.push_back(entry);
    return true;
}

int parse_processor_list(std::string_view text, ProcessorRecord* records, int capacity) {
    return parse_list(text, records, capacity,
                      [](const std::vector<std::string_view>& f, ProcessorRecord& r) {
                          if (f.size() < 5 || !copy_text(f[0], r.name, sizeof r.name) ||
                              !copy_text(f[1], r.print_name, sizeof r.print_name))
                              return false;
                          ChannelRange range;
                          if (!range_of(f[2], range) || !small_number<uint8_t>(f[3], 0, 255, &r.run))
                              return false;
                          std::memcpy(r.prefix, range.prefix, sizeof r.prefix);
                          r.channel_count = range.count;
                          r.type = platform::starts_with_ignoring_case(f[0], "modb")           ? 6
                                   : f[4].size() == 1 && platform::ascii_upper(f[4][0]) == 'A' ? 2
                                                                                               : 3;
                          return true;
                      });
}

int parse_device_list(std::string_view text, DeviceInfoRecord* records, int capacity) {
    return parse_list(
        text, records, capacity, [](const std::vector<std::string_view>& f, DeviceInfoRecord& r) {
            if (f.size() < 4 || !copy_text(f[0], r.name, sizeof r.name) ||
                !small_number<int16_t>(f[1], 0, 999, &r.number) ||
                !copy_text(f[2], r.print_name, sizeof r.print_name))
                return false;
            const std::string key = platform::ascii_upper_copy(f[0]) + "_" + std::to_string(r.number);
            if (!copy_text(key, r.key, sizeof r.key)) return false;
            int kind = 0;
            for (std::string_view token : split(f[3], ' ')) {
                if (token.empty()) continue;
                if (kind == kChannelKinds) return false;
                if (token != "-" && !range_of(token, r.ranges[kind])) return false;
                ++kind;
            }
            return true;
        });
}

int parse_processor_state(std::string_view text, ProcessorStateRecord* records, int capacity) {
    return parse_list(text, records, capacity,
                      [](const std::vector<std::string_view>& f, ProcessorStateRecord& r) {
                          return f.size() >= 2 && small_number<uint8_t>(f[0], 0, 255, &r.state[0]) &&
                                 small_number<uint8_t>(f[1], 0, 255, &r.state[1]) &&
                                 state_text(f, 2, r.text, sizeof r.text);
                      });
}

int parse_device_state(std::string_view text, DeviceStateRecord* records, int capacity) {
    return parse_list(text, records, capacity,
                      [](const std::vector<std::string_view>& f, DeviceStateRecord& r) {
                          return f.size() >= 3 && small_number<uint8_t>(f[0], 0, 255, &r.state[0]) &&
                                 small_number<uint8_t>(f[1], 0, 255, &r.state[1]) &&
                                 small_number<int32_t>(f[2], INT32_MIN, INT32_MAX, &r.value) &&
                                 state_text(f, 3, r.text, sizeof r.text);
                      });
}

int parse_logger_list(std::string_view text, LoggerInfoRecord* records, int capacity) {
    return parse_list(text, records, capacity,
                      [](const std::vector<std::string_view>& f, LoggerInfoRecord& r) {
                          return f.size() >= 3 && copy_text(f[0], r.kind, sizeof r.kind) &&
                                 small_number<int16_t>(f[1], INT16_MIN, INT16_MAX, &r.number) &&
                                 copy_text(f[2], r.description, sizeof r.description);
                      });
}

int parse_logger_state(std::string_view text, LoggerStateRecord* records, int capacity) {
    return parse_list(text, records, capacity,
                      [](const std::vector<std::string_view>& f, LoggerStateRecord& r) {
                          if (f.size() < 5 || !copy_text(f[0], r.name, sizeof r.name)) return false;
                          for (int i = 0; i < 3; ++i)
                              if (!small_number<uint8_t>(f[1 + i], 0, 255, &r.state[i])) return false;
                          if (!small_number<int32_t>(f[4], INT32_MIN, INT32_MAX, &r.value)) return false;
                          std::string_view state = f.size() > 5 ? f[5] : std::string_view();
                          if (f.size() > 6 && !f[6].empty()) state = f[6];
                          return copy_text(state, r.text, sizeof r.text);
                      });
}

void parse_server_state(std::string_view text, int& number, char* text1, std::size_t size1, char* text2,
                        std::size_t size2) {
    const auto fields = split(text, ',', 3);
    const auto n = number_of(fields[0]);
    number = n && *n >= INT32_MIN && *n <= INT32_MAX ? static_cast<int>(*n) : 0;
    qvr::copy_cut(fields.size() > 1 ? fields[1] : std::string_view(), text1, size1);
    qvr::copy_cut(fields.size() > 2 ? fields[2] : std::string_view(), text2, size2);
}

void parse_tag_channels(std::string_view reply, int count, uint8_t* out) {
    if (count <= 0 || out == nullptr) return;
    const std::size_t want = static_cast<std::size_t>(count) * 4;
    const std::size_t have = reply.size() > 2 ? reply.size() - 2 : 0;
    const std::size_t copied = have < want ? have / 4 * 4 : want;
    if (copied != 0) std::memcpy(out, reply.data() + 2, copied);
    std::memset(out + copied, 0, want - copied);
}

void parse_server_time(std::string_view reply, TimeStamp* stamp, uint8_t* zone) {
    const std::size_t nul = reply.find('\0');
    const std::string_view text = reply.substr(0, nul);
    if (stamp != nullptr) {
        *stamp = TimeStamp{};
        const auto fields = split(text, ',', 2);
        if (const auto s = number_of(fields[0]); s && *s >= INT32_MIN && *s <= INT32_MAX) {
            stamp->seconds = static_cast<int32_t>(*s);
            if (fields.size() > 1)
                if (const auto ms = number_of(fields[1]); ms && *ms >= INT16_MIN && *ms <= INT16_MAX)
                    stamp->milliseconds = static_cast<int16_t>(*ms);
        }
    }
    if (zone != nullptr) {
        if (nul != std::string_view::npos && reply.size() - nul - 1 >= kZoneSize)
            std::memcpy(zone, reply.data() + nul + 1, kZoneSize);
        else
            std::memset(zone, 0, kZoneSize);
    }
}

bool parse_directory_page(std::string_view text, int& names, bool (*name)(void* context, std::string_view),
                          void* context) {
    names = 0;
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) return true;
    for (std::string_view one : split(text.substr(comma + 1), ',')) {
        if (one.empty()) continue;
        if (one.size() >= 256) return false;
        ++names;
        if (!name(context, one)) return false;
    }
    return true;
}

long long parse_read_reply(std::string_view reply, uint32_t asked) {
    const std::size_t count_at = static_cast<std::size_t>(asked) + 3;
    if (reply.size() <= count_at) return -1;
    std::string_view rest = reply.substr(count_at);
    rest = rest.substr(0, rest.find('\0'));
    const auto count = number_of(rest);
    if (!count || *count < 0 || *count > asked) return -1;
    return *count;
}

bool parse_file_times(std::string_view text, uint32_t (&parts)[6]) {
    if (text.size() < 2) return false;
    const auto fields = split(text.substr(2), ',');
    if (fields.size() < 6) return false;
    for (int i = 0; i < 6; ++i) {
        const auto n = number_of(fields[i]);
        if (!n || *n < INT32_MIN || *n > UINT32_MAX) return false;
        parts[i] = static_cast<uint32_t>(*n);
    }
    return true;
}

}  // namespace qvr::requests
