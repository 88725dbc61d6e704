#pragma once
// The sample device (the demo's) as the files sim_config works on, and as the configuration
// folder a configuration server keeps, so that every command has something to open.
#include <filesystem>
#include <string>
#include <vector>

namespace sim_config {

// Writes into `folder` (made when missing): device.rec, config.rec, channel.rec, the tables
// ai.tab, di.tab, ao.tab, do.tab, and CURRENT_CONFIG/TOLVA_1 with the device's "config",
// "saveconfig" and channel files. One line per file written; empty with `error` set when a
// file cannot be written.
std::vector<std::string> write_sample_device(const std::filesystem::path& folder, std::string& error);

}  // namespace sim_config
