// Record ranges ("7S", "8S") and the channel selection they name. Every buffer is a
// registered caller buffer found by its handle; nothing is written past its capacity, and
// only whole records and run entries are written.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "log_stores/local_server/local_data_server.h"
#include "log_stores/local_server/local_range_fields.h"
#include "log_stores/run_file/run_file_format.h"
#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/requests/channel_list.h"

namespace log_stores::local {

using namespace ranges;

ChannelToken ParseChannelToken(std::string_view token) {
    const qvr::channel_list::Token t = qvr::channel_list::parse_token(token);
    ChannelToken out;
    out.kind = t.kind == qvr::channel_list::Token::kNumber   ? ChannelToken::kNumber
               : t.kind == qvr::channel_list::Token::kPrefix ? ChannelToken::kPrefix
                                                             : ChannelToken::kNone;
    out.number = t.number;
    out.prefix = t.prefix;
    return out;
}

std::vector<ChannelKey> LocalDataServer::SelectChannels(std::string_view list) {
    std::vector<ChannelKey> keys;
    for (const auto& channel : qvr::channel_list::parse(list)) {
        const ChannelKey key{channel.prefix, channel.number};
        keys.push_back(key);
        const auto at = std::lower_bound(selection_.begin(), selection_.end(), key, key_less);
        if (at == selection_.end() || !key_equal(*at, key)) selection_.insert(at, key);
    }
    return keys;
}

namespace {

constexpr std::size_t kSampleBytes = 8;     // u32 flags, f32 value
constexpr std::size_t kRunEntryBytes = 20;  // i32 first record, start, stop
constexpr std::size_t kReadBlock = 1024;    // records read from a store at once

bool same_prefix(const std::array<char, 2>& a, const std::array<char, 2>& b) {
    for (int i = 0; i < 2; ++i)
        if (platform::ascii_upper(a[i]) != platform::ascii_upper(b[i])) return false;
    return true;
}

// Where each selected channel lies in a run's records: its block and index there.
struct Place {
    const BlockDescriptor* block = nullptr;
    std::uint32_t index = 0;
};
std::vector<Place> places_in(const LogHeader& header, std::span<const ChannelKey> keys) {
    std::vector<Place> out(keys.size());
    const std::size_t blocks = std::min<std::size_t>(header.blockCount, kMaxBlocks);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        for (std::size_t b = 0; b < blocks; ++b) {
            const BlockDescriptor& block = header.blocks[b];
            if (!same_prefix(block.prefix, keys[k].prefix)) continue;
            if (keys[k].number < block.firstChannel || keys[k].number > block.lastChannel) continue;
            out[k] = Place{&block, static_cast<std::uint32_t>(keys[k].number - block.firstChannel)};
            break;
        }
    }
    return out;
}

void put_u32(std::uint8_t* at, std::uint32_t v) {
    std::memcpy(at, &v, sizeof v);
}

void put_samples(std::span<const std::uint8_t> record, std::span<const Place> places, std::uint8_t* out) {
    for (const Place& place : places) {
        run_file::ChannelSample sample;
        std::uint32_t flags = kFlagNoValue;
        float value = 0;
        if (place.block != nullptr && run_file::read_sample(record, *place.block, place.index, sample)) {
            flags = static_cast<std::uint32_t>(sample.flags) & ~kFlagCleared;
            value = sample.value;
        }
        put_u32(out, flags);
        std::memcpy(out + 4, &value, sizeof value);
        out += kSampleBytes;
    }
}

// The fields of "7S" and "8S" once their handles are resolved.
struct RangeRequest {
    bool start_given = false;
    bool end_given = false;
    std::span<std::uint8_t> start;  // a TimeStamp, in and out
    std::span<std::uint8_t> end;
    std::string list;
    std::span<std::uint8_t> records;  // whole 16-byte heads only
    std::span<std::uint8_t> values;
    std::span<std::uint8_t> run_entries;
    std::size_t record_capacity = 0;
    std::size_t run_capacity = 0;
};

// 0, or the error code of the reply.
int resolve_request(std::span<const std::int64_t> f, bool ex, RangeRequest& r) {
    constexpr int kBad = platform::kErrorInvalidParameter;
    r.start_given = f[0] != 0;
    r.end_given = f[2] != 0;
    const auto start = named_buffer(f[1]);
    const auto end = named_buffer(f[3]);
    const auto list = named_buffer(f[4]);
    const auto records = named_buffer(f[6]);
    const auto values = named_buffer(f[7]);
    const auto runs = named_buffer(f[8]);
    if (!start || !end || !list || !records || !values || !runs) return kBad;
    if (start->bytes.size() < sizeof(TimeStamp) || end->bytes.size() < sizeof(TimeStamp)) return kBad;
    if (f[5] < 0 || f[5] > 0xFFFFFFFFLL || f[9] < 0 || f[9] > 0x7FFFFFFFLL) return kBad;
    r.start = start->bytes.first(sizeof(TimeStamp));
    r.end = end->bytes.first(sizeof(TimeStamp));
    const auto text = std::span<const std::uint8_t>(list->bytes);
    const auto nul = std::find(text.begin(), text.end(), std::uint8_t{0});
    r.list.assign(text.begin(), nul);
    r.records = records->bytes;
    r.values = values->bytes;
    if (ex) {
        if (f[10] < 0) return kBad;
        r.values = r.values.first(std::min<std::size_t>(r.values.size(), static_cast<std::size_t>(f[10])));
    }
    r.run_entries = runs->bytes;
    r.record_capacity =
        std::min<std::size_t>(static_cast<std::size_t>(f[5]), r.records.size() / kRecordHeadBytes);
    r.run_capacity =
        std::min<std::size_t>(static_cast<std::size_t>(f[9]), r.run_entries.size() / kRunEntryBytes);
    return 0;
}

TimeStamp get_stamp(std::span<const std::uint8_t> bytes) {
    TimeStamp t{};
    std::memcpy(&t, bytes.data(), sizeof t);
    return t;
}
void put_stamp(std::span<std::uint8_t> bytes, const TimeStamp& t) {
    std::memcpy(bytes.data(), &t, sizeof t);
}

}  // namespace

