#pragma once
// I/O blocks: runs of consecutive elements of one data-table file of one station, each read
// or written with one command. Each kind's channels are grouped into its own block list.
//
// The channel records stay exactly as configured (they live in shared memory and other
// processes read them): the link of a channel to its block and its normalised address are
// kept in the list's private per-channel table.
#include <cstdint>
#include <set>
#include <span>
#include <vector>

#include "qvr/records/channel_record.h"
#include "tolva_sc/pccc_commands.h"
#include "tolva_sc/station_table.h"
#include "tolva_sc/value_convert.h"

namespace tolva {

namespace block_status {
inline constexpr int32_t kIdle = 0;
inline constexpr int32_t kWrite = 1;  // write the changed elements
inline constexpr int32_t kRead = 2;
inline constexpr int32_t kValid = 3;  // the last transfer succeeded
inline constexpr int32_t kFailed = 255;
}  // namespace block_status

struct IoBlock {
    uint8_t station = 0;
    uint8_t file_type = 0;  // 0 O ... 9 W
    uint16_t file_number = 0;
    int16_t element = 0;  // first element
    int16_t length = 0;   // bytes: elements x element size, at most 82
    // length bytes of element data, then the change bitmap: bit i (byte i / 8, mask
    // 1 << (i mod 8)) marks element i changed.
    std::vector<uint8_t> data;
    int32_t status = block_status::kIdle;
    // The data came from the controller at least once. Until then an output block that is
    // to be written is read first, so that only what differs from the controller is sent.
    bool data_valid = false;
    // Per word of the data: the bits that the block's enabled, linked channels own. Writes
    // change only these; the controller keeps every other bit.
    std::vector<uint16_t> owned;

    int element_count() const { return length / element_size(file_type); }
    int words_per_element() const { return element_size(file_type) / 2; }
    uint16_t owned_bits(int word) const { return owned[static_cast<size_t>(word)]; }
    std::span<uint8_t> bytes() { return std::span(data).first(static_cast<size_t>(length)); }
    std::span<const uint8_t> bytes() const { return std::span(data).first(static_cast<size_t>(length)); }
    std::span<uint8_t> element_bytes(int index);
    std::span<const uint8_t> element_bytes(int index) const;
    bool changed(int index) const;
    void mark_changed(int index);
    void clear_changes();
    // The request of elements [first, first + count) of the block.
    TransferRequest request(int first, int count);
    // The request of words [first, first + count) of one element, addressed to the element's
    // sub-element `first` (typed commands).
    TransferRequest sub_element_request(int index, int first, int count);
};

// A channel's private link: its block (-1 none), where its value sits, and whether its
// output value was refused in the current scan.
struct ChannelLink {
    int32_t block = -1;
    NormalAddress address;
    ElementAccess access;
    bool refused = false;

    bool linked() const { return block >= 0; }
};

struct BlockList {
    std::vector<IoBlock> blocks;
    std::vector<ChannelLink> links;  // one per channel, in channel order
    std::set<uint8_t> stations;      // every station an enabled channel names

    bool uses_station(uint8_t station) const { return stations.contains(station); }
};

// The configured address is one the scanner can serve at all: a file type O..W with a file
// number the type allows (O 0, I 1, S 2; others their own index or 10 and up) and a
// mnemonic the type allows.
bool valid_channel_address(const ChannelHwRecord& hw);

// Groups the enabled channels with valid addresses into blocks, greedily in channel order:
// the first block of the same station and file that can take the element without growing
// beyond 82 bytes takes it. Stations are entered (and probed) on first use. Every channel
// whose address cannot be served is left unlinked. Each block learns which bits of its words
// its linked channels own.
BlockList build_block_list(std::span<const qvr::ChannelRecord> records, bool digital, StationTable& stations);

// Bit 0 of the flags.
bool channel_enabled(const qvr::ChannelRecord& record);

}  // namespace tolva
