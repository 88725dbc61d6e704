#pragma once
// The qvr_controller tool's own text forms: station set-up options and the commands it
// reads while it runs ("set 1 N7:0 42", "get 1 N7:0", "mode 1 silent",
// "program 1 T4:0.ACC add 1", "program 1 S2:1/5 toggle", ...).
#include <optional>
#include <string>
#include <string_view>

#include "controller/pccc_network.h"

namespace sim_controller {

std::optional<StationMode> parse_station_mode(std::string_view name);

// A number in decimal or with 0x in hex, within 0..max.
std::optional<unsigned> parse_tool_number(std::string_view text, unsigned max);

// Runs one command line on the network; the answer to print (starting "= " on success,
// "! " on failure).
std::string run_tool_command(ControllerNetwork& network, std::string_view line);

// "N7:100": a file of type N, number 7, 100 elements.
bool add_file_from_argument(ControllerNetwork& network, uint8_t station, std::string_view argument);

}  // namespace sim_controller
