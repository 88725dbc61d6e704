// The logged-data requests of viewers, and the general requests forwarded for them.
#include "qvr/requests/logged_data_requests.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/requests/channel_list.h"
#include "qvr/requests/local_buffers.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/requests/request_text.h"
#include "qvr/requests/value_requests.h"
#include "qvr/time/timestamp.h"

using namespace qvr::requests;
using qvr::local_buffers::Registration;

namespace {

constexpr uint32_t kSmallReply = 16;
constexpr uint32_t kCountReply = 100;
constexpr uint32_t kSummaryReply = 200;
constexpr uint32_t kRangeReply = 200;
constexpr uint32_t kRangeExReply = 100;
constexpr std::size_t kRecordHeadBytes = 16;
constexpr std::size_t kSampleBytes = 8;
constexpr std::size_t kRunEntryBytes = 20;

bool is_local(const char* server) {
    return link_GetServerKind(server) == kServerLocalData;
}

// -1 with ERROR_NOT_SUPPORTED: the request means something only to a kind-3 link.
int not_local() {
    return platform::fail(kErrorNotSupported);
}

// The numbers after the reply's "1,": the first `count` of them, each a whole number.
std::optional<std::vector<long long>> reply_numbers(const Reply& reply, std::size_t count) {
    const std::string_view text = reply.text();
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    auto fields = split(text.substr(comma + 1), ',', count + 1);
    if (fields.size() < count) return std::nullopt;
    std::vector<long long> out;
    for (std::size_t i = 0; i < count; ++i) {
        const auto n = number_of(fields[i]);
        if (!n) return std::nullopt;
        out.push_back(*n);
    }
    return out;
}

bool fits_u32(long long v) {
    return v >= 0 && v <= std::numeric_limits<std::uint32_t>::max();
}
bool fits_int(long long v) {
    return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
}

// -1 with ERROR_INVALID_DATA: a reply of result 1 whose numbers cannot be read.
int bad_reply() {
    return platform::fail(platform::kErrorInvalidData);
}

int flag_request(const char* server, const std::string& text) {
    if (!is_local(server)) return not_local();
    Reply reply;
    return send_text(server, text, kSmallReply, reply) != -1 ? 1 : 0;
}

std::string handle_text(const Registration& r) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64, r.handle());
    return text;
}

// `a` x `b` x `c` bytes, or nullopt when it does not fit a size.
std::optional<std::size_t> product(std::size_t a, std::size_t b, std::size_t c) {
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    if (b != 0 && a > kMax / b) return std::nullopt;
    if (c != 0 && a * b > kMax / c) return std::nullopt;
    return a * b * c;
}

struct RangeOutputs {
    TimeStamp* start;
    TimeStamp* end;
    std::uint32_t* record_count;
    std::uint32_t* run_count;
    int* last;
    void zero() const {
        if (start != nullptr) *start = TimeStamp{};
        if (end != nullptr) *end = TimeStamp{};
        if (record_count != nullptr) *record_count = 0;
        if (run_count != nullptr) *run_count = 0;
        if (last != nullptr) *last = 0;
    }
};

struct RangeFields {
    int start_given;
    TimeStamp* start;
    int end_given;
    TimeStamp* end;
    const char* channels;
    long long record_capacity;
    void* records;
    void* values;
    void* runs;
    int run_capacity;
    std::optional<std::int64_t> value_bytes;  // "8S" only
};

