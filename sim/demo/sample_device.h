#pragma once
// The demo's device on the rig's layout: units, alarm and warning limits on the analog
// inputs, an alarm on a digital input, a scan rate; and the input values the controllers
// hold at a moment of the run (a sawtooth ramp, a sine, a counter and toggling bits).
#include "rig/scanner_rig.h"

namespace sim_demo {

inline constexpr int32_t kScanRateMs = 500;

// Before the rig's add_device().
void describe_sample_device(sim_rig::ScannerRig& rig);

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

}  // namespace sim_demo
