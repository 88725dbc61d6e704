#pragma once
// The shared rig (sim/rig) under the test process's own prefix and folders, starting the
// tolva_sc built beside the test.
#include "rig/scanner_rig.h"

namespace e2e {

using namespace std::chrono_literals;
using sim_rig::analog_input;
using sim_rig::analog_output;
using sim_rig::digital_input;
using sim_rig::digital_output;
using sim_rig::kPort;
using sim_rig::kStationOne;
using sim_rig::kStationTwo;
using sim_rig::wait_until;

class ScannerRig : public sim_rig::ScannerRig {
  public:
    ScannerRig();
};

}  // namespace e2e
