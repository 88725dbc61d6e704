#pragma once
// Test hooks of the logger status channels.
#include <cstdint>
#include <optional>

namespace log_stores::status_testing {

// Back to the state of a new process: not initialised, the next publish is the process's
// first, counters and times cleared, the real tick counter.
void reset();
// Makes status_TickCount return `tick` (nullopt: the real counter again).
void set_tick(std::optional<uint32_t> tick);

}  // namespace log_stores::status_testing
