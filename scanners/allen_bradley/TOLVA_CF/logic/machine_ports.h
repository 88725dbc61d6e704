#pragma once
// The serial ports that the communication dialog offers, and the map entry that gives a
// serial device of this machine a port name.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port_names.h"

namespace tolva::cf {

// The port names of the configuration server's machine: this machine's port map and serial
// devices (below `tty_class_folder`) when the server is this machine, none when it is
// another one, whose ports cannot be read from here.
std::optional<std::vector<std::string>> configuration_server_ports(
    std::string_view server_name, const std::filesystem::path& tty_class_folder = "/sys/class/tty");

// One entry of the port list.
struct PortOffer {
    std::string name;      // the port name the settings take ("COM3"); empty: not named yet
    std::string label;     // what the list shows
    std::string map_path;  // a device not named yet: what its new map entry names
};

// A named port is shown as its name, with the device's stable name after it where it has
// one; a device not named yet as its stable name and node, or its node alone.
PortOffer port_offer(const platform::SerialDevice& device);

// The offers of the configuration server's machine: every serial device of this machine
// when the server is this machine, none when it is another one.
std::optional<std::vector<PortOffer>> configuration_server_port_offers(std::string_view server_name);

// How a device not named yet gets its name: the name a new entry takes, above the names
// the list shows (empty when none is free), and the writing of the entry (0, or -1 with
// errno; EACCES when this user may not write the machine's settings).
struct PortMapper {
    std::function<std::string(const std::vector<std::string>& shown)> next_free_name;
    std::function<int(std::string_view name, std::string_view device_path)> add;
};

// The machine's own port map.
PortMapper machine_port_mapper();

}  // namespace tolva::cf
