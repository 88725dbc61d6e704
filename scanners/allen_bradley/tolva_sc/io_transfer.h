#pragma once
// Moving block data: reading and writing blocks with the controllers, and converting block
// data into channel values (status words and values) and back.
#include <cstdint>
#include <span>

#include "qvr/records/channel_record.h"
#include "tolva_sc/io_block.h"
#include "tolva_sc/pccc_commands.h"
#include "tolva_sc/station_table.h"

namespace tolva {

inline constexpr uint32_t kChannelFailed = 0x20;
inline constexpr uint32_t kChannelState = 0x1;

// What an output block is given when one of its elements changed, or when none did.
struct BlockActions {
    int32_t changed = block_status::kWrite;
    int32_t unchanged = block_status::kValid;
};

// Reads `block`, records the outcome in the station's text; status 3 or 255.
void read_block(IoBlock& block, PcccCommands& commands, StationTable& stations);

// Input kinds: every block is read.
void read_all_blocks(BlockList& list, PcccCommands& commands, StationTable& stations);

// Output kinds whose changed blocks are to be written, before the values go in: a block whose
// data never came from the controller is read first (status stays 0 on success, 255 on
// failure).
void read_unread_blocks(BlockList& list, PcccCommands& commands, StationTable& stations);

// Status 0 and no change marks on every block.
void reset_output_blocks(BlockList& list);

// Writes the changed elements of `block`, changing on the controller only the bits that the
// block's channels own. Stations with typed commands: runs of fully owned words are written
// as they are, a word with bits no channel owns by a masked write of the owned bits (runs of
// one mask in one command), and timer, counter and control elements only in their owned
// words, addressed to the sub-element. Other stations (and the unprotected file 9): a run of
// changed elements that holds bits no channel owns is read just before it is written, and
// the owned bits are merged into what was read; a controller change in between is lost.
// The station's text takes the last failing command's result or is cleared. Status 3 when
// every command succeeded, else 255.
void write_changed_runs(IoBlock& block, PcccCommands& commands, StationTable& stations);

// Status 1 blocks: write their changed runs; status 2: read; others: nothing.
void transfer_output_blocks(BlockList& list, PcccCommands& commands, StationTable& stations);

// Block data into channel values, for each enabled channel: a channel without a block whose
// status is 3 gets the error bit 0x20; else the bit is cleared and the value stored (analog:
// the value; digital: bit 0 of the status word). Channels whose output was refused in this
// scan keep 0x20 and their value, as do float channels of a station whose processor type has
// never been told (the word order is not known).
void blocks_to_channels(const BlockList& list, std::span<const qvr::ChannelRecord> records, bool digital,
                        std::span<uint32_t> status, std::span<float> values, const StationTable& stations);

// Channel values into block data, for each enabled channel: a channel without a block, or
// whose value cannot be stored (not a number, infinite; a float of a station whose processor
// type has never been told), gets 0x20. A changed element (or the element of a channel that had
// failed) is marked and gives the block `actions.changed`; otherwise a block still at
// status 0 gets `actions.unchanged`. Blocks that failed their first read in this scan are
// left alone.
void channels_to_blocks(BlockList& list, std::span<const qvr::ChannelRecord> records, bool digital,
                        std::span<uint32_t> status, std::span<const float> values,
                        const StationTable& stations, const BlockActions& actions);

}  // namespace tolva
