#pragma once
// Channel layouts for the scan benchmark, and what an ideal packing of them would put on the
// wire: every read or write of n data bytes costs n + 32 characters (frame, header, command
// fields and both ACKs), and one command covers at most 82 bytes of one file.
#include <cstdint>
#include <vector>

#include "qvr/records/channel_record.h"
#include "tolva_ex/records.h"

namespace scan_bench {

struct FileSpec {
    uint8_t station = 1;
    uint16_t file = 7;
    int8_t type = tolva::file_type::kInteger;
    uint16_t elements = 0;
};

struct Layout {
    std::vector<FileSpec> files;  // what the controllers must hold
    std::vector<qvr::ChannelRecord> channels;
};

inline constexpr int kCommandOverhead = 32;
inline constexpr int kMaxBlockBytes = 82;

// `count` analog channels on consecutive words of N files of 250 elements from `first_file`
// on (station 1).
Layout contiguous_words(qvr::ChannelKind kind, int count, uint16_t first_file);
// `count` analog inputs over two stations, integer and float files, with random gaps
// between the elements and the channels in random order.
Layout scattered_inputs(int count);
// Digital inputs: whole B words bit by bit, single bits of N words far apart and timer
// done bits, interleaved.
Layout mixed_digital_inputs(int count);
// `count` digital channels, every bit of consecutive words of B files from `first_file` on.
Layout packed_bits(qvr::ChannelKind kind, int count, uint16_t first_file);

// `count` digital channels, four in each consecutive word of B files from `first_file` on
// (bits 1, 5, 9 and 13): every word holds bits no channel owns.
Layout partly_owned_bits(qvr::ChannelKind kind, int count, uint16_t first_file);

// Characters of the cheapest cover of the layout's elements by commands of at most 82
// bytes each.
int64_t ideal_characters(const Layout& layout);

}  // namespace scan_bench
