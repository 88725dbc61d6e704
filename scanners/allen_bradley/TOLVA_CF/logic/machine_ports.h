#pragma once
// The serial ports that the communication dialog offers.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolva::cf {

// The port names of the configuration server's machine: this machine's port map and serial
// devices (below `tty_class_folder`) when the server is this machine, none when it is
// another one, whose ports cannot be read from here.
std::optional<std::vector<std::string>> configuration_server_ports(
    std::string_view server_name, const std::filesystem::path& tty_class_folder = "/sys/class/tty");

}  // namespace tolva::cf
