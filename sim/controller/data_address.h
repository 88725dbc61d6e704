#pragma once
// Data-table addresses in the controllers' notation, for the stand-in's API and tool:
// "N7:3" (a word element), "N7:3.1" (word 1 of the element), "B3:0/5" (a bit),
// "T4:0.ACC", "C5:1/DN" (timer, counter and control words and bits by name), "F8:2" (a float),
// "O0:2", "I1:0/3". File letters O I S B T C R N F W; the number may be left out for O, I
// and S ("O:2").
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim_controller {

struct DataAddress {
    uint8_t file_type = 0;  // 0 O ... 9 W
    uint16_t file = 0;
    uint16_t element = 0;
    uint8_t word = 0;            // word of the element
    std::optional<uint8_t> bit;  // a bit of that word
    bool real = false;           // the whole element as a float (F files)
};

std::optional<DataAddress> parse_data_address(std::string_view text);
std::string format_data_address(const DataAddress& address);

// Element size in bytes of a file type: T, C, R 6; F 4; others 2.
int file_element_size(uint8_t file_type);
// 'O' ... 'W' of a file type, '?' outside 0-9.
char file_letter(uint8_t file_type);

}  // namespace sim_controller
