#pragma once
// The controllers' own notation of a data-table address ("$T4:3.ACC"), the file types as
// the address dialog lists them and the sub-element mnemonics of timers, counters and
// controls, in the order of their indexes.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tolva::cf {

inline constexpr int kFileTypeCount = 10;  // O I S B T C R N F W
inline constexpr std::string_view kFileTypeLetters = "OISBTCRNFW";

// Texts of the file type list, index = file type.
std::string_view file_type_list_name(int file_type);

inline constexpr std::array<std::string_view, 5> kTimerMnemonics{"PRE", "ACC", "DN", "TT", "EN"};
inline constexpr std::array<std::string_view, 8> kCounterMnemonics{"PRE", "ACC", "UA", "UN",
                                                                   "OV",  "DN",  "CD", "CU"};
inline constexpr std::array<std::string_view, 10> kControlMnemonics{"LEN", "POS", "FD", "IN", "UL",
                                                                    "ER",  "EM",  "DN", "EU", "EN"};

// The mnemonics of a timer, counter or control type; empty for the others.
std::span<const std::string_view> mnemonics_of(int file_type);

// One address as the dialog previews it; `sub_element` is the bit or word number (-1
// none), `mnemonic` an index into mnemonics_of(file_type) (-1 none). Empty for a file type
// outside 0-9.
struct AddressParts {
    int file_type;
    bool digital;
    int file_number;
    int element;
    int sub_element;
    int mnemonic;
};
std::string format_address(const AddressParts& parts);

}  // namespace tolva::cf
