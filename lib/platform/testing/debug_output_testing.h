#pragma once
// For tests only: what the system writes for a debugger, seen by the test.
#include <functional>
#include <string_view>

namespace platform {

// Replaces the debugger channel's destination; an empty function restores syslog. Returns
// the previous capture function.
std::function<void(std::string_view)> set_debug_output_capture(std::function<void(std::string_view)> capture);

}  // namespace platform
