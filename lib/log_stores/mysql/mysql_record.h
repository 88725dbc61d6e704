#pragma once
// A record of the run file layout built from one DATA row of a MySQL run, as a query handed it
// back: the caller's extra columns first, then DT, MS, TX (with "*"), LL and LV with sigChange,
// and with "*" one column per channel.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "log_stores/log_header.h"
#include "log_stores/mysql/mysql_session.h"
#include "log_stores/run_file/run_file_format.h"

namespace log_stores::mysql {

// A digital channel's state texts as CHANNELS holds them (Windows-1252, trailing blanks gone).
struct StateTexts {
    std::string low;
    std::string high;
};
// The state texts of channel number `channel` of block `block`; null when it has none.
using StateLookup = std::function<const StateTexts*(std::size_t block, std::uint16_t channel)>;

// The digital state a stored text names: the high or the low state text, trailing blanks
// removed and letter case ignored. Nothing for any other text, and for a text that names both
// states (equal texts cannot tell them apart).
std::optional<run_file::ChannelSample> digital_state(std::string_view text, const StateTexts& states);

// The (DT seconds, MS) a row's key columns hold; nothing when DT is no date of the stamps'
// range.
struct RowKey {
    std::int64_t seconds = 0;
    double ms = 0;
    friend bool operator==(const RowKey&, const RowKey&) = default;
};
std::optional<RowKey> row_key(std::span<const Value> row, std::size_t extra);

// MS as stored (a float of milliseconds) to milliseconds and microseconds, rounded to the
// nearest microsecond: the float keeps 1.005 as 1.00499...
void split_ms(double ms, std::int16_t& milliseconds, std::int16_t& microseconds);

// Fills `record` (cleared first) from `row`; `star` when the row holds every column of DATA,
// else channels are bad. Channels: NULL is bad (0x20); an integer is bit 0 as a digital state
// for a block of kind 4 and an analog value otherwise; a float an analog value; a text the
// state it names (through `states`), else bad. Extra columns go to `extras` as pairs of int32
// flags and float32: NULL bad, a text 0x80 with 0, a number 0x80 with its value. Null on
// success, else the failure's context.
const char* record_from_row(const LogHeader& header, std::span<const Value> row, std::size_t extra, bool star,
                            std::span<std::uint8_t> record, std::span<std::uint8_t> extras,
                            const StateLookup& states);

// Orders the rows of each (DT, MS) group by their columns from `extra` on, so that equal times
// come back in the same order on every query; `descending` reverses it.
void order_groups(std::span<Row> rows, std::size_t extra, bool descending);

}  // namespace log_stores::mysql
