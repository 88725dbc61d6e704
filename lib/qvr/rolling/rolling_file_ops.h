#pragma once
// The writer thread's file writes go through here, so tests can count and fail them.
#include <cstdint>
#include <functional>
#include <span>

namespace qvr::rolling {

// Writes every byte at the descriptor's position: 0 / -1 with the reason set.
int writer_write(int fd, std::span<const std::uint8_t> bytes);

}  // namespace qvr::rolling
