#pragma once
// For tests only: time-out scenarios run in milliseconds.
#include <chrono>

namespace platform {

// Shortens the longest wait of one serial read or write for the whole process (clamped to
// 1..1000 ms); serial_call_bound() reports it.
void set_serial_call_bound(std::chrono::milliseconds bound);

}  // namespace platform
