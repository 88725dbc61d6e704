#pragma once
// What the sample device's controllers hold while the demo or qvr_rig runs: a sawtooth ramp,
// a sine, a counter and toggling bits; and the outputs the demo writes once.
#include "controller/pccc_network.h"

namespace sim_rig {

// Sets the controllers' inputs to their values `seconds` into the run.
void drive_inputs(sim_controller::ControllerNetwork& network, double seconds);

// The output the demo writes once, and where the controller keeps it.
inline constexpr const char* kOutputCode = "A3";  // AO module, channel 1: SETPOINT
inline constexpr int kOutputChannel = 1;
inline constexpr float kOutputValue = 42;
inline constexpr const char* kOutputAddress = "N7:10";
inline constexpr const char* kDigitalOutputCode = "A4";  // DO module, channel 1: PUMP
inline constexpr int kDigitalOutputChannel = 1;
inline constexpr const char* kDigitalOutputAddress = "B3:1/0";

}  // namespace sim_rig
