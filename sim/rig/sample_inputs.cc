#include "rig/sample_inputs.h"

#include <cmath>
#include <numbers>

#include "rig/sample_device.h"

namespace sim_rig {

void drive_inputs(sim_controller::ControllerNetwork& network, double seconds) {
    // A sawtooth over 10 s that starts at 70, so the warning and the alarm come early.
    const double level = std::fmod(70.0 + 10.0 * seconds, 100.0);
    network.set_value(kStationOne, "N7:0", std::floor(level));
    network.set_value(kStationOne, "F8:1", 20.0 + 10.0 * std::sin(2 * std::numbers::pi * seconds / 12.0));
    network.set_value(kStationTwo, "N7:0", std::fmod(std::floor(seconds * 10.0), 10000.0));
    network.set_value(kStationOne, "B3:0/0", std::fmod(seconds, 4.0) < 2.0 ? 1 : 0);
    network.set_value(kStationOne, "B3:0/1", std::fmod(seconds, 7.0) >= 5.0 ? 1 : 0);
}

}  // namespace sim_rig
