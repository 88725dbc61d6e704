#include "TOLVA_CF/logic/machine_ports.h"

#include "platform/registry_key.h"

namespace tolva::cf {

namespace {

std::string stable_name(const platform::SerialDevice& d) {
    return std::filesystem::path(d.by_id).filename().string();
}

}  // namespace

std::optional<std::vector<std::string>> configuration_server_ports(
    std::string_view server_name, const std::filesystem::path& tty_class_folder) {
    if (platform::registry_connect(server_name) != 0) return std::nullopt;
    return platform::serial_port_names(tty_class_folder);
}

PortOffer port_offer(const platform::SerialDevice& d) {
    PortOffer offer;
    offer.name = d.port_name;
    if (d.port_name.empty()) {
        offer.map_path = d.map_path();
        offer.label = d.by_id.empty() ? d.device : stable_name(d) + " (" + d.device + ")";
    } else if (d.by_id.empty()) {
        offer.label = d.port_name;
    } else {
        offer.label = d.port_name + " - " + stable_name(d);
    }
    return offer;
}

std::optional<std::vector<PortOffer>> configuration_server_port_offers(std::string_view server_name) {
    if (platform::registry_connect(server_name) != 0) return std::nullopt;
    std::vector<PortOffer> offers;
    for (const auto& d : platform::serial_devices()) offers.push_back(port_offer(d));
    return offers;
}

PortMapper machine_port_mapper() {
    return {[](const std::vector<std::string>& shown) {
                return platform::next_free_port_name(platform::serial_devices(), shown);
            },
            [](std::string_view name, std::string_view path) {
                return platform::add_serial_port_mapping(name, path);
            }};
}

}  // namespace tolva::cf
