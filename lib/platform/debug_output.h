#pragma once
// The debugger output channel: what the system wrote for a debugger to see goes to syslog at
// debug level, or to a capture function that tests (or a later trace) install.
#include <functional>
#include <string_view>

namespace platform {

// Writes one piece of text to the debugger channel.
void debug_output(std::string_view text);

// Replaces the channel's destination; an empty function restores syslog. Returns the
// previous capture function.
std::function<void(std::string_view)> set_debug_output_capture(std::function<void(std::string_view)> capture);

}  // namespace platform
