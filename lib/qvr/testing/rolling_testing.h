#pragma once
// Test hooks of the rolling data files.
#include <cstdint>
#include <functional>
#include <span>

namespace qvr::rolling_testing {

// Every write of the writer thread goes to `hook` instead (empty: the real write). Set it
// while no writer runs.
void set_write_hook(std::function<int(int fd, std::span<const std::uint8_t> bytes)> hook);
// The write the writer makes without a hook.
int real_write(int fd, std::span<const std::uint8_t> bytes);
// Stops a running writer, closes the current file and forgets the folder, as a new process.
void reset();

}  // namespace qvr::rolling_testing
