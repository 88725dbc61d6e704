#pragma once
// Test hooks of the kind-3 transport: the pause between closing a link's handler and
// destroying it (1,000 ms) and the number of handlers alive.
#include <chrono>
#include <cstddef>

namespace log_stores::local_testing {

void set_close_wait(std::chrono::milliseconds wait);
void reset_close_wait();
std::size_t live_servers();

}  // namespace log_stores::local_testing
