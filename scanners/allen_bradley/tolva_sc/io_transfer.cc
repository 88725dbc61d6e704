#include "tolva_sc/io_transfer.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "tolva_sc/value_convert.h"

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

namespace {

// Writes the changed elements of one block so that only the bits its channels own change on
// the controller. The station text takes the last failing command's result, or is cleared
// by the last one when all succeed.
class OwnedBitsWriter {
  public:
    OwnedBitsWriter(IoBlock& block, PcccCommands& commands, uint8_t processor_type)
        : block_(block),
          commands_(commands),
          type_(processor_type),
          outcome_(block.request(0, 0)),
          count_(block.element_count()),
          words_(block.words_per_element()) {}

    void write() {
        if (pccc::variant_for(block_.file_number, type_) == pccc::Variant::typed) {
            write_with_masks();
        } else {
            write_read_modified();
        }
    }
    bool all_written() const { return all_written_; }
    const TransferRequest& outcome() const { return outcome_; }

  private:
    bool fully_owned(int index) const {
        for (int w = 0; w < words_; ++w) {
            if (block_.owned_bits(index * words_ + w) != 0xFFFF) return false;
        }
        return true;
    }
    // The end of the run of changed elements from `index` on that all pass `same`.
    template <typename Same>
    int run_end(int index, Same same) const {
        int end = index + 1;
        while (end < count_ && block_.changed(end) && same(end)) ++end;
        return end;
    }
    void note(const TransferRequest& request, bool ok) {
        if (!ok) {
            all_written_ = false;
            outcome_ = request;
        } else if (all_written_) {
            outcome_ = request;
        }
    }
    void plain(TransferRequest request) { note(request, commands_.write_block(request, type_) == 1); }
    // The data carry only the owned bits: what the scanner last saw of the others is not
    // its to send.
    void masked(TransferRequest request, uint16_t mask) {
        std::vector<uint8_t> owned(request.data.begin(), request.data.end());
        for (size_t w = 0; w < owned.size() / 2; ++w) {
            store_word(owned, w, static_cast<int16_t>(static_cast<uint16_t>(load_word(owned, w)) & mask));
        }
        request.data = owned;
        const bool ok = commands_.write_masked(request, mask) == 1;
        request.data = {};
        note(request, ok);
    }

    // Processors with typed commands: fully owned words in plain writes, every other word by
    // a masked write of its owned bits; timer, counter and control elements word by word,
    // addressed to the sub-element.
    void write_with_masks() {
        for (int i = 0; i < count_;) {
            if (!block_.changed(i)) {
                ++i;
                continue;
            }
            if (words_ <= 2 && fully_owned(i)) {
                const int end = run_end(i, [&](int e) { return fully_owned(e); });
                plain(block_.request(i, end - i));
                i = end;
            } else if (words_ == 1) {
                const uint16_t mask = block_.owned_bits(i);
                const int end = run_end(i, [&](int e) { return block_.owned_bits(e) == mask; });
                masked(block_.request(i, end - i), mask);
                i = end;
            } else {
                write_element_words(i);
                ++i;
            }
        }
    }
    void write_element_words(int index) {
        for (int w = 0; w < words_;) {
            const uint16_t mask = block_.owned_bits(index * words_ + w);
            if (mask == 0) {
                ++w;
            } else if (mask == 0xFFFF) {
                int end = w + 1;
                while (end < words_ && block_.owned_bits(index * words_ + end) == 0xFFFF) ++end;
                plain(block_.sub_element_request(index, w, end - w));
                w = end;
            } else {
                masked(block_.sub_element_request(index, w, 1), mask);
                ++w;
            }
        }
    }

    // Processors with word-range commands only, and the unprotected file: a run that holds
    // bits no channel owns is read just before it is written, and the owned bits are merged
    // into what the controller holds.
    void write_read_modified() {
        for (int i = 0; i < count_;) {
            if (!block_.changed(i)) {
                ++i;
                continue;
            }
            const int end = run_end(i, [](int) { return true; });
            bool whole = true;
            for (int e = i; e < end && whole; ++e) whole = fully_owned(e);
            if (whole || merge_current(i, end - i)) plain(block_.request(i, end - i));
            i = end;
        }
    }
    bool merge_current(int first, int elements) {
        TransferRequest current = block_.request(first, elements);
        std::vector<uint8_t> read(static_cast<size_t>(current.byte_count));
        current.data = read;
        const bool ok = commands_.read_block(current, type_) == 1;
        current.data = {};
        if (!ok) {
            note(current, false);
            return false;
        }
        const std::span<uint8_t> mine = block_.request(first, elements).data;
        for (size_t w = 0; w < read.size() / 2; ++w) {
            const uint16_t owned = block_.owned_bits(first * words_ + static_cast<int>(w));
            const auto theirs = static_cast<uint16_t>(load_word(read, w));
            const auto ours = static_cast<uint16_t>(load_word(mine, w));
            store_word(mine, w, static_cast<int16_t>((theirs & ~owned) | (ours & owned)));
        }
        return true;
    }

    IoBlock& block_;
    PcccCommands& commands_;
    const uint8_t type_;
    TransferRequest outcome_;
    const int count_;
    const int words_;
    bool all_written_ = true;
};

}  // namespace

void write_changed_runs(IoBlock& block, PcccCommands& commands, StationTable& stations) {
    OwnedBitsWriter writer(block, commands, stations.processor_type(block.station));
    writer.write();
    stations.update_status_text(writer.outcome());
    block.status = writer.all_written() ? block_status::kValid : block_status::kFailed;
}

void transfer_output_blocks(BlockList& list, PcccCommands& commands, StationTable& stations) {
    for (auto& block : list.blocks) {
        if (block.status == block_status::kWrite) {
            write_changed_runs(block, commands, stations);
        } else if (block.status == block_status::kRead) {
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
