#pragma once
// One record's values for its DATA row. Columns are addressed by position: DT 0, MS 1, TX 2,
// then LL 3 and LV 4 when the run records on significant change, then the channels.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "log_stores/db_schema/data_columns.h"
#include "log_stores/log_header.h"
#include "platform/ado/variant.h"

namespace log_stores::db_schema {

struct FieldValue {
    std::int32_t index = 0;
    ado::Variant value;
};

// Position of the first channel column.
std::int32_t first_channel_field(bool sig_change);

// DT (the record's seconds as a date value), MS, LL and LV, then every channel: NULL when its
// flag word has 0x20; a digital channel (0x80 clear) as 0 or 1 from flag bit 0x01, or with
// state texts as the configuration's high or low state text (empty when that is missing; 0 or 1
// when the channel is configured as analog, whose column is numeric); an analog channel as its
// float32 when the block keeps at least 8 bytes per channel.
// A value that is not finite (NaN, infinity) is written as NULL, as LV is: the servers refuse
// it, and NULL reads back as a bad value. Nothing when `record` is shorter than recordSize or a
// block lies outside it.
std::optional<std::vector<FieldValue>> data_row_values(const LogHeader& header,
                                                       std::span<const std::uint8_t> record,
                                                       bool digital_text, const ChannelLookup& lookup);

// A text for a text column, cut to the column's size in characters (UTF-8 in).
ado::Variant column_text(std::string_view utf8, std::size_t column_size);

}  // namespace log_stores::db_schema
