#include "tolva_sc/scanner_main.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/ipc_names.h"
#include "platform/last_error.h"
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

constexpr const char* kUsage =
    "usage: tolva_sc DEVICE-NUMBER\n"
    "  The device scanner of one configured device, started by the runtime host with the\n"
    "  device's number (1..65535) as its only argument. It finds the device of its type (its\n"
    "  program name up to the last '_') and number in the host's device table, serves it from\n"
    "  the folder QVR_CURRENT_CONFIG/<device folder> and takes the host's commands until\n"
    "  command 31, SIGTERM or SIGINT. Its status texts are in the host's error table; more\n"
    "  detail goes to standard error, the device's debug trace and the system log.\n"
    "  Any other command line, or a number that no device of its type has, ends it at once\n"
    "  with exit code 87 and the reason on standard error.\n";

// Says why the command line ends the program, before anything is touched.
int refuse_command_line(const std::string& why) {
    std::fprintf(stderr, "tolva_sc: %s\n%s", why.c_str(), kUsage);
    return platform::kErrorInvalidParameter;
}

// The folder QVR_CURRENT_CONFIG names, and where that name came from.
std::string config_folder_text(const char* folder) {
    const char* variable = std::getenv("QVR_CURRENT_CONFIG");
    return std::string(folder) + (variable != nullptr ? " (QVR_CURRENT_CONFIG)"
                                                      : " (QVR_CURRENT_CONFIG is not set: the product root's)");
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
    if (argc == 2 && argv[1] != nullptr && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "";
    const auto prefix = device_type_prefix(program);
    if (!prefix)
        return refuse_command_line(std::string("the program's name \"") + program +
                                   "\" has no '_': the device type is the name up to its last '_'");
    const auto number = device_number_argument(argc, argv);
    if (!number)
        return refuse_command_line(argc != 2 ? "exactly one argument, the device number, is needed"
                                             : std::string("\"") + argv[1] + "\" is no device number (1..65535)");

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

    int index = -1;
    DeviceRecord* device = shm_FindDevice(prefix->c_str(), *number, &index);
    // A device table that cannot be trusted ends the program with its reason, in the device's
    // status text too when its record can still be found.
    const auto device_table = device_table_fault();
    if (device == nullptr) {
        if (device_table) {
            trace_table_fault(*device_table);
            return leave(signals, failure_exit_code(device_table->error));
        }
        std::fprintf(stderr, "tolva_sc: no device %s %u in the runtime host's device table (IPC prefix \"%s\")\n",
                     prefix->c_str(), static_cast<unsigned>(*number), platform::ipc_prefix().c_str());
        return leave(signals, platform::kErrorInvalidParameter);
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
        report_failure("CAN'T GET CONFIG DIR -", error, device_name + ": QVR_CURRENT_CONFIG cannot be read");
        return leave(signals, failure_exit_code(scanner.exit_path(error)));
    }
    if (::chdir(folder) != 0) {
        const int error = errno;
        report_failure("CAN'T ACCESS CONFIG DIR -", error,
                       device_name + ": cannot enter the configuration folder " + config_folder_text(folder));
        return leave(signals, failure_exit_code(scanner.exit_path(error)));
    }
    if (::chdir(config_name.c_str()) != 0) {
        const int error = errno;
        report_failure("CAN'T ACCESS CONFIG DIR -", error,
                       device_name + ": cannot enter the device's folder " + config_name + " in " +
                           config_folder_text(folder));
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
