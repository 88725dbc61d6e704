#pragma once
// What the range requests ("5S".."8S") share inside the handler: their fields, the caller
// buffers they name, times as one number, and the runs in time order.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/local_server/local_data_server.h"
#include "qvr/requests/local_buffers.h"

namespace log_stores::local::ranges {

// A record's 16-byte head: marker, LL, a byte, its TimeStamp, LV.
inline constexpr std::size_t kRecordHeadBytes = 16;
inline constexpr std::size_t kRecordTimeOffset = 4;

// Microseconds since 1970 (the seconds taken as unsigned, as every breakdown does).
std::uint64_t micros_of(const TimeStamp& t);
TimeStamp stamp_of(std::uint64_t micros);

// Exactly `count` comma-separated whole numbers, or nullopt.
std::optional<std::vector<std::int64_t>> numbers_of(std::string_view fields, std::size_t count);

// "-1,<code>", the code also left as the last error.
std::string failure(int code);

// A caller buffer named by a handle: none for handle 0, nullopt for one that is not live.
struct Named {
    std::span<std::uint8_t> bytes;  // empty for handle 0
};
std::optional<Named> named_buffer(std::int64_t handle);

// Where the cached records of a run lie in time.
std::uint64_t run_end_micros(const RunEntry& run);  // stop, or the last cached record while logging
// Indexes of the cached records with from <= time < to.
std::pair<std::size_t, std::size_t> records_within(const RunEntry& run, std::uint64_t from, std::uint64_t to);

struct Summary {
    std::uint64_t first_start = 0;  // micros
    std::uint64_t last_end = 0;
    std::uint64_t records = 0;
    std::uint32_t runs = 0;
};
// The runs overlapping [from, to) and their records inside it.
Summary summarise(std::span<const RunEntry> runs, std::uint64_t from, std::uint64_t to);

// The runs of a collection other than the main one, each read whole from its own store (the
// handler keeps a run array for the main collection only).
std::vector<RunEntry> list_runs(CLogCollection& collection);
// Reads records [first, first + count) of a run's store into `out` (count x recordSize
// bytes). False when the store fails or hands out fewer.
bool read_records(const RunEntry& run, std::size_t first, std::size_t count, std::vector<std::uint8_t>& out);
// The record size of a run that can be read, else 0.
std::size_t usable_record_size(const RunEntry& run);

// No runs to answer a history request from: the debug line, and "" for no reply.
std::string no_runs(int index);

// Bit 0 of LS1's flags word: 1 while the current run is logging.
int logging_bit(const LocalDataServer& server);

// The runs by start time (ties in run order).
std::vector<const RunEntry*> in_time_order(std::span<const RunEntry> runs);

}  // namespace log_stores::local::ranges
