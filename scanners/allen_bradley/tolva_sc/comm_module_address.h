#pragma once
// The interface module's own station address, an optional per-device setting: the string
// value "<ConfigName>_CommModuleAddr" under the product key of the machine hive, a decimal
// number. Replies whose source is this address come from the module, not from a station.
#include <cstdint>
#include <optional>
#include <string_view>

namespace tolva {

// None when the value is missing, is not a number or lies outside 0-255.
std::optional<uint8_t> read_comm_module_address(std::string_view config_name);

}  // namespace tolva