int read_range(const char* server, const RangeFields& f, const RangeOutputs& out) {
    // The caller's stamps are read by the handler and written back; until the reply says
    // so, the caller's own are 0.
    TimeStamp start = f.start != nullptr ? *f.start : TimeStamp{};
    TimeStamp end = f.end != nullptr ? *f.end : TimeStamp{};
    out.zero();
    if (!is_local(server)) return not_local();
    if (f.start == nullptr || f.end == nullptr || f.record_capacity < 0 || f.run_capacity < 0 ||
        (f.value_bytes && *f.value_bytes < 0))
        return refuse();
    const char* list = f.channels != nullptr ? f.channels : "";
    const auto capacity = static_cast<std::size_t>(f.record_capacity);
    const std::size_t selected = qvr::channel_list::parse(list).size();
    const auto record_bytes = product(capacity, kRecordHeadBytes, 1);
    const auto value_bytes = f.value_bytes
                                 ? std::optional<std::size_t>(static_cast<std::size_t>(*f.value_bytes))
                                 : product(capacity, selected, kSampleBytes);
    const auto run_bytes = product(static_cast<std::size_t>(f.run_capacity), kRunEntryBytes, 1);
    if (!record_bytes || !value_bytes || !run_bytes) return refuse();

    const Registration start_r(&start, sizeof start);
    const Registration end_r(&end, sizeof end);
    const Registration list_r(const_cast<char*>(list), std::strlen(list) + 1);
    const Registration records_r(f.records, *record_bytes);
    const Registration values_r(f.values, *value_bytes);
    const Registration runs_r(f.runs, *run_bytes);

    std::string text = f.value_bytes ? "8S," : "7S,";
    text += std::to_string(f.start_given) + "," + handle_text(start_r) + "," + std::to_string(f.end_given) +
            "," + handle_text(end_r) + "," + handle_text(list_r) + "," + std::to_string(f.record_capacity) +
            "," + handle_text(records_r) + "," + handle_text(values_r) + "," + handle_text(runs_r) + "," +
            std::to_string(f.run_capacity);
    if (f.value_bytes) text += "," + std::to_string(*f.value_bytes);

    Reply reply;
    const int result = send_text(server, text, f.value_bytes ? kRangeExReply : kRangeReply, reply);
    if (result == -1) return -1;
    if (result != 1) return 1;
    const auto n = reply_numbers(reply, 3);
    if (!n || !fits_u32((*n)[0]) || !fits_u32((*n)[1]) || !fits_int((*n)[2])) return bad_reply();
    *f.start = start;
    *f.end = end;
    if (out.record_count != nullptr) *out.record_count = static_cast<std::uint32_t>((*n)[0]);
    if (out.run_count != nullptr) *out.run_count = static_cast<std::uint32_t>((*n)[1]);
    if (out.last != nullptr) *out.last = static_cast<int>((*n)[2]);
    return 1;
}

}  // namespace

int ldc_IsLocalData(void*, const char* server) {
    return is_local(server) ? 0 : -1;
}

int ldc_RequestFS(void*, const char* server) {
    return flag_request(server, "FS");
}
int ldc_RequestNS(void*, const char* server) {
    return flag_request(server, "NS");
}
int ldc_RequestWS(void*, const char* server) {
    return flag_request(server, "WS");
}
int ldc_RequestPS(void*, const char* server) {
    return flag_request(server, "PS");
}
int ldc_RequestMS(void*, const char* server, std::uint32_t number) {
    return flag_request(server, "MS," + std::to_string(number));
}

std::int64_t ldc_GetStartTime(void*, const char* server) {
    if (!is_local(server)) return not_local();
    Reply reply;
    if (send_text(server, "IS", kSmallReply, reply) == -1) return 0;
    const auto n = reply_numbers(reply, 1);
    return n && fits_u32((*n)[0]) ? (*n)[0] : 0;
}

std::int64_t ldc_CountRecords(void*, const char* server, int* second) {
    if (second != nullptr) *second = 0;
    if (!is_local(server)) return not_local();
    Reply reply;
    if (send_text(server, "NS", kCountReply, reply) == -1) return 0;
    const auto n = reply_numbers(reply, second != nullptr ? 2 : 1);
    if (!n || !fits_u32((*n)[0])) return 0;
    if (second != nullptr) {
        if (!fits_int((*n)[1])) return 0;
        *second = static_cast<int>((*n)[1]);
    }
    return (*n)[0];
}

