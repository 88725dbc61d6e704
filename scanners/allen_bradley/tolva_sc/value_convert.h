#pragma once
// Where a channel's value lives inside its element and how element bytes become a channel
// value and back. Words are signed 16-bit little-endian; a float element holds a 32-bit
// float whose two words are exchanged on processors without a directory.
#include <cstdint>
#include <optional>
#include <span>

#include "tolva_sc/station_directory.h"

namespace tolva {

// Bytes per element of each file type O I S B T C R N F W.
constexpr int element_size(int file_type) {
    switch (file_type) {
        case 4:  // T
        case 5:  // C
        case 6:  // R
            return 6;
        case 8:  // F
            return 4;
        default:
            return 2;
    }
}

inline constexpr int kMaxBlockBytes = 82;

constexpr int max_block_elements(int file_type) {
    return kMaxBlockBytes / element_size(file_type);
}

struct ElementAccess {
    enum class Kind : uint8_t { word, bit, real } kind = Kind::word;
    uint8_t word = 0;  // word of the element (word and bit kinds)
    uint8_t bit = 0;   // bit of that word (bit kind)
};

// How a channel of this address reaches its value, or none when the address points outside
// its element: a bit number outside 0-15, a word other than the element's own one, a
// mnemonic outside the type's table. For analog O, I, S and W addresses a sub-element of -1
// (none: the address has no word number) is the element's word.
std::optional<ElementAccess> element_access(int file_type, bool digital, const NormalAddress& address,
                                            int mnemonic);

// The value of `element` (element_size bytes): a word as a signed integer, a bit as 0 or 1.
float read_element(std::span<const uint8_t> element, const ElementAccess& access, bool swap_float_words);

enum class Stored : uint8_t { same, changed, refused };
// Stores `value` into `element`: a word takes it cut to an integer and held to
// -32768..32767, a bit is set for a value whose integer part is not 0, a float is stored as
// it is. Not-a-number and infinite values are refused for words and bits (the element stays
// as it was). A float that compares equal to the stored one (0 and -0) or has its very bits
// leaves the element as it is.
Stored write_element(std::span<uint8_t> element, const ElementAccess& access, float value,
                     bool swap_float_words);

// Word helpers on little-endian bytes.
int16_t load_word(std::span<const uint8_t> bytes, size_t word);
void store_word(std::span<uint8_t> bytes, size_t word, int16_t value);

}  // namespace tolva
