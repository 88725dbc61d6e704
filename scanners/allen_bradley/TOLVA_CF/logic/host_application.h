#pragma once
// The configuration program's application values that the dialogs need, read through the
// symbol the program exports.
#include <cstdint>
#include <string>

namespace tolva::cf {

inline constexpr std::uint16_t kFallbackDefaultPort = 1;

struct HostApplicationValues {
    std::uint16_t default_port_number = kFallbackDefaultPort;
    std::string server_name;  // "" = this machine
};

// The program's values, or port 1 and this machine when it exports none.
HostApplicationValues host_application_values();

}  // namespace tolva::cf
