#include "demo_run.h"

#include <sys/wait.h>

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "channel_table.h"
#include "qvr/host/chan.h"
#include "qvr/ipc/slot.h"
#include "rig/scanner_rig.h"
#include "rig/sample_device.h"
#include "rig/sample_inputs.h"

namespace sim_demo {
namespace {

using namespace sim_rig;

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kTick = 20ms;
constexpr auto kOpenTimeout = 30s;
constexpr auto kStopTimeout = 5s;
constexpr double kWriteAtSeconds = 3;

// Writes the controllers received, handed from the module's thread to the demo's.
class WriteLog {
  public:
    void add(std::string line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(lines_, {});
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

std::string fixed(double v, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string describe_end(std::optional<int> status) {
    if (!status) return "did not end within " + std::to_string(kStopTimeout.count()) + " s and was killed";
    if (WIFEXITED(*status)) return "ended with exit code " + std::to_string(WEXITSTATUS(*status));
    if (WIFSIGNALED(*status)) return "was ended by signal " + std::to_string(WTERMSIG(*status));
    return "ended";
}

bool device_open(sim_rig::ScannerRig& rig, pid_t pid) {
    const DeviceRecord* d = rig.device();
    return d != nullptr && d->Attached == 1 && d->Started == 1 && d->NextDue.seconds != 0 &&
           d->ProcessId == static_cast<uint32_t>(pid);
}

class DemoRun {
  public:
    DemoRun(const DemoOptions& options, const sim_rig::RigEnvironment& environment, Display& display,
            const std::atomic<bool>& stop)
        : options_(options),
          environment_(environment),
          display_(display),
          stop_(stop),
          rig_({.tree_root = environment.root(),
                .scanner_program = options.scanner_program.string(),
                .paced = true,
                .log_limit = 10000}) {}

    int run() {
        if (!set_up()) return 1;
        // Stopped before the device opened is a clean end too.
        const bool ok = wait_open() ? scan_loop() : stop_.load();
        return stop_scanner() && ok ? 0 : 1;
    }

  private:
    bool set_up() {
        describe_sample_device(rig_.spec, rig_.config);
        drive_inputs(rig_.network, 0);
        if (rig_.add_device() < 0) {
            display_.note("demo: the host could not add the device");
            return false;
        }
        display_.note("demo: IPC prefix " + environment_.prefix() + ", folder " + environment_.root().string() +
                      " (runtime, registry, configuration tree)");
        display_.note("demo: controllers at stations 1 and 2 behind the module on " + rig_.line.device_path() +
                      ", mapped to " + sim_rig::kPort + ", " + std::to_string(sim_rig::kBaudRate) +
                      " baud, bytes paced at the baud rate");
        rig_.network.set_command_observer([this](const sim_controller::CommandRecord& c) {
            if (c.is_write()) writes_.add(c.text());
        });
        scanner_ = rig_.host.start(options_.scanner_program.string(), {"1"}, true);
        if (!scanner_) {
            display_.note("demo: cannot start " + options_.scanner_program.string());
            return false;
        }
        display_.note("demo: started tolva_sc 1 (pid " + std::to_string(scanner_->pid()) + ") in " +
                      rig_.device_folder().parent_path().string() + " with TOLVA_NO_REALTIME=1");
        return true;
    }

    bool wait_open() {
        const auto end = Clock::now() + kOpenTimeout;
        while (!stop_ && !display_.closed()) {
            if (device_open(rig_, scanner_->pid())) {
                open_ = true;
                start_ = Clock::now();  // the inputs, the write and --seconds count from here
                display_.note("demo: device open (Attached, Started, NextDue); command 300 every " +
                              std::to_string(rig_.config.ScanRate) + " ms");
                return true;
            }
            if (!scanner_->running() || Clock::now() >= end) {
                display_.note("demo: the scanner did not open the device; its status: " + rig_.status_text());
                return false;
            }
            show();
            std::this_thread::sleep_for(kTick);
        }
        return false;
    }

    bool scan_loop() {
        const auto rate = std::chrono::milliseconds(rig_.config.ScanRate);
        auto next_scan = Clock::now();
        while (!stop_ && !display_.closed() && (options_.seconds <= 0 || seconds() < options_.seconds)) {
            drive_inputs(rig_.network, seconds());
            const auto now = Clock::now();
            if (now >= next_scan) {
                if (slot_SendCode(static_cast<uint32_t>(scanner_->pid()), kScanCommandScan) == 0) ++scans_;
                next_scan += rate;
                if (next_scan <= now) next_scan = now + rate;
            }
            if (!scanner_->running()) {
                display_.note("demo: tolva_sc ended by itself");
                return false;
            }
            report_alarms();
            write_output();
            report_writes();
            show();
            std::this_thread::sleep_for(kTick);
        }
        return true;
    }

    void report_alarms() {
        for (const auto& message : rig_.host.alarms().take_alarms())
            display_.note("alarm message: " + describe_alarm(rig_.host, message));
    }

    // The operator's path: the channel writers put the values into the output modules; the
    // scanner writes changed outputs to the controllers at its next scan.
    void write_output() {
        if (written_ || seconds() < kWriteAtSeconds) return;
        written_ = true;
        const uint32_t on = 1;
        const bool analog = chan_SetAnalogValues(kOutputCode, kOutputChannel, kOutputChannel, &kOutputValue) == 0;
        const bool digital =
            chan_SetDigitalValues(kDigitalOutputCode, kDigitalOutputChannel, kDigitalOutputChannel, &on) == 0;
        display_.note(std::string("demo: writes SETPOINT = ") + fixed(kOutputValue, 0) + " and PUMP = ON" +
                      " through the channel writers" + (analog && digital ? "" : " (refused)"));
    }

    void report_writes() {
        for (const auto& line : writes_.take()) display_.note("controller: received " + line);
        rig_.network.clear_commands();  // only the observer needs them; the log would grow
        if (!written_ || confirmed_) return;
        const auto setpoint = rig_.network.value(sim_rig::kStationOne, kOutputAddress);
        const auto pump = rig_.network.value(sim_rig::kStationOne, kDigitalOutputAddress);
        if (setpoint == static_cast<double>(kOutputValue) && pump == 1.0) {
            confirmed_ = true;
            display_.note(std::string("controller: station 1 now holds ") + kOutputAddress + " = " +
                          fixed(*setpoint, 0) + " (SETPOINT) and " + kDigitalOutputAddress + " = 1 (PUMP)");
        }
    }

    void show() {
        std::string heading = rig_.spec.name + " on " + sim_rig::kPort + "   t " + fixed(seconds(), 1) +
                              " s   scans sent " + std::to_string(scans_);
        if (const DeviceRecord* d = rig_.device()) heading += "   last scan " + std::to_string(d->LastScanMs) + " ms";
        const std::string status = rig_.status_text();
        heading += "   status: " + (!open_ ? std::string("starting") : status.empty() ? std::string("ok") : status);
        display_.show(heading, format_rows(read_rows(rig_.host, rig_.spec)));
    }

    bool stop_scanner() {
        if (!scanner_) return true;
        display_.note("demo: stopping: command 31 to tolva_sc (pid " + std::to_string(scanner_->pid()) + ")");
        const auto status = scanner_->stop(kStopTimeout);
        display_.note("demo: tolva_sc " + describe_end(status));
        return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
    }

    double seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

    const DemoOptions& options_;
    const sim_rig::RigEnvironment& environment_;
    Display& display_;
    const std::atomic<bool>& stop_;
    WriteLog writes_;  // before the rig: the module's thread may use it until the rig is gone
    sim_rig::ScannerRig rig_;
    std::optional<sim_host::HostProcess> scanner_;
    Clock::time_point start_ = Clock::now();
    size_t scans_ = 0;
    bool open_ = false;
    bool written_ = false;
    bool confirmed_ = false;
};

}  // namespace

int run_demo(const DemoOptions& options, const sim_rig::RigEnvironment& environment, Display& display,
             const std::atomic<bool>& stop) {
    DemoRun run(options, environment, display, stop);
    return run.run();
}

}  // namespace sim_demo
