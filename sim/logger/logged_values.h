#pragma once
// The values the stand-in logger records: every sample follows from its block, channel and
// record index, so a reader in any process can tell a record written whole from a torn,
// misplaced or invented one. Analog channels ramp, with a bad value and a NaN now and then;
// digital channels change state.
#include <cstdint>
#include <span>

#include "log_stores/log_header.h"
#include "log_stores/run_file/run_file_format.h"
#include "qvr/time/timestamp.h"

namespace sim_logger {

// Which blocks hold digital channels: bit k for block k.
using DigitalBlocks = std::uint64_t;

// The sample of channel `channel` of block `block` in record `index`, as written.
log_stores::run_file::ChannelSample sample_of(std::size_t block, std::uint32_t channel, std::int64_t index,
                                              bool digital);

// The time of record `index` of a run that began at `start`, one record every `period_ms`.
TimeStamp record_time(std::int32_t start, std::int64_t index, std::uint32_t period_ms);

// Lays out record `index` in `out` (header.recordSize bytes).
void fill_record(const log_stores::LogHeader& header, DigitalBlocks digital, std::int64_t index,
                 std::uint32_t period_ms, std::span<std::uint8_t> out);

// True when `record` is record `index` as a store hands it out (a NaN comes back bad).
bool is_record(const log_stores::LogHeader& header, DigitalBlocks digital, std::int64_t index,
               std::uint32_t period_ms, std::span<const std::uint8_t> record);

}  // namespace sim_logger
