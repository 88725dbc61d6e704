#include "tolva_sc/scanner_main.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/process_priority.h"
#include "platform/stop_signals.h"
#include "qvr/settings/env.h"
#include "qvr/util/fixed_text.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/slot.h"
#include "qvr/host/status_text.h"
#include "qvr/diag/trace.h"
#include "tolva_sc/scanner_device.h"
#include "tolva_sc/table_faults.h"

namespace tolva {
namespace {

// What the program does on every way out after the slot was opened.
int leave(platform::StopSignals& signals, int code) {
    ::close(STDIN_FILENO);
    signals.stop();
    slot_Close();
    return code;
}

void trace_priority(int request_error) {
    if (request_error < 0) {
        trace_Write("real-time scheduling not asked for (TOLVA_NO_REALTIME)\n");
    } else if (request_error > 0) {
        const std::string line = "real-time scheduling refused (error " + std::to_string(request_error) +
                                 "): running at normal priority\n";
        trace_Write(line.c_str());
    }
}

}  // namespace

std::optional<std::string> device_type_prefix(std::string_view program_path) {
    const size_t slash = program_path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? program_path : program_path.substr(slash + 1);
    const size_t underscore = name.rfind('_');
    if (underscore == std::string_view::npos) return std::nullopt;
    return std::string(name.substr(0, underscore));
}

std::optional<uint16_t> device_number_argument(int argc, const char* const* argv) {
    if (argc != 2 || argv == nullptr || argv[1] == nullptr) return std::nullopt;
    // The usual decimal reading: leading blanks, a sign, digits up to the first other character.
    const long long value = std::strtoll(argv[1], nullptr, 10);
    const auto number = static_cast<uint16_t>(static_cast<unsigned long long>(value) & 0xFFFF);
    if (number == 0) return std::nullopt;
    return number;
}

int failure_exit_code(int error) {
    return (error & 0xFF) != 0 ? error : 0xFF;
}

int run_scanner(int argc, const char* const* argv) {
    // Real-time scheduling keeps the line timings on a loaded machine; refused, the scanner
    // still works, so it goes on at normal priority.
    int priority_error = -1;
    const char* no_realtime = std::getenv(kNoRealtimeVariable);
    if (no_realtime == nullptr || std::strcmp(no_realtime, "1") != 0)
        priority_error = platform::request_realtime_priority(kRealtimePriority) == 0 ? 0 : errno;

    // Before any thread exists, so that only the signal thread receives them.
    platform::StopSignals::block();
    CommandState& commands = command_state();
    errno = 0;
    if (slot_Open(scanner_slot_callback) == nullptr && errno != 0) return errno;
    platform::StopSignals signals;
    signals.start([](int) {
        command_state().running = false;
        slot_SendCode(static_cast<uint32_t>(getpid()), kScanCommandStop);
    });

    const auto prefix = device_type_prefix(argc > 0 && argv[0] != nullptr ? argv[0] : "");
    if (!prefix) return leave(signals, 0);
    const auto number = device_number_argument(argc, argv);
    if (!number) return leave(signals, 0);
    int index = -1;
    DeviceRecord* device = shm_FindDevice(prefix->c_str(), *number, &index);
    // A device table that cannot be trusted ends the program with its reason, in the device's
    // status text too when its record can still be found.
    const auto device_table = device_table_fault();
    if (device == nullptr) {
        if (!device_table) return leave(signals, 0);
        trace_table_fault(*device_table);
        return leave(signals, failure_exit_code(device_table->error));
    }

    const std::string config_name(qvr::field_text(device->ConfigName));
    trace_Create(config_name.c_str());
    trace_priority(priority_error);
    // Registered before the folder steps, so that their failures reach the operator.
    const std::string device_name(qvr::field_text(device->DeviceName));
    shm_RegisterStatusEntry(qvr::kStatusEntryDevice, device_name.c_str());
    if (device_table) {
        shm_SetStatusText("%s", device_table->text.c_str());
        trace_table_fault(*device_table);
        return leave(signals, failure_exit_code(device_table->error));
    }
    // Status texts are best effort: without a usable error table the scanner still serves
    // its device, and says so where it can.
    if (const auto errors = error_table_fault()) trace_table_fault(*errors);

    ScannerDevice scanner(*device, index, commands, current_folder_config_files());
    const char* folder = env_GetProductFolder("QVR_CURRENT_CONFIG");
    if (folder == nullptr) {
        const int error = errno;
        report_failure("CAN'T GET CONFIG DIR -", error);
        return leave(signals, failure_exit_code(scanner.exit_path(error)));
    }
    if (::chdir(folder) != 0 || ::chdir(config_name.c_str()) != 0) {
        const int error = errno;
        report_failure("CAN'T ACCESS CONFIG DIR -", error);
        return leave(signals, failure_exit_code(scanner.exit_path(error)));
    }

    device->Attached = 1;
    device->ProcessId = static_cast<uint32_t>(getpid());
    // After Attached, so the online channel shows the scanner as running.
    scanner.setup_port_statistics();
    // The system's time zone already drives local time here: no TZ value to set.

    if (scanner.initialise() != 0) {
        const int error = errno;
        return leave(signals, failure_exit_code(scanner.exit_path(error)));
    }
    device->Started = 1;
    scanner.open_with_retry(0);
    scanner.run();
    const std::optional<int> fatal = scanner.fatal_code();
    const int code = scanner.exit_path(fatal.value_or(0));
    return leave(signals, fatal ? failure_exit_code(code) : 0);
}

}  // namespace tolva
