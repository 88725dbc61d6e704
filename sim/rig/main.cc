// qvr_rig: one device's whole installation in a world of its own, for trying the other tools
// on a running scanner: the host stand-in's tables with the sample device, the controllers on
// a pseudo-terminal with changing inputs, and the real tolva_sc (beside this program) started
// as the host starts it and scanned at its scan rate. It prints the variables through which
// other programs reach it, and runs a given command under them, or runs until Ctrl-C,
// SIGTERM or --seconds; then it stops the scanner with command 31 and removes what it made.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/process_spawn.h"
#include "platform/stop_signals.h"
#include "qvr/ipc/slot.h"
#include "rig/rig_environment.h"
#include "rig/sample_device.h"
#include "rig/sample_inputs.h"
#include "rig/scanner_rig.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kUsage =
    "usage: qvr_rig [--seconds N] [-- COMMAND [ARGS...]]\n"
    "  Sets up the sample device's whole installation under a fresh IPC prefix and a\n"
    "  temporary folder: the host stand-in's tables with TOLVA DEVICE 1 (folder TOLVA_1),\n"
    "  two controllers behind the interface module on a pseudo-terminal mapped to COM3, and\n"
    "  the tolva_sc beside this program, started as the host starts it and sent a scan\n"
    "  command at the device's scan rate while the inputs change. Prints \"export NAME=value\"\n"
    "  lines for the variables through which other programs reach it (qvr_host, sim_config,\n"
    "  a shell), then \"rig: ready\" once the scanner has opened the device.\n"
    "  -- COMMAND   runs COMMAND under those variables once the device is open, then stops;\n"
    "               the exit code is the command's\n"
    "  --seconds N  stops after N seconds (default: at Ctrl-C or SIGTERM)\n"
    "  --help       this text\n"
    "On the way out the scanner is stopped with command 31 and everything made is removed.\n"
    "Exit code 0, 1 when the device does not open or the scanner does not stop cleanly, 2 for\n"
    "bad arguments.\n";

struct Options {
    double seconds = 0;
    std::vector<std::string> command;
};

int usage_error(const std::string& why) {
    std::fprintf(stderr, "qvr_rig: %s\n%s", why.c_str(), kUsage);
    return 2;
}

std::optional<Options> parse(int argc, char** argv, std::string& why) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            o.command.assign(argv + i + 1, argv + argc);
            if (o.command.empty()) why = "-- needs a command";
            return o.command.empty() ? std::nullopt : std::optional<Options>(o);
        }
        if (arg == "--seconds" && i + 1 < argc) {
            char* end = nullptr;
            o.seconds = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(o.seconds > 0) || o.seconds > 1e7) {
                why = "--seconds needs a number of seconds above 0";
                return std::nullopt;
            }
        } else {
            why = "unknown argument " + arg;
            return std::nullopt;
        }
    }
    return o;
}

std::optional<pid_t> start_command(const std::vector<std::string>& command) {
    const auto path = platform::find_program(command[0], platform::path_folders());
    if (!path) {
        std::fprintf(stderr, "qvr_rig: %s: not found\n", command[0].c_str());
        return std::nullopt;
    }
    platform::SpawnOptions spawn;
    spawn.inherit_descriptors = false;  // the pseudo-terminal and the sockets stay the rig's
    const pid_t pid = platform::spawn_process(*path, command, spawn);
    if (pid < 0) {
        std::fprintf(stderr, "qvr_rig: cannot start %s: %s\n", path->c_str(), std::strerror(errno));
        return std::nullopt;
    }
    return pid;
}

class Rig {
  public:
    Rig(const sim_rig::RigEnvironment& environment, const std::filesystem::path& scanner)
        : rig_({.tree_root = environment.root(), .scanner_program = scanner.string(), .paced = true,
                .log_limit = 10000}) {
        sim_rig::describe_sample_device(rig_.spec, rig_.config);
        sim_rig::drive_inputs(rig_.network, 0);
    }

