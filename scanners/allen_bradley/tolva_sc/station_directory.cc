#include "tolva_sc/station_directory.h"

#include <limits>

namespace tolva {

namespace {

constexpr int kMaxElement = std::numeric_limits<int16_t>::max();

std::optional<NormalAddress> made(int element, int sub_element) {
    if (element < 0 || element > kMaxElement) return std::nullopt;
    return NormalAddress{static_cast<int16_t>(element), static_cast<int16_t>(sub_element)};
}

// Bit addresses spill over into the next words: element + bit / 16 and bit mod 16, with
// C++'s truncating division, so bit -1 stays -1 (and is refused later as a bit number).
std::optional<NormalAddress> as_binary(const ChannelHwRecord& hw) {
    const int bit = hw.SubElementNumber;
    return made(hw.ElementNumber + bit / 16, bit % 16);
}

std::optional<NormalAddress> output_or_input(const ChannelHwRecord& hw, bool digital,
                                             const StationAddressing& station) {
    // Without a successful probe nobody knows whether the station keeps a directory, and a
    // guess would move the channel onto another word.
    if (!station.probed) return std::nullopt;
    const bool output = hw.FileType == file_type::kOutput;
    std::optional<DirectoryEntry> slot;
    if (station.directory_based) {
        if (!station.directory) return std::nullopt;
        slot = station.directory->entry(hw.SlotNumber);
        if (!slot) return std::nullopt;
    }
    // A station without a directory has its I/O image at the start of the file: the slot
    // number does not take part in the address.
    int word = 0;
    int sub = hw.SubElementNumber;
    if (hw.ElementNumber != 0) {
        word = hw.ElementNumber;
        if (slot) word -= output ? slot->first_output_word : slot->first_input_word;
        if (word < 0) return std::nullopt;
    } else {
        const int n = hw.SubElementNumber;
        if (n < 0) return std::nullopt;
        word = digital ? n / 16 : n;
        sub = digital ? n % 16 : 0;
    }
    if (!slot) return made(word, sub);
    if (!output) return made(word + slot->first_input_word, sub);
    if (2 * word >= slot->output_bytes) return std::nullopt;
    return made(word + slot->first_output_word, sub);
}

}  // namespace

uint8_t directory_entry_count(std::span<const uint8_t> header) {
    unsigned sum = 0;
    for (size_t i = 0; i < 3 && i < header.size(); ++i) sum += header[i];
    return static_cast<uint8_t>(sum & 0xFF);
}

IoDirectory::IoDirectory(std::span<const uint8_t> image) {
    const size_t whole = image.size() / kDirectoryEntrySize * kDirectoryEntrySize;
    image_.assign(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(whole));
}

std::optional<DirectoryEntry> IoDirectory::entry(int slot) const {
    if (slot < 0 || static_cast<size_t>(slot) >= entry_count()) return std::nullopt;
    const uint8_t* e = image_.data() + static_cast<size_t>(slot) * kDirectoryEntrySize;
    return DirectoryEntry{e[1], e[2], e[3]};
}

std::optional<NormalAddress> normalise_address(const ChannelHwRecord& hw, bool digital,
                                               const StationAddressing& station) {
    switch (hw.FileType) {
        case file_type::kStatus:
        case file_type::kWord:
            if (digital) return as_binary(hw);
            return made(hw.ElementNumber, hw.SubElementNumber);
        case file_type::kBinary:
            return as_binary(hw);
        case file_type::kTimer:
        case file_type::kCounter:
        case file_type::kControl:
        case file_type::kInteger:
        case file_type::kFloat:
            return made(hw.ElementNumber, hw.SubElementNumber);
        case file_type::kOutput:
        case file_type::kInput:
            return output_or_input(hw, digital, station);
        default:
            return std::nullopt;
    }
}

}  // namespace tolva
