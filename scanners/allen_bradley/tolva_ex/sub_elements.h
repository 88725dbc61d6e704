#pragma once
// Sub-elements of timer, counter and control elements: the mnemonics in the order of their
// index (ChannelHwRecord MnemonicNumber) and where each lives in the element. An entry with
// kWordFlag set is word n of the element; any other entry is bit n of word 0.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "tolva_ex/records.h"

namespace tolva {

struct SubElement {
    std::string_view mnemonic;
    std::uint16_t entry;
};

inline constexpr std::uint16_t kWordFlag = 0x8000;

inline constexpr std::array<SubElement, 5> kTimerSubElements{{
    {"PRE", 0x8001},
    {"ACC", 0x8002},
    {"DN", 13},
    {"TT", 14},
    {"EN", 15},
}};

inline constexpr std::array<SubElement, kCounterMnemonicCount> kCounterSubElements{{
    {"PRE", 0x8001},
    {"ACC", 0x8002},
    {"UA", 10},
    {"UN", 11},
    {"OV", 12},
    {"DN", 13},
    {"CD", 14},
    {"CU", 15},
}};

inline constexpr std::array<SubElement, kControlMnemonicCount> kControlSubElements{{
    {"LEN", 0x8001},
    {"POS", 0x8002},
    {"FD", 8},
    {"IN", 9},
    {"UL", 10},
    {"ER", 11},
    {"EM", 12},
    {"DN", 13},
    {"EU", 14},
    {"EN", 15},
}};

// The table of a timer, counter or control file type; empty for the others.
constexpr std::span<const SubElement> sub_elements_of(int file_type) {
    switch (file_type) {
        case file_type::kTimer:
            return kTimerSubElements;
        case file_type::kCounter:
            return kCounterSubElements;
        case file_type::kControl:
            return kControlSubElements;
        default:
            return {};
    }
}

// The entry of `mnemonic` in the type's table, or none when it does not index the table.
constexpr std::optional<std::uint16_t> sub_element_entry(int file_type, int mnemonic) {
    const auto table = sub_elements_of(file_type);
    if (mnemonic < 0 || static_cast<std::size_t>(mnemonic) >= table.size()) return std::nullopt;
    return table[static_cast<std::size_t>(mnemonic)].entry;
}

constexpr bool is_word_entry(std::uint16_t entry) {
    return (entry & kWordFlag) != 0;
}
constexpr int entry_index(std::uint16_t entry) {
    return entry & 0x7FFF;
}

}  // namespace tolva
