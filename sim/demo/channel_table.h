#pragma once
// What the demo shows: one row per channel of the device's modules as the host sees them
// (tag, value, units, status, description), a legend, and one line per alarm message from
// "xalarms" as the alarm program would show it: the channel's tag and its configured text.
#include <string>
#include <vector>

#include "host/runtime_host.h"

namespace sim_demo {

struct ChannelRow {
    std::string kind;  // "AI", "DI", "AO", "DO", "PS" (port statistics)
    std::string tag;
    std::string value;
    std::string units;
    std::string status;  // "ok", or the words of what stands: failed, alarm, warning, event
    std::string description;
};

// The rows of every module of `spec` (statistics last), read from the host's shared modules.
std::vector<ChannelRow> read_rows(sim_host::RuntimeHost& host, const sim_host::DeviceSpec& spec);

// The table as plain lines: a heading, then one line per row.
std::vector<std::string> format_rows(const std::vector<ChannelRow>& rows);

// What the kinds, the statistics rows and the status words mean.
std::vector<std::string> table_legend();

// e.g. "alarm LEVEL high priority 7 value 90: TANK LEVEL HIGH" (the text the channel
// configures for that alarm; a digital channel's alarm text).
std::string describe_alarm(sim_host::RuntimeHost& host, const qvr::AlarmMessage& message);

}  // namespace sim_demo
