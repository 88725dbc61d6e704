#pragma once
// The scanner's command state: what the process slot's callback records for the main loop.
// The callback runs on the slot's dispatch thread, so every field is atomic; it only sets
// flags, counts scan requests or clears the run flag. The wake-up that follows any code
// (also an unknown one) lets the loop look at its save timer again.
#include <atomic>
#include <cstdint>

namespace tolva {

struct CommandState {
    std::atomic<bool> running{true};
    std::atomic<int32_t> scan_requests{0};
    std::atomic<bool> reconfigure{false};
    std::atomic<bool> initialise_values{false};
    std::atomic<bool> reset_counters{false};

    void reset();
};

// Records `code` in `state`; 0.
int handle_command(CommandState& state, uint32_t code);

// The process's command state and the slot callback over it.
CommandState& command_state();
int scanner_slot_callback(uint32_t code);

}  // namespace tolva
