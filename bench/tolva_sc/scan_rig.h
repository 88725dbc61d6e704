#pragma once
// One device served by the scanner's own device frame in this process: the host stand-in's
// tables and modules with the given layouts per kind, the controllers behind the
// interface-module stand-in on a pseudo-terminal (pacing its bytes at the baud rate, or
// not), and a ScannerDevice opened on it. Scans run on the calling thread; the stand-in has
// a thread of its own, so the calling thread's CPU time is the scanner's.
#include <array>
#include <cstdint>
#include <memory>

#include "controller/interface_module.h"
#include "controller/pccc_network.h"
#include "controller/pseudo_terminal.h"
#include "host/runtime_host.h"
#include "scan_layouts.h"
#include "tolva_sc/scanner_device.h"

namespace scan_bench {

struct RigOptions {
    uint32_t baud = 19200;
    bool paced = true;
    bool read_back = false;
};

struct ScanFigures {
    int64_t wall_ns = 0;
    int64_t cpu_ns = 0;       // the scanning thread's
    uint64_t wire_bytes = 0;  // sent and received by the link
    uint64_t frames = 0;      // message frames sent
    // Time-outs, enquiries, NAKs and dropped repeats: each costs line time an ideal
    // exchange does not have.
    uint64_t recoveries = 0;
};

class ScanRig {
  public:
    // Layouts of AI, DI, AO and DO; an empty one leaves the kind out.
    ScanRig(std::array<Layout, 4> layouts, RigOptions options);
    ~ScanRig();
    ScanRig(const ScanRig&) = delete;
    ScanRig& operator=(const ScanRig&) = delete;

    // Initialises and opens the device (its initial scan included). False on failure.
    bool open();
    ScanFigures scan();

    // New values for every input element in the controllers, and new requested values for
    // every output channel, derived from `round` (no two rounds alike).
    void change_inputs(int round);
    void change_outputs(int round);

    tolva::ScannerDevice& device() { return *scanner_; }
    const Layout& layout(int kind) const { return layouts_[static_cast<size_t>(kind)]; }

  private:
    std::array<Layout, 4> layouts_;
    RigOptions options_;
    sim_host::RuntimeHost host_;
    sim_controller::PseudoTerminal line_;
    sim_controller::ControllerNetwork network_{0};
    std::unique_ptr<sim_controller::InterfaceModule> module_;
    tolva::DeviceConfigRecord config_{};
    std::unique_ptr<tolva::ScannerDevice> scanner_;
};

}  // namespace scan_bench