std::string LocalDataServer::ReadRecordRange(std::string_view fields) {
    return read_range(fields, false);
}
std::string LocalDataServer::ReadRecordRangeEx(std::string_view fields) {
    return read_range(fields, true);
}

std::string LocalDataServer::read_range(std::string_view fields, bool ex) {
    const auto f = numbers_of(fields, ex ? 11 : 10);
    // The channel list is itself a buffer, so the fields hold no text of their own.
    if (!f) return failure(platform::kErrorInvalidParameter);
    if (runs_.empty()) return no_runs(0);
    RangeRequest r;
    if (const int code = resolve_request(*f, ex, r); code != 0) return failure(code);
    const std::vector<ChannelKey> keys = SelectChannels(r.list);
    // Handle 0 names no buffer: allowed only where nothing is to be written.
    const bool records_asked = (*f)[5] > 0;
    if ((records_asked && (*f)[6] == 0) || (records_asked && !keys.empty() && (*f)[7] == 0) ||
        ((*f)[9] > 0 && (*f)[8] == 0))
        return failure(platform::kErrorInvalidParameter);

    const Summary all = summarise(runs_, 0, UINT64_MAX);
    const std::uint64_t from = r.start_given ? micros_of(get_stamp(r.start)) : all.first_start;
    const std::uint64_t to = r.end_given ? micros_of(get_stamp(r.end)) : all.last_end + 1'000'000u;
    put_stamp(r.start, stamp_of(from));
    put_stamp(r.end, stamp_of(to));

    std::size_t capacity = r.record_capacity;
    const std::size_t value_bytes = keys.size() * kSampleBytes;
    if (value_bytes > 0) capacity = std::min(capacity, r.values.size() / value_bytes);
    // A caller that asks for records but whose value buffer cannot take one would see an
    // empty range and stop: tell it instead.
    if (capacity == 0 && r.record_capacity > 0 && summarise(runs_, from, to).records > 0)
        return failure(platform::kErrorInsufficientBuffer);

    std::size_t written = 0;
    std::size_t entries = 0;
    std::vector<std::uint8_t> block;
    for (const RunEntry* run : in_time_order(runs_)) {
        if (written == capacity) break;
        auto [first, last] = records_within(*run, from, to);
        if (first >= last) continue;
        // A run whose entry does not fit waits for the next request, so that no record
        // reaches the caller without the run it belongs to.
        if (r.run_capacity > 0) {
            if (entries == r.run_capacity) break;
            std::uint8_t* e = r.run_entries.data() + entries * kRunEntryBytes;
            put_u32(e, static_cast<std::uint32_t>(written));
            std::memcpy(e + 4, &run->start, sizeof(TimeStamp));
            std::memcpy(e + 12, &run->stop, sizeof(TimeStamp));
            ++entries;
        }
        const std::size_t size = usable_record_size(*run);
        if (size == 0) return failure(platform::kErrorInvalidData);
        const std::vector<Place> places = places_in(run->header, keys);
        last = std::min(last, first + (capacity - written));
        for (std::size_t at = first; at < last; at += kReadBlock) {
            const std::size_t count = std::min(kReadBlock, last - at);
            if (!read_records(*run, at, count, block)) {
                const int error = platform::last_error();
                return failure(error != 0 ? error : platform::kErrorInvalidData);
            }
            for (std::size_t i = 0; i < count; ++i, ++written) {
                const std::span<const std::uint8_t> record(block.data() + i * size, size);
                std::memcpy(r.records.data() + written * kRecordHeadBytes, record.data(), kRecordHeadBytes);
                put_samples(record, places, r.values.data() + written * value_bytes);
            }
        }
    }
    char reply[64];
    std::snprintf(reply, sizeof reply, "1,%zu,%zu,%d", written, entries, logging_bit(*this));
    return reply;
}

}  // namespace log_stores::local
