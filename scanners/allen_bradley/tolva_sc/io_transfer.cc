#include "tolva_sc/io_transfer.h"

#include <algorithm>
#include <optional>

namespace tolva {

namespace {

// Whether a float's two words are exchanged; only floats depend on it. The word order
// follows the processor, which only its diagnostic status tells: none when it never
// answered, as a guess would publish, or write into the controller, a float with its words
// exchanged.
std::optional<bool> float_words_swapped(const ChannelLink& link, const StationTable& stations, uint8_t station) {
    if (link.access.kind != ElementAccess::Kind::real) return false;
    const StationRecord* record = stations.find(station);
    if (record == nullptr || !record->type_known) return std::nullopt;
    return !pccc::is_directory_based(record->processor_type);
}

float channel_value(size_t i, bool digital, std::span<const uint32_t> status, std::span<const float> values) {
    if (digital) return (status[i] & kChannelState) != 0 ? 1.0f : 0.0f;
    return values[i];
}

}  // namespace

void read_block(IoBlock& block, PcccCommands& commands, StationTable& stations) {
    TransferRequest request = block.request(0, block.element_count());
    const bool ok = commands.read_block(request, stations.processor_type(block.station)) == 1;
    stations.update_status_text(request);
    block.status = ok ? block_status::kValid : block_status::kFailed;
    if (ok) block.data_valid = true;
}

void read_all_blocks(BlockList& list, PcccCommands& commands, StationTable& stations) {
    for (auto& block : list.blocks) read_block(block, commands, stations);
}

void read_unread_blocks(BlockList& list, PcccCommands& commands, StationTable& stations) {
    for (auto& block : list.blocks) {
        if (block.data_valid) continue;
        read_block(block, commands, stations);
        if (block.status == block_status::kValid) block.status = block_status::kIdle;
    }
}

void reset_output_blocks(BlockList& list) {
    for (auto& block : list.blocks) {
        block.status = block_status::kIdle;
        block.clear_changes();
    }
}

void write_changed_runs(IoBlock& block, PcccCommands& commands, StationTable& stations) {
    const uint8_t type = stations.processor_type(block.station);
    const int count = block.element_count();
    bool all_written = true;
    TransferRequest outcome = block.request(0, 0);
    outcome.result = 0;
    for (int i = 0; i < count;) {
        if (!block.changed(i)) {
            ++i;
            continue;
        }
        int end = i;
        while (end < count && block.changed(end)) ++end;
        TransferRequest run = block.request(i, end - i);
        if (commands.write_block(run, type) != 1) {
            all_written = false;
            outcome = run;
        } else if (all_written) {
            outcome = run;
        }
        i = end;
    }
    stations.update_status_text(outcome);
    block.status = all_written ? block_status::kValid : block_status::kFailed;
}

void transfer_output_blocks(BlockList& list, PcccCommands& commands, StationTable& stations) {
    for (auto& block : list.blocks) {
        if (block.status == block_status::kWrite) {
            write_changed_runs(block, commands, stations);
        } else if (block.status == block_status::kRead) {
            // Even right after a first read: the channel values went into the data since.
            read_block(block, commands, stations);
        }
    }
}

void blocks_to_channels(const BlockList& list, std::span<const qvr::ChannelRecord> records, bool digital,
                        std::span<uint32_t> status, std::span<float> values, const StationTable& stations) {
    const size_t n = std::min({records.size(), list.links.size(), status.size()});
    for (size_t i = 0; i < n; ++i) {
        if (!channel_enabled(records[i])) continue;
        const ChannelLink& link = list.links[i];
        if (!link.linked() || link.refused) {
            status[i] |= kChannelFailed;
            continue;
        }
        const IoBlock& block = list.blocks[static_cast<size_t>(link.block)];
        const std::optional<bool> swapped = float_words_swapped(link, stations, block.station);
        if (block.status != block_status::kValid || !swapped) {
            status[i] |= kChannelFailed;
            continue;
        }
        const float value =
            read_element(block.element_bytes(link.address.element - block.element), link.access, *swapped);
        status[i] &= ~kChannelFailed;
        if (digital) {
            status[i] = value != 0.0f ? (status[i] | kChannelState) : (status[i] & ~kChannelState);
        } else if (i < values.size()) {
            values[i] = value;
        }
    }
}

void channels_to_blocks(BlockList& list, std::span<const qvr::ChannelRecord> records, bool digital,
                        std::span<uint32_t> status, std::span<const float> values,
                        const StationTable& stations, const BlockActions& actions) {
    const size_t n = std::min({records.size(), list.links.size(), status.size()});
    for (size_t i = 0; i < n; ++i) {
        ChannelLink& link = list.links[i];
        link.refused = false;
        if (!channel_enabled(records[i])) continue;
        if (!digital && i >= values.size()) continue;
        const float value = channel_value(i, digital, status, values);
        if (!link.linked()) {
            status[i] |= kChannelFailed;
            continue;
        }
        IoBlock& block = list.blocks[static_cast<size_t>(link.block)];
        if (block.status == block_status::kFailed) continue;
        const int index = link.address.element - block.element;
        const std::optional<bool> swapped = float_words_swapped(link, stations, block.station);
        const Stored stored =
            swapped ? write_element(block.element_bytes(index), link.access, value, *swapped) : Stored::refused;
        if (stored == Stored::refused) {
            link.refused = true;
            status[i] |= kChannelFailed;
            continue;
        }
        if (stored == Stored::changed || (status[i] & kChannelFailed) != 0) {
            block.mark_changed(index);
            block.status = actions.changed;
        } else if (block.status == block_status::kIdle) {
            block.status = actions.unchanged;
        }
    }
}

}  // namespace tolva
