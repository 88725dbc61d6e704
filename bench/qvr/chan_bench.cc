// Prints the cost of chan_SetAnalogValues over 1, 100 and 10,000 channels: steady values,
// every channel crossing its alarm limit (the host stand-in drains "xalarms"), and the cost
// of waking 1 and 10 waiting processes. Runs under a prefix of its own and removes it.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "host/runtime_host.h"
#include "platform/monotonic_clock.h"
#include "qvr/host/chan.h"
#include "qvr/host/device_modules.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"

extern char** environ;

namespace {

std::atomic<bool> g_stop{false};

int on_code(uint32_t code) {
    if (code == kScanCommandStop) g_stop = true;
    return 0;
}

std::string code_for(int channels) {
    return channels == 1 ? "B1" : channels == 100 ? "B2" : "B3";
}

void add_processor(sim_host::RuntimeHost& host, int channels) {
    sim_host::ProcessSpec p{
        "BENCH" + std::to_string(channels), "", code_for(channels), false, true, false, 0, true};
    for (int i = 0; i < channels; ++i) {
        qvr::ChannelRecord r = sim_host::analog_output("B" + std::to_string(i + 1));
        r.head.Flags.set(qvr::AnalogFlag::HighAlarmEnable, true);
        r.analog.HighAlarmLimit = 50;
        p.channels.push_back(r);
    }
    host.add_process(p);
}

double ns_per_channel(const std::string& code, int channels, int rounds, bool crossing) {
    std::vector<float> values(static_cast<size_t>(channels), 10.0f);
    chan_SetAnalogValues(code.c_str(), 1, channels, values.data());
    const int64_t start = platform::monotonic_ns();
    for (int r = 0; r < rounds; ++r) {
        if (crossing)
            for (auto& v : values) v = (r % 2 == 0) ? 90.0f : 10.0f;
        chan_SetAnalogValues(code.c_str(), 1, channels, values.data());
    }
    return static_cast<double>(platform::monotonic_ns() - start) / rounds / channels;
}

pid_t spawn_waiter(int slot) {
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string slot_text = std::to_string(slot);
    char role[] = "waiter";
    char* argv[] = {self.data(), role, slot_text.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
    return pid;
}

int waiter(int slot) {
    slot_Open(on_code);
    void* data = shm_OpenDeviceData("B1");
    if (data == nullptr) return 2;
    shm_ResetWaiters(data, slot);
    while (!g_stop) shm_WaitSignal(data, slot);
    slot_Close();
    return 0;
}

bool all_waiting(void* data, int waiters) {
    const auto bytes = qvr::section_bytes(data);
    const auto areas = qvr::signal_areas(bytes);
    for (int n = 1; n <= waiters; ++n) {
        const auto slot = qvr::waiter_slot(*areas, n);
        if (qvr::entry_pid(bytes, *slot) == 0 || qvr::load_u16(bytes, slot->offset + 4) == 0) return false;
    }
    return true;
}

// Microseconds of one write with `waiters` processes waiting on the module.
double us_per_write(int waiters, int rounds) {
    std::vector<pid_t> pids;
    for (int i = 1; i <= waiters; ++i) pids.push_back(spawn_waiter(i));
    void* data = shm_OpenDeviceData("B1");
    int64_t total = 0;
    float value = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto until = platform::Deadline::after_ms(10000);
        while (!all_waiting(data, waiters) && !until.expired()) std::this_thread::yield();
        value += 1;
        const int64_t start = platform::monotonic_ns();
        chan_SetAnalogValues("B1", 1, 1, &value);
        total += platform::monotonic_ns() - start;
    }
    for (pid_t pid : pids) {
        slot_SendCode(static_cast<uint32_t>(pid), kScanCommandStop);
        waitpid(pid, nullptr, 0);
    }
    shm_ResetWaiters(data, 0);
    return static_cast<double>(total) / rounds / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "waiter") return waiter(std::atoi(argv[2]));
    const std::string prefix = "qvrbench." + std::to_string(getpid()) + ".";
    setenv("QUORVANE_IPC_PREFIX", prefix.c_str(), 1);
    const auto runtime = std::filesystem::temp_directory_path() / prefix;
    std::filesystem::create_directories(runtime);
    setenv("QUORVANE_RUNTIME_DIR", runtime.c_str(), 1);
    {
        sim_host::RuntimeHost host;
        for (int channels : {1, 100, 10000}) add_processor(host, channels);
        std::printf("chan_SetAnalogValues, ns per channel\n");
        std::printf("%8s %12s %12s\n", "channels", "steady", "crossing");
        for (int channels : {1, 100, 10000}) {
            const int rounds = channels == 10000 ? 20 : 2000;
            const double steady = ns_per_channel(code_for(channels), channels, rounds, false);
            const double crossing = ns_per_channel(code_for(channels), channels, rounds, true);
            std::printf("%8d %12.1f %12.1f\n", channels, steady, crossing);
            host.alarms().clear();
        }
        const double none = us_per_write(0, 200);
        std::printf("one-channel write with 0 waiters: %.1f us\n", none);
        for (int waiters : {1, 10}) {
            const double t = us_per_write(waiters, 200);
            std::printf("one-channel write with %d waiters: %.1f us, %.1f us per signalled waiter\n", waiters,
                        t, (t - none) / waiters);
        }
    }
    sim_host::remove_all();
    std::filesystem::remove_all(runtime);
    return 0;
}
