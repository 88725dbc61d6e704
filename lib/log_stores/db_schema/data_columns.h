#pragma once
// The channel columns of a run's DATA table and the rows of its CHANNELS table, built once
// per run from the run header and the channels' configurations. Texts are UTF-8; the texts
// of the 216-byte configurations (Windows-1252) are converted here.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/log_header.h"
#include "platform/ado/dialect.h"
#include "platform/ado/variant.h"
#include "qvr/records/channel_record.h"

namespace log_stores::db_schema {

// "DatabaseDigitalText": only "On" (letter case ignored) selects state texts; any other
// value counts as absent.
bool digital_text_selected(std::optional<std::string_view> registry_value);

// The configuration of a block's channel, or null when it cannot be had.
using ChannelLookup = std::function<const qvr::ChannelRecord*(std::size_t block, std::uint16_t channel)>;
// Over the caller's table: one span per block, the block's records in channel order. The
// records are borrowed: they must outlive the lookup.
ChannelLookup lookup_in_blocks(const LogHeader& header,
                               std::span<const std::span<const qvr::ChannelRecord>> blocks);
// Copies of what `lookup` gives for every channel of the header's blocks, for a store that
// needs them after the caller's records may be gone.
ChannelLookup copied_lookup(const LogHeader& header, const ChannelLookup& lookup);
// Where a device's configuration module keeps channel number n: index n - 1 when that lies
// inside its `count` records, else nothing.
std::optional<std::size_t> module_index(std::uint16_t channel, std::size_t count);

// The three descriptor fields the database stores interpret: the 16-bit word after
// lastChannel (bytes per channel in a record), the source text (bytes 10..33) and the lag flag
// (byte 35).
std::uint16_t block_bytes_per_channel(const BlockDescriptor& block);
std::string block_source(const BlockDescriptor& block);
bool block_lag(const BlockDescriptor& block);
// The device prefix, "%1.2s".
std::string block_prefix(const BlockDescriptor& block);

struct ChannelColumn {
    std::size_t block = 0;
    std::uint16_t channel = 0;
    std::string name;
    bool digital = false;
};

struct ColumnList {
    std::vector<ChannelColumn> columns;
    // ", <name> <type> NULL" per channel, the names quoted: the channel part of the DATA table.
    std::string definition;
};

enum class ColumnFailure { none, channels_missing, duplicate };

struct ColumnListResult {
    std::optional<ColumnList> list;
    ColumnFailure failure = ColumnFailure::none;
    // "CAN'T FIND CHANNELS" or "DUPLICATE COLUMN <name>"; the long text is empty for both.
    std::string context;
};

// The column of one channel: "%1.2s%d" of prefix and number, or with tag columns the tag
// through SanitiseTableName, unless that is a reserved name (letter case ignored).
std::string column_name(const BlockDescriptor& block, std::uint16_t channel, const qvr::ChannelRecord& config,
                        bool tag_columns);
// Reserved names as the databases compare them: IsReservedColumnName ignoring letter case.
bool reserved_column(std::string_view name);

// Blocks in header order, channels first to last. A name equal (letter case ignored) to one
// already in the list refuses the run.
ColumnListResult build_column_list(const ado::Dialect& dialect, const LogHeader& header,
                                   const ChannelLookup& lookup, bool digital_text);

// The 14 values of a channel's CHANNELS row, in column order.
std::vector<ado::Variant> channels_row(std::size_t block_index, const BlockDescriptor& block,
                                       std::uint16_t channel, const qvr::ChannelRecord& config,
                                       std::string_view column);

}  // namespace log_stores::db_schema
