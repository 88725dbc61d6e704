#include "scanner_rig.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/serial_port.h"
#include "qvr/util/fixed_text.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"

namespace sim_rig {
namespace {

// A code for the host process's own slot, fired when the scanner signals the last kind's
// module at the end of a scan.
constexpr uint32_t kScanDoneCode = 4242;

TimeStamp now_stamp() {
    TimeStamp t{};
    rt_GetLocalStamp(&t);
    return t;
}

}  // namespace

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

ScannerRig::ScannerRig(const RigOptions& options)
    : host([&] {
          sim_host::TableOptions o;
          o.tree_root = options.tree_root;
          return o;
      }()),
      scanner_program_(options.scanner_program) {
    // Tests and the demo run without real-time scheduling.
    ::setenv("TOLVA_NO_REALTIME", "1", 1);
    line.open();
    sim_controller::map_port_name(kPort, line.device_path());
    using tolva::file_type::kBinary;
    using tolva::file_type::kFloat;
    using tolva::file_type::kInteger;
    network.add_station(kStationOne, 0x49);
    network.add_file(kStationOne, 7, kInteger, 20);
    network.add_file(kStationOne, 8, kFloat, 10);
    network.add_file(kStationOne, 3, kBinary, 4);
    network.add_station(kStationTwo, 0x49);
    network.add_file(kStationTwo, 7, kInteger, 10);
    sim_controller::ModuleOptions module_options;
    module_options.answer_timeout = 50ms;
    module_options.baud = kBaudRate;
    module_options.paced = options.paced;
    module_options.log_limit = options.log_limit;
    module = std::make_unique<sim_controller::InterfaceModule>(module_options);
    network.attach(*module);
    module->start(line.take_module_side());

    plain_device(spec, config);
}

ScannerRig::~ScannerRig() {
    module->stop();
    sim_controller::unmap_port_name(kPort);
}

int ScannerRig::add_device() {
    static_assert(sizeof config == 704);
    std::memcpy(spec.config.data(), &config, sizeof config);
    index_ = host.add_device(spec);
    return index_;
}

std::filesystem::path ScannerRig::device_folder() const {
    return const_cast<sim_host::RuntimeHost&>(host).config_tree().current_config() / spec.config_name;
}

void ScannerRig::write_autosave(bool save_outputs, bool by_tag, int32_t rate_ms) {
    uint8_t bytes[6] = {static_cast<uint8_t>(save_outputs), static_cast<uint8_t>(by_tag)};
    const auto rate = static_cast<uint32_t>(rate_ms);
    for (int i = 0; i < 4; ++i) bytes[2 + i] = static_cast<uint8_t>(rate >> (8 * i));
    std::ofstream out(device_folder() / "saveconfig", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

bool ScannerRig::write_config() {
    std::array<uint8_t, 704> bytes{};
    std::memcpy(bytes.data(), &config, sizeof config);
    return sim_host::write_device_config(device_folder(), bytes);
}

void ScannerRig::write_channel_file(qvr::ChannelKind kind, const std::vector<qvr::ChannelRecord>& records) {
    sim_host::write_channel_file(device_folder(), kind, records, now_stamp());
}

std::optional<sim_host::HostProcess> ScannerRig::start(std::vector<std::string> args, const std::string& program,
                                                        bool wait_open) {
    // What an earlier scanner of the device left says nothing about this one.
    if (DeviceRecord* d = device()) {
        d->Started = 0;
        d->NextDue = {};
    }
    auto process = host.start(program.empty() ? scanner_program_ : program, args);
    if (!process || !wait_open) return process;
    const bool open = wait_until([&] {
        const DeviceRecord* d = device();
        return d != nullptr && d->Attached == 1 && d->Started == 1 && d->NextDue.seconds != 0 &&
               d->ProcessId == static_cast<uint32_t>(process->pid());
    });
    if (!open) return std::nullopt;
    return process;
}

bool ScannerRig::send(const sim_host::HostProcess& scanner, uint32_t code) {
    return slot_SendCode(static_cast<uint32_t>(scanner.pid()), code) == 0;
}

bool ScannerRig::scan(const sim_host::HostProcess& scanner, std::chrono::milliseconds timeout) {
    // The kind scanned last is the first present of AI, DI, AO, DO.
    std::string last;
    for (const int k : {0, 1, 2, 3})
        if (!spec.codes[static_cast<size_t>(k)].empty()) {
            last = spec.codes[static_cast<size_t>(k)];
            break;
        }
    void* module_section = shm_OpenSection(("dm_" + last).c_str());
    if (module_section == nullptr) return false;
    sim_host::clear_slot_codes();
    if (shm_QueueRequest(module_section, kScanDoneCode) != 0) return false;
    if (!send(scanner, kScanCommandScan)) return false;
    const auto codes = sim_host::slot_codes(1, timeout);
    return std::find(codes.begin(), codes.end(), kScanDoneCode) != codes.end() ||
           wait_until(
               [] {
                   const auto c = sim_host::slot_codes();
                   return std::find(c.begin(), c.end(), kScanDoneCode) != c.end();
               },
               timeout);
}

std::string ScannerRig::status_text() {
    for (const auto& e : host.status_entries())
        if (e.type == qvr::kStatusEntryDevice && e.name == spec.name) return e.text;
    return "(no entry)";
}

std::optional<int> ScannerRig::exit_code(std::optional<int> wait_status) {
    if (!wait_status || !WIFEXITED(*wait_status)) return std::nullopt;
    return WEXITSTATUS(*wait_status);
}

}  // namespace sim_rig