int ldc_GetSummary(void*, const char* server, int index, std::uint32_t* start, int flags, std::uint32_t* end,
                   std::uint32_t* count, std::uint32_t* size, int* last) {
    const std::uint32_t from = start != nullptr ? *start : 0;
    const std::uint32_t to = end != nullptr ? *end : 0;
    const auto zero = [&] {
        for (std::uint32_t* p : {start, end, count, size})
            if (p != nullptr) *p = 0;
        if (last != nullptr) *last = 0;
    };
    zero();
    const std::string text = "5S," + std::to_string(index) + "," + std::to_string(from) + "," +
                             std::to_string(flags) + "," + std::to_string(to);
    Reply reply;
    const int result = send_text(server, text, kSummaryReply, reply);
    if (result == -1) return -1;
    if (result != 1) return 1;
    const auto n = reply_numbers(reply, 5);
    if (!n || !fits_u32((*n)[0]) || !fits_u32((*n)[1]) || !fits_u32((*n)[2]) || !fits_u32((*n)[3]) ||
        !fits_int((*n)[4]))
        return bad_reply();
    if (start != nullptr) *start = static_cast<std::uint32_t>((*n)[0]);
    if (end != nullptr) *end = static_cast<std::uint32_t>((*n)[1]);
    if (count != nullptr) *count = static_cast<std::uint32_t>((*n)[2]);
    if (size != nullptr) *size = static_cast<std::uint32_t>((*n)[3]);
    if (last != nullptr) *last = static_cast<int>((*n)[4]);
    return 1;
}

int ldc_GetSectionText(void*, const char* server, const char* section, char* buffer, int* length) {
    const int capacity = length != nullptr ? *length : 0;
    if (length != nullptr) *length = 0;
    if (!is_local(server)) return not_local();
    if (section == nullptr || !field_ok(section, ',') || capacity < 0) return refuse();
    const Registration buffer_r(buffer, buffer != nullptr ? static_cast<std::size_t>(capacity) : 0);
    const std::string text =
        std::string("6S,") + section + "," + handle_text(buffer_r) + "," + std::to_string(capacity);
    Reply reply;
    const int result = send_text(server, text, kSmallReply, reply);
    if (result == -1) return -1;
    if (result != 1) return 1;
    const auto n = reply_numbers(reply, 1);
    if (!n || !fits_u32((*n)[0]) || (*n)[0] > capacity) return bad_reply();
    if (length != nullptr) *length = static_cast<int>((*n)[0]);
    return 1;
}

int ldc_ReadRecordRange(void*, const char* server, int startGiven, TimeStamp* start, int endGiven,
                        TimeStamp* end, const char* channels, std::uint32_t recordCapacity, void* records,
                        void* values, void* runs, int runCapacity, std::uint32_t* recordCount,
                        std::uint32_t* runCount, int* last) {
    return read_range(server,
                      {startGiven, start, endGiven, end, channels, recordCapacity, records, values, runs,
                       runCapacity, std::nullopt},
                      {start, end, recordCount, runCount, last});
}

int ldc_ReadRecordRangeEx(void*, const char* server, int startGiven, TimeStamp* start, int endGiven,
                          TimeStamp* end, const char* channels, int recordCapacity, void* records,
                          void* values, void* runs, int runCapacity, std::int64_t valueBytes,
                          std::uint32_t* recordCount, std::uint32_t* runCount, int* last) {
    return read_range(server,
                      {startGiven, start, endGiven, end, channels, recordCapacity, records, values, runs,
                       runCapacity, valueBytes},
                      {start, end, recordCount, runCount, last});
}

int ldc_RequestDS(void*, const char* server) {
    return RequestDS(server);
}
int ldc_RequestES(void*, const char* server) {
    return RequestES(server);
}
int ldc_RequestCurrentValue(void*, const char* server, const char* list, char* reply) {
    return RequestCurrentValue(server, list, reply);
}
int ldc_RequestRV(void*, const char* server, const char* list, char* reply) {
    return RequestRV(server, list, reply);
}
int ldc_RequestTagChannels(void*, const char* server, const char* const* tags, int count, std::uint8_t* out) {
    return RequestTagChannels(server, tags, count, out);
}
int ldc_SetChannelValue(void*, const char* server, const char* channel, double value) {
    return SetChannelValue(server, channel, value);
}
int ldc_GetServerTime(void*, const char* server, TimeStamp* stamp) {
    return GetServerTime(server, stamp);
}
int ldc_GetServerTimeZone(void*, const char* server, TimeStamp* stamp, std::uint8_t* zone) {
    return GetServerTimeZone(server, stamp, zone);
}
int ldc_ListConfigItems(void*, const char* server, char* out, std::uint32_t size) {
    return ListConfigItems(server, out, size);
}
