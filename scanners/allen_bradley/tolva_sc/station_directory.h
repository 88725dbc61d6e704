#pragma once
// A controller's I/O directory and the mapping of channel addresses onto the elements that
// are transferred. One 6-byte entry per I/O slot: byte 1 the slot's first word in the input
// file, byte 2 the size in bytes of its output image, byte 3 its first word in the output
// file; bytes 0, 4 and 5 are not used.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tolva_ex/records.h"

namespace tolva {

inline constexpr size_t kDirectoryEntrySize = 6;
inline constexpr size_t kDirectoryHeaderSize = 4;

struct DirectoryEntry {
    uint8_t first_input_word = 0;
    uint8_t output_bytes = 0;
    uint8_t first_output_word = 0;
};

// The entry count of a directory header: the sum of its first three bytes, modulo 256.
uint8_t directory_entry_count(std::span<const uint8_t> header);

class IoDirectory {
  public:
    IoDirectory() = default;
    // The entries of `image` (count x 6 bytes); a partial entry at the end is dropped.
    explicit IoDirectory(std::span<const uint8_t> image);

    size_t entry_count() const { return image_.size() / kDirectoryEntrySize; }
    std::optional<DirectoryEntry> entry(int slot) const;
    std::span<const uint8_t> image() const { return image_; }
    bool operator==(const IoDirectory&) const = default;

  private:
    std::vector<uint8_t> image_;
};

// What the mapping needs to know of a station.
struct StationAddressing {
    bool probed = false;           // the station answered its last probe
    bool directory_based = false;  // its processor keeps an I/O directory
    const IoDirectory* directory = nullptr;
};

// A channel address as it is transferred: the element of the file and the bit or word
// number inside it (sub-element), or the mnemonic's entry for timers, counters, controls.
struct NormalAddress {
    int16_t element = 0;
    int16_t sub_element = 0;
};

// The element and sub-element of `hw` for the transfer, or none when the address cannot be
// served: a file type outside O..W, an element outside 0-32767, an O or I slot outside the
// station's directory, a word below the slot's first word or beyond its output image, or an
// O or I address of a station that has not answered its probe. Whether the sub-element
// fits the element is the block's check (element_access).
std::optional<NormalAddress> normalise_address(const ChannelHwRecord& hw, bool digital,
                                               const StationAddressing& station);

}  // namespace tolva
