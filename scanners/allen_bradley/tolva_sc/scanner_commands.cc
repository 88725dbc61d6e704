#include "tolva_sc/scanner_commands.h"

#include "qvr/ipc/slot.h"

namespace tolva {

void CommandState::reset() {
    running = true;
    scan_requests = 0;
    reconfigure = false;
    initialise_values = false;
    reset_counters = false;
}

int handle_command(CommandState& state, uint32_t code) {
    switch (code) {
        case kScanCommandStop:
            state.running = false;
            break;
        case kScanCommandScan:
            ++state.scan_requests;
            break;
        case kScanCommandReconfigure:
            state.reconfigure = true;
            break;
        case kScanCommandResetCounters:
            state.reset_counters = true;
            break;
        case kScanCommandInitValues:
            state.initialise_values = true;
            break;
        default:
            break;
    }
    return 0;
}

CommandState& command_state() {
    static CommandState state;
    return state;
}

int scanner_slot_callback(uint32_t code) {
    return handle_command(command_state(), code);
}

}  // namespace tolva
