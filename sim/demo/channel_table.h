#pragma once
// What the demo shows: one row per channel of the device's modules as the host sees them
// (tag, value, units, status), and one line per alarm message from "xalarms".
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
};

// The rows of every module of `spec` (statistics last), read from the host's shared modules.
std::vector<ChannelRow> read_rows(sim_host::RuntimeHost& host, const sim_host::DeviceSpec& spec);

// The table as plain lines: a heading, then one line per row.
std::vector<std::string> format_rows(const std::vector<ChannelRow>& rows);

// e.g. "alarm    LEVEL     (A1:1)  high  priority 7  value 90  TANK LEVEL HIGH".
std::string describe_alarm(sim_host::RuntimeHost& host, const qvr::AlarmMessage& message);

}  // namespace sim_demo
