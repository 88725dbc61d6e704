// Any directory image and any channel address: the mapping stays inside the directory and
// yields only elements a transfer can address.
//
// Input: flags (bit 0 probed, bit 1 directory-based, bit 2 digital), then 16-byte addresses
// while at least 16 bytes remain after the directory image length byte; the rest is the image.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "tolva_sc/station_directory.h"
#include "tolva_sc/value_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t flags = data[0];
    const size_t image_size = std::min<size_t>(data[1], size - 2);
    const std::span<const uint8_t> image(data + 2, image_size);
    const tolva::IoDirectory directory(image);
    if (directory.entry_count() != image_size / 6) std::abort();
    const uint8_t count = tolva::directory_entry_count(image);
    (void)count;
    const tolva::StationAddressing station{(flags & 1) != 0, (flags & 2) != 0, &directory};
    const bool digital = (flags & 4) != 0;
    for (size_t i = 2 + image_size; i + sizeof(tolva::ChannelHwRecord) <= size;
         i += sizeof(tolva::ChannelHwRecord)) {
        tolva::ChannelHwRecord hw;
        std::memcpy(&hw, data + i, sizeof hw);
        const auto a = tolva::normalise_address(hw, digital, station);
        if (!a) continue;
        if (a->element < 0) std::abort();
        const bool io = hw.FileType == tolva::file_type::kOutput || hw.FileType == tolva::file_type::kInput;
        if (io && (!station.probed || (station.directory_based && !directory.entry(hw.SlotNumber))))
            std::abort();
        if (const auto access = tolva::element_access(hw.FileType, digital, *a, hw.MnemonicNumber)) {
            if (access->bit > 15 || 2 * access->word + 2 > tolva::element_size(hw.FileType)) std::abort();
        }
    }
    return 0;
}
