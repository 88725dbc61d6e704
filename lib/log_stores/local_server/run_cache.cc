// The record caches of the runs: per record its time and the samples of the dashboard
// channels, read in blocks, each refresh only what the run gained.
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "log_stores/local_server/refresh_parts.h"
#include "log_stores/run_file/run_file_format.h"
#include "platform/ascii_text.h"
#include "platform/debug_output.h"
#include "platform/last_error.h"

namespace log_stores::local {
namespace {

namespace rf = run_file;

// A block of a very wide run stays within this many bytes.
constexpr std::size_t kMaxBlockBytes = 32u << 20;

bool same_prefix(const std::array<char, 2>& a, const std::array<char, 2>& b) {
    return platform::ascii_upper(a[0]) == platform::ascii_upper(b[0]) &&
           platform::ascii_upper(a[1]) == platform::ascii_upper(b[1]);
}

std::vector<RunScan::SamplePlace> places_of(const LogHeader& header, const std::vector<ChannelKey>& keys) {
    std::vector<RunScan::SamplePlace> places(keys.size());
    const std::size_t blocks = std::min<std::size_t>(header.blockCount, kMaxBlocks);
    for (std::size_t k = 0; k < keys.size(); ++k) {
        for (std::size_t b = 0; b < blocks; ++b) {
            const BlockDescriptor& block = header.blocks[b];
            if (!same_prefix(block.prefix, keys[k].prefix) || block.channel_count() == 0) continue;
            if (keys[k].number < block.firstChannel || keys[k].number > block.lastChannel) continue;
            places[k] = {static_cast<int>(b), static_cast<std::uint32_t>(keys[k].number - block.firstChannel)};
            break;
        }
    }
    return places;
}

void clear_cache(RunEntry& run) {
    run.records = 0;
    run.times.clear();
    run.dashboard_samples.clear();
}

bool read_header(LocalDataServer& server, RunEntry& run, RunScan& scan) {
    if (scan.header_read) return true;
    LogHeader header{};
    const bool read = run.store->ReadHeader(header) == 0;
    if (!read || header.recordSize < static_cast<std::int32_t>(rf::kRecordHeadSize)) {
        // A read that failed may work next time. A header that fails its checks stays failed
        // in a finished run; a run being logged may be caught while its file is being made.
        if (!read && platform::last_error() != platform::kErrorInvalidData) return false;
        if (!scan.corrupt_reported)
            platform::debug_output("Corrupt file GraphFiltered " + RunLocation(server, run) + "\r\n");
        scan.corrupt_reported = true;
        if (run.stop.seconds != 0) scan.damaged = true;
        return false;
    }
    run.header = header;
    scan.header_read = true;
    scan.dashboard_places = places_of(header, server.dashboard_.value_or(std::vector<ChannelKey>{}));
    return true;
}

void cache_record(RunEntry& run, const RunScan& scan, std::span<const std::uint8_t> record) {
    run.times.push_back(rf::decode_record_head(record).time);
    for (const RunScan::SamplePlace& place : scan.dashboard_places) {
        rf::ChannelSample sample;
        if (place.block < 0 ||
            !rf::read_sample(record, run.header.blocks[static_cast<std::size_t>(place.block)], place.index, sample)) {
            run.dashboard_samples.push_back(PackSample(kFlagNoValue, 0.0f));
            continue;
        }
        run.dashboard_samples.push_back(PackSample(static_cast<std::uint32_t>(sample.flags), sample.value));
    }
    ++run.records;
}

}  // namespace

std::uint64_t PackSample(std::uint32_t flags, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return std::uint64_t{flags & ~kFlagCleared} | (std::uint64_t{bits} << 32);
}

std::uint32_t SampleFlags(std::uint64_t sample) { return static_cast<std::uint32_t>(sample); }

float SampleValue(std::uint64_t sample) {
    const auto bits = static_cast<std::uint32_t>(sample >> 32);
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void CacheNewRecords(LocalDataServer& server, RunEntry& run, RunScan& scan) {
    if (!run.store || scan.damaged || !read_header(server, run, scan)) return;
    // The file kind knows its count from the file's size; a database run is read until a
    // block comes back short (counting its rows would cost as much as the run is long).
    std::int64_t available = std::numeric_limits<std::int32_t>::max();
    if (!server.database_) {
        const int count = run.store->GetNoLogs(run.header);
        if (count < 0) {
            if (!scan.size_reported)
                platform::debug_output("Can't get size of GraphFiltered " + RunLocation(server, run) + "\r\n");
            scan.size_reported = true;
            return;
        }
        scan.size_reported = false;
        if (count < run.records) {
            // The file was cut or replaced: its records are not the ones cached.
            clear_cache(run);
            scan.header_read = false;
            if (!read_header(server, run, scan)) return;
        }
        available = count;
        // Sized once for a run read whole; a growing run's vectors grow geometrically, as
        // an exact reserve on every refresh would copy the whole cache each time.
        if (run.times.empty()) {
            run.times.reserve(static_cast<std::size_t>(count));
            run.dashboard_samples.reserve(static_cast<std::size_t>(count) * scan.dashboard_places.size());
        }
    }
    const auto record_size = static_cast<std::size_t>(run.header.recordSize);
    const auto per_block = static_cast<std::int32_t>(
        std::clamp<std::size_t>(kMaxBlockBytes / record_size, 1, static_cast<std::size_t>(kCacheBlockRecords)));
    std::vector<std::uint8_t> block;
    while (run.records < available) {
        const auto wanted = static_cast<std::int32_t>(std::min<std::int64_t>(per_block, available - run.records));
        if (block.size() < static_cast<std::size_t>(wanted) * record_size)
            block.resize(static_cast<std::size_t>(wanted) * record_size);
        const int got = run.store->ReadLogs(run.records, run.header, block.data(), wanted, 0, nullptr, 0);
        const int usable = std::clamp(got, 0, wanted);
        for (int i = 0; i < usable; ++i) {
            const std::span<const std::uint8_t> record(block.data() + static_cast<std::size_t>(i) * record_size,
                                                       record_size);
            if (rf::decode_record_head(record).marker != rf::kRecordMarker) {
                // A run still logging may be caught mid-write: read it again next time.
                if (run.stop.seconds != 0) {
                    platform::debug_output("Corrupt file GraphFiltered " + RunLocation(server, run) + "\r\n");
                    scan.damaged = true;
                }
                return;
            }
            cache_record(run, scan, record);
        }
        if (usable < wanted) return;
    }
}

bool TakeOverCache(RunEntry& from, RunScan& from_scan, RunEntry& to, RunScan& to_scan) {
    if (!from_scan.header_read || from_scan.damaged || !to.store) return false;
    LogHeader header{};
    if (to.store->ReadHeader(header) != 0) return false;
    const LogHeader& old = from.header;
    if (header.recordSize != old.recordSize || header.dataStart != old.dataStart ||
        header.blockCount != old.blockCount || header.start.seconds != old.start.seconds)
        return false;
    for (std::size_t b = 0; b < std::min<std::size_t>(header.blockCount, kMaxBlocks); ++b)
        if (!(header.blocks[b] == old.blocks[b])) return false;
    to.header = header;
    to.records = from.records;
    to.times = std::move(from.times);
    to.dashboard_samples = std::move(from.dashboard_samples);
    to_scan.header_read = true;
    to_scan.dashboard_places = std::move(from_scan.dashboard_places);
    clear_cache(from);
    return true;
}

}  // namespace log_stores::local
