#pragma once
// The host commands of the qvr_host tool: tables, devices, loggers, receiving notices and
// running programs, over the RuntimeHost fixture. Each returns the tool's exit code.
#include <string>
#include <vector>

namespace sim_host {

extern const char* const kHostCommandsUsage;
// nullopt-like: -1 when `args` (argv after the program name) is not one of these commands.
int run_host_command(const std::vector<std::string>& args);

}  // namespace sim_host
