#pragma once
// The debugger output channel: what the system wrote for a debugger to see goes to syslog at
// debug level (or to a test's capture, platform/testing/debug_output_testing.h).
#include <string_view>

namespace platform {

// Writes one piece of text to the debugger channel, its secrets masked.
void debug_output(std::string_view text);

}  // namespace platform
