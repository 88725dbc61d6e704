#include "TOLVA_CF/logic/machine_ports.h"

#include "platform/registry_key.h"
#include "platform/serial_port_names.h"

namespace tolva::cf {

std::optional<std::vector<std::string>> configuration_server_ports(
    std::string_view server_name, const std::filesystem::path& tty_class_folder) {
    if (platform::registry_connect(server_name) != 0) return std::nullopt;
    return platform::serial_port_names(tty_class_folder);
}

}  // namespace tolva::cf