    // Adds the device and starts the scanner; true once it has opened the device.
    bool open() {
        if (rig_.add_device() < 0) {
            std::fprintf(stderr, "qvr_rig: the host could not add the device\n");
            return false;
        }
        scanner_ = rig_.start({"1"});
        if (!scanner_) {
            std::fprintf(stderr, "qvr_rig: tolva_sc did not open the device; its status text: %s\n",
                         rig_.status_text().c_str());
            return false;
        }
        start_ = Clock::now();
        next_scan_ = start_;
        return true;
    }

    pid_t scanner_pid() const { return scanner_->pid(); }
    int scan_rate_ms() const { return static_cast<int>(rig_.config.ScanRate); }
    double seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

    // One tick: the inputs move on, a scan command when one is due. False when the scanner ended.
    bool tick() {
        sim_rig::drive_inputs(rig_.network, seconds());
        const auto now = Clock::now();
        if (now >= next_scan_) {
            slot_SendCode(static_cast<uint32_t>(scanner_->pid()), kScanCommandScan);
            next_scan_ += std::chrono::milliseconds(rig_.config.ScanRate);
            if (next_scan_ <= now) next_scan_ = now + std::chrono::milliseconds(rig_.config.ScanRate);
        }
        // Nobody reads them here; they must not pile up.
        rig_.host.alarms().take_alarms();
        rig_.network.clear_commands();
        return scanner_->running();
    }

    // Command 31 and a bounded wait; true when the scanner ended with exit code 0.
    bool stop() {
        if (!scanner_) return true;
        const auto status = scanner_->stop(5s);
        const bool clean = status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
        std::printf("rig: tolva_sc %s\n", clean ? "stopped by command 31" : "did not stop cleanly");
        scanner_.reset();
        return clean;
    }

  private:
    sim_rig::ScannerRig rig_;
    std::optional<sim_host::HostProcess> scanner_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point next_scan_ = Clock::now();
};

// Runs the rig until the command ends (its exit code), or until a stop or the time is up (0).
int run(Rig& rig, const Options& options, const std::atomic<bool>& stop) {
    std::optional<pid_t> command;
    if (!options.command.empty()) {
        command = start_command(options.command);
        if (!command) return 127;
    }
    while (!stop && (options.seconds <= 0 || rig.seconds() < options.seconds)) {
        if (!rig.tick()) {
            std::fprintf(stderr, "qvr_rig: tolva_sc ended by itself\n");
            return 1;
        }
        if (command) {
            if (const auto status = platform::wait_child(*command, 0)) {
                return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    if (command) {
        ::kill(*command, SIGTERM);
        platform::wait_child(*command, 5000);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
        if (std::string(argv[i]) == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    std::string why;
    const std::optional<Options> options = parse(argc, argv, why);
    if (!options) return usage_error(why);
    const auto scanner = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tolva_sc";

    // Before any thread exists, so that only the signal thread receives them.
    platform::StopSignals::block();
    std::atomic<bool> stop{false};
    platform::StopSignals stop_signals;
    if (stop_signals.start([&stop](int) { stop = true; }) != 0) {
        std::fprintf(stderr, "qvr_rig: cannot watch for Ctrl-C and SIGTERM: %s\n", std::strerror(errno));
        return 1;
    }
    try {
        sim_rig::RigEnvironment environment("qvrrig");
        for (const std::string& variable : environment.variables()) std::printf("export %s\n", variable.c_str());
        std::fflush(stdout);
        int code = 1;
        {
            Rig rig(environment, scanner);
            if (rig.open()) {
                std::printf("rig: ready: tolva_sc 1 (pid %d) has opened TOLVA DEVICE 1 on COM3; a scan every %d ms\n",
                            static_cast<int>(rig.scanner_pid()), rig.scan_rate_ms());
                std::fflush(stdout);
                code = run(rig, *options, stop);
            }
            if (!rig.stop() && code == 0) code = 1;
        }
        std::printf("rig: %s\n", environment.remove_all().c_str());
        return code;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvr_rig: %s\n", e.what());
        return 1;
    }
}
