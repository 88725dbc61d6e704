#pragma once
// The system log as the event log: one entry per report, the source as its identifier,
// sent as a datagram to the local log socket (journald and syslog daemons both read it).
// Sending ourselves, rather than through openlog/syslog, keeps the process's own syslog
// identity untouched and tells the caller when no log daemon listens.
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Event types, with the event log's numbers.
inline constexpr int kEventError = 1;
inline constexpr int kEventWarning = 2;
inline constexpr int kEventInformation = 4;

// Sends "<pri>Mmm dd hh:mm:ss source[pid]: [event_id] message" (user facility; error,
// warning, information or notice severity by type). Returns 0, or -1 with errno when no
// log daemon takes the entry (ENOENT or ECONNREFUSED when none listens).
int event_log_report(std::string_view source, int type, uint32_t event_id, std::string_view message);

// True when `server` names this computer: empty, ".", "localhost" or this host's name
// (with or without two leading backslashes). The log of any other computer is out of reach.
bool event_log_is_local(std::string_view server);

}  // namespace platform
