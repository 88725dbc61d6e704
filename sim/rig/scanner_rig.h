#pragma once
// A whole installation for one device, as the end-to-end tests and the demo need it: the
// host stand-in's tables and modules with a device of AI, DI, AO, DO and statistics channels
// (channel files in its configuration folder), two controllers behind the interface-module
// stand-in on a pseudo-terminal that the device's CommPort is mapped to, and the real
// tolva_sc program started as the host starts it. It lives under the process's IPC prefix,
// runtime and registry folders, which the caller has set.
//
//   sim_rig::ScannerRig rig({.tree_root = root, .scanner_program = bin / "tolva_sc"});
//   rig.add_device();                     // TOLVA 1, channel files, config, saveconfig
//   auto scanner = rig.start();           // "tolva_sc 1", waits for Attached/Started/NextDue
//   rig.scan(*scanner);                   // command 300, waits for its commands
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/interface_module.h"
#include "controller/pccc_network.h"
#include "controller/pseudo_terminal.h"
#include "qvr/ipc/slot.h"
#include "host/runtime_host.h"
#include "qvr/records/channel_record.h"
#include "rig/sample_device.h"
#include "tolva_ex/records.h"

namespace sim_rig {

using namespace std::chrono_literals;

struct RigOptions {
    // The host's configuration tree; its "registry" folder must be the process's registry
    // folder, so the port map reaches the scanner.
    std::filesystem::path tree_root;
    // The program start() runs unless it is given another.
    std::string scanner_program;
    // The module paces its bytes at the line's baud rate.
    bool paced = false;
    // Newest link-log entries the module keeps.
    size_t log_limit = 200000;
};

// Polls `done` until it holds or `timeout` passed.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout = 30s);

class ScannerRig {
  public:
    explicit ScannerRig(const RigOptions& options);
    ~ScannerRig();
    ScannerRig(const ScannerRig&) = delete;
    ScannerRig& operator=(const ScannerRig&) = delete;

    // The plain device of rig/sample_device.h, unless `spec` and `config` were changed first.
    int add_device();
    // The output-saving settings of the device's folder ("saveconfig").
    void write_autosave(bool save_outputs, bool by_tag, int32_t rate_ms);
    // Rewrites the device's configuration file with `config`.
    bool write_config();
    // Rewrites a kind's channel file (a new last-write time).
    void write_channel_file(qvr::ChannelKind kind, const std::vector<qvr::ChannelRecord>& records);
    std::filesystem::path device_folder() const;

    // Starts `program` (default: the options' scanner program) with `args` and, unless it is expected
    // to end at once, waits until the device shows Attached, Started and a NextDue time.
    std::optional<sim_host::HostProcess> start(std::vector<std::string> args = {"1"},
                                               const std::string& program = {}, bool wait_open = true);
    // Command 300, then waits up to `timeout` until the scanner signalled the module of the
    // kind it scans last. False when that did not come.
    bool scan(const sim_host::HostProcess& scanner, std::chrono::milliseconds timeout = 30s);
    bool send(const sim_host::HostProcess& scanner, uint32_t code);

    DeviceRecord* device() { return host.device(index_); }
    // The device's status text in the host's error table.
    std::string status_text();
    // Exit code of a process that ended normally, else nullopt.
    static std::optional<int> exit_code(std::optional<int> wait_status);

    sim_host::RuntimeHost host;
    sim_controller::PseudoTerminal line;
    sim_controller::ControllerNetwork network{0};
    std::unique_ptr<sim_controller::InterfaceModule> module;
    sim_host::DeviceSpec spec;
    tolva::DeviceConfigRecord config{};

  private:
    std::string scanner_program_;
    int index_ = -1;
};

}  // namespace sim_rig
