#pragma once
// One run of the demo: the rig with the sample device, the controllers paced at the baud
// rate with changing inputs, tolva_sc started as the host starts it, scan commands at the
// device's scan rate, one output write, and the live table; then command 31 to the scanner,
// a bounded wait, a kill when it does not end.
#include <atomic>
#include <filesystem>

#include "rig/rig_environment.h"
#include "display.h"

namespace sim_demo {

struct DemoOptions {
    double seconds = 0;  // of scanning after the device opened; 0: until `stop`
    std::filesystem::path scanner_program;
};

// 0 when the scanner ran and stopped cleanly, 1 otherwise.
int run_demo(const DemoOptions& options, const sim_rig::RigEnvironment& environment, Display& display,
             const std::atomic<bool>& stop);

}  // namespace sim_demo
