#include "tolva_sc/comm_module_address.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "qvr/settings/reg.h"

namespace tolva {

std::optional<uint8_t> read_comm_module_address(std::string_view config_name) {
    const std::string name = std::string(config_name) + "_CommModuleAddr";
    char text[64] = {};
    uint32_t type = 0;
    uint32_t size = sizeof text - 1;
    if (reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyQueryValue,
                               name.c_str(), &type, text, &size) != 0) {
        return std::nullopt;
    }
    if (type != kRegSz) return std::nullopt;
    text[std::min<size_t>(size, sizeof text - 1)] = '\0';
    int value = 0;
    if (std::sscanf(text, "%d", &value) != 1 || value < 0 || value > 255) return std::nullopt;
    return static_cast<uint8_t>(value);
}

}  // namespace tolva
