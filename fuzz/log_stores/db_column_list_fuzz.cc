// The column list of a run over any header and channel configurations: up to 64 blocks, any
// tags (duplicates, reserved names, texts without a NUL), any record. A list that is built
// names every channel once, ignoring letter case, never by a reserved name.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "log_stores/db_schema/data_columns.h"
#include "log_stores/db_schema/data_row.h"
#include "log_stores/db_schema/schema_tables.h"
#include "log_stores/db_schema/sql_text.h"
#include "platform/ado/dialect.h"

using namespace log_stores::db_schema;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    std::size_t at = 0;
    const auto next = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };
    log_stores::LogHeader h{};
    h.blockCount = static_cast<std::uint16_t>(next() % 70);  // more than 64 is clipped
    h.tagColumns = next() & 1;
    h.sigChange = next() & 1;
    const auto engine = static_cast<ado::Engine>(next() % 5);
    std::int32_t offset = 16;
    std::size_t channels = 0;
    for (std::size_t b = 0; b < log_stores::kMaxBlocks && b < h.blockCount; ++b) {
        auto& block = h.blocks[b];
        block.prefix = {static_cast<char>(next()), static_cast<char>(next())};
        block.firstChannel = next();
        // Up to 8 channels; now and then a last channel below the first (no channels).
        const int span = next() % 9;
        block.lastChannel = static_cast<std::uint16_t>(span == 8 ? std::max(block.firstChannel - 1, 0)
                                                                 : block.firstChannel + span);
        block.blockKind = next() % 12;
        for (auto& c : block.carried) c = next();
        block.recordOffset = static_cast<std::uint16_t>(offset);
        offset += static_cast<std::int32_t>(8 * block.channel_count());
        channels += block.channel_count();
    }
    h.recordSize = offset + (next() % 4 == 0 ? -1 : 0);
    // The configurations: 216 bytes each, taken round from what is left of the input.
    std::vector<qvr::ChannelRecord> configs(channels);
    for (auto& c : configs)
        for (auto& byte : c.bytes) byte = next();
    std::vector<std::span<const qvr::ChannelRecord>> table;
    std::size_t used = 0;
    for (std::size_t b = 0; b < std::min<std::size_t>(h.blockCount, log_stores::kMaxBlocks); ++b) {
        const std::size_t n = h.blocks[b].channel_count();
        table.emplace_back(configs.data() + used, n);
        used += n;
    }
    if (!table.empty() && next() % 8 == 0) table.pop_back();  // a block without its configurations
    const auto lookup = lookup_in_blocks(h, table);
    const ado::Dialect dialect(engine);
    const bool digital_text = next() & 1;
    const auto result = build_column_list(dialect, h, lookup, digital_text);
    if (result.list) {
        std::set<std::string> names;
        for (const auto& column : result.list->columns) {
            if (column.name.empty() || reserved_column(column.name)) __builtin_trap();
            if (!names.insert(folded_column_name(column.name)).second) __builtin_trap();
            if (result.list->definition.find(quoted_name(dialect, column.name)) == std::string::npos) __builtin_trap();
            const auto* config = lookup(column.block, column.channel);
            if (!config) __builtin_trap();
            if (channels_row(column.block, h.blocks[column.block], column.channel, *config, column.name).size() != 14)
                __builtin_trap();
        }
        (void)data_create_forms(dialect, Backend::ado, "P_", h.sigChange != 0, result.list->definition);
    } else if (result.context != "CAN'T FIND CHANNELS" && result.context.rfind("DUPLICATE COLUMN ", 0) != 0) {
        __builtin_trap();
    }
    std::vector<std::uint8_t> record(static_cast<std::size_t>(std::max(offset, 16)));
    for (auto& byte : record) byte = next();
    const auto values = data_row_values(h, record, digital_text, lookup);
    if (values) {
        const std::size_t expected = (h.sigChange ? 4 : 2) + channels;
        if (values->size() != expected) __builtin_trap();
        for (const auto& f : *values)
            if (f.value.type() == ado::VarType::r4 && !std::isfinite(f.value.real_value())) __builtin_trap();
    }
    return 0;
}
