#include "log_stores/db_schema/data_columns.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "log_stores/db_schema/sql_text.h"
#include "log_stores/log_location.h"
#include "platform/ado/text_codec.h"

namespace log_stores::db_schema {
namespace {

constexpr std::size_t kSourceOffset = 0;  // descriptor byte 10, the first carried byte
constexpr std::size_t kSourceLength = 24;
constexpr std::size_t kLagOffset = 25;  // descriptor byte 35
constexpr std::size_t kStateTextLength = 32;

std::string_view bytes_up_to_nul(const char* data, std::size_t capacity) {
    return {data, static_cast<std::size_t>(std::find(data, data + capacity, '\0') - data)};
}

bool enabled(const qvr::ChannelRecord& config) {
    return config.head.Flags.test(qvr::flag_bit_number(0));
}
bool digital(const qvr::ChannelRecord& config) {
    return qvr::is_digital(config.head.Type);
}

ado::Variant text_of(std::string_view cp1252) {
    return ado::Variant::text(ado::utf16_from_cp1252(cp1252));
}

ado::Variant finite_or_null(float value) {
    return std::isfinite(value) ? ado::Variant::r4(value) : ado::Variant::null();
}

std::string prefix_number(const BlockDescriptor& block, std::uint16_t channel) {
    return block_prefix(block) + std::to_string(channel);
}

}  // namespace

bool digital_text_selected(std::optional<std::string_view> registry_value) {
    if (!registry_value || registry_value->size() != 2) return false;
    return std::toupper(static_cast<unsigned char>((*registry_value)[0])) == 'O' &&
           std::toupper(static_cast<unsigned char>((*registry_value)[1])) == 'N';
}

ChannelLookup lookup_in_blocks(const LogHeader& header,
                               std::span<const std::span<const qvr::ChannelRecord>> blocks) {
    std::vector<std::span<const qvr::ChannelRecord>> table(blocks.begin(), blocks.end());
    std::vector<std::uint16_t> first;
    for (const BlockDescriptor& b : header.blocks) first.push_back(b.firstChannel);
    return [table = std::move(table), first = std::move(first)](
               std::size_t block, std::uint16_t channel) -> const qvr::ChannelRecord* {
        if (block >= table.size() || block >= first.size() || channel < first[block]) return nullptr;
        const std::size_t at = channel - first[block];
        return at < table[block].size() ? &table[block][at] : nullptr;
    };
}

ChannelLookup copied_lookup(const LogHeader& header, const ChannelLookup& lookup) {
    using Key = std::pair<std::size_t, std::uint16_t>;
    auto copies = std::make_shared<std::map<Key, qvr::ChannelRecord>>();
    const std::size_t blocks = std::min<std::size_t>(header.blockCount, kMaxBlocks);
    for (std::size_t b = 0; lookup && b < blocks; ++b)
        for (std::uint32_t ch = header.blocks[b].firstChannel; ch <= header.blocks[b].lastChannel; ++ch) {
            const auto channel = static_cast<std::uint16_t>(ch);
            if (const qvr::ChannelRecord* config = lookup(b, channel)) copies->emplace(Key{b, channel}, *config);
        }
    return [copies](std::size_t block, std::uint16_t channel) -> const qvr::ChannelRecord* {
        const auto it = copies->find({block, channel});
        return it == copies->end() ? nullptr : &it->second;
    };
}

std::optional<std::size_t> module_index(std::uint16_t channel, std::size_t count) {
    if (channel < 1 || channel > count) return std::nullopt;
    return std::size_t{channel} - 1;
}

std::uint16_t block_bytes_per_channel(const BlockDescriptor& block) {
    return block.blockKind;
}

std::string block_source(const BlockDescriptor& block) {
    return ado::utf8_from_cp1252(
        bytes_up_to_nul(reinterpret_cast<const char*>(block.carried.data()) + kSourceOffset, kSourceLength));
}

bool block_lag(const BlockDescriptor& block) {
    return block.carried[kLagOffset] != 0;
}

std::string block_prefix(const BlockDescriptor& block) {
    return ado::utf8_from_cp1252(bytes_up_to_nul(block.prefix.data(), block.prefix.size()));
}

bool reserved_column(std::string_view name) {
    std::string upper(name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // Only white space is no name either.
    if (std::all_of(name.begin(), name.end(),
                    [](char c) { return std::isspace(static_cast<unsigned char>(c)); }))
        return true;
    return IsReservedColumnName(upper) != 0;
}

std::string column_name(const BlockDescriptor& block, std::uint16_t channel, const qvr::ChannelRecord& config,
                        bool tag_columns) {
    if (!tag_columns) return prefix_number(block, channel);
    std::string tag = ado::utf8_from_cp1252(qvr::join_text(config, qvr::ChannelText::Tag));
    SanitiseTableName(tag);
    return reserved_column(tag) ? prefix_number(block, channel) : tag;
}

ColumnListResult build_column_list(const ado::Dialect& dialect, const LogHeader& header,
                                   const ChannelLookup& lookup, bool digital_text) {
    ColumnListResult result;
    ColumnList list;
    std::set<std::string> placed;
    const std::size_t blocks = std::min<std::size_t>(header.blockCount, kMaxBlocks);
    for (std::size_t b = 0; b < blocks; ++b) {
        const BlockDescriptor& block = header.blocks[b];
        for (std::uint32_t ch = block.firstChannel; ch <= block.lastChannel; ++ch) {
            const auto channel = static_cast<std::uint16_t>(ch);
            const qvr::ChannelRecord* config = lookup ? lookup(b, channel) : nullptr;
            if (!config) {
                result.failure = ColumnFailure::channels_missing;
                result.context = "CAN'T FIND CHANNELS";
                return result;
            }
            ChannelColumn column{b, channel, column_name(block, channel, *config, header.tagColumns != 0),
                                 digital(*config)};
            if (!placed.insert(folded_column_name(column.name)).second) {
                result.failure = ColumnFailure::duplicate;
                result.context = "DUPLICATE COLUMN " + column.name;
                return result;
            }
            const std::string type = !column.digital ? "REAL"
                                     : digital_text  ? dialect.code_page_char(static_cast<int>(kStateTextLength))
                                                     : "INTEGER";
            list.definition += ", " + quoted_name(dialect, column.name) + " " + type + " NULL";
            list.columns.push_back(std::move(column));
        }
    }
    result.list = std::move(list);
    return result;
}

std::vector<ado::Variant> channels_row(std::size_t block_index, const BlockDescriptor& block,
                                       std::uint16_t channel, const qvr::ChannelRecord& config,
                                       std::string_view column) {
    const bool on = enabled(config);
    const bool is_digital = digital(config);
    std::vector<ado::Variant> row;
    row.reserve(14);
    row.push_back(ado::Variant::i4(static_cast<std::int32_t>(block_index)));
    row.push_back(ado::Variant::text(ado::utf16_from_utf8(block_prefix(block))));
    row.push_back(ado::Variant::i4(channel));
    row.push_back(ado::Variant::text(ado::utf16_from_utf8(block_source(block))));
    row.push_back(text_of(qvr::join_text(config, qvr::ChannelText::Tag)));
    row.push_back(text_of(qvr::join_text(config, qvr::ChannelText::Description)));
    row.push_back(on ? ado::Variant::i4(static_cast<std::uint8_t>(config.head.Type)) : ado::Variant::null());
    const bool analog_on = on && !is_digital;
    const bool digital_on = on && is_digital;
    row.push_back(analog_on ? text_of(qvr::join_text(config, qvr::ChannelText::Units))
                            : ado::Variant::null());
    row.push_back(analog_on ? finite_or_null(config.analog.MinimumUnits) : ado::Variant::null());
    row.push_back(analog_on ? finite_or_null(config.analog.MaximumUnits) : ado::Variant::null());
    row.push_back(digital_on ? text_of(bytes_up_to_nul(config.digital.LowStateText, kStateTextLength))
                             : ado::Variant::null());
    row.push_back(digital_on ? text_of(bytes_up_to_nul(config.digital.HighStateText, kStateTextLength))
                             : ado::Variant::null());
    row.push_back(ado::Variant::text(ado::utf16_from_utf8(column)));
    row.push_back(ado::Variant::i4(block_lag(block) ? 1 : 0));
    return row;
}

}  // namespace log_stores::db_schema
