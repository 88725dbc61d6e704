// Prints the figures of the section lock and the process slot, measured between real
// processes: this program starts copies of itself for the other side.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/mailslot.h"
#include "platform/monotonic_clock.h"
#include "platform/shm_object.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"

extern char** environ;

namespace {

constexpr int kHandOffs = 2000;
constexpr int kCodes = 2000;
constexpr uint32_t kSustainedCodes = 200000;

// The shared area both sides use, at the start of a module's data.
struct Shared {
    std::atomic<int64_t> parent_holds;
    std::atomic<int64_t> child_waiting;
    std::atomic<int64_t> child_done;
    std::atomic<int64_t> t_release;
    std::atomic<int64_t> t_send;
    std::atomic<int64_t> received;
    int64_t first[kHandOffs > kCodes ? kHandOffs : kCodes];
    int64_t second[kCodes];
};

Shared* shared_of(void* section) {
    return reinterpret_cast<Shared*>(static_cast<std::byte*>(section) + 128);
}

int64_t now_ns() {
    return platform::monotonic_ns();
}

void spin_until(const std::atomic<int64_t>& value, int64_t wanted) {
    while (value.load() != wanted) std::this_thread::yield();
}

pid_t spawn_self(const char* role) {
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    char* argv[] = {self.data(), const_cast<char*>(role), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    return pid;
}

void reap(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
}

struct Percentiles {
    double p50_us, p99_us;
};

Percentiles percentiles(std::vector<int64_t> ns) {
    std::sort(ns.begin(), ns.end());
    auto at = [&](double q) {
        return ns[static_cast<size_t>(q * static_cast<double>(ns.size() - 1))] / 1000.0;
    };
    return {at(0.50), at(0.99)};
}

// --- the other side -------------------------------------------------------------------------

int child_hand_off() {
    void* s = shm_OpenSection("dm_HO");
    Shared* sh = shared_of(s);
    for (int i = 0; i < kHandOffs; ++i) {
        spin_until(sh->parent_holds, i);
        sh->child_waiting = i;
        shm_Lock(s);
        sh->first[i] = now_ns() - sh->t_release.load();
        shm_Unlock(s);
        sh->child_done = i;
    }
    return 0;
}

Shared* g_receiver = nullptr;

int time_callback(uint32_t code) {
    const int64_t t = now_ns();
    const uint32_t i = code - 1000;
    if (i < kCodes) g_receiver->first[i] = t - g_receiver->t_send.load();
    return 0;
}

int count_callback(uint32_t) {
    g_receiver->received.fetch_add(1);
    return 0;
}

int child_receiver() {
    void* s = shm_OpenSection("dm_CD");
    g_receiver = shared_of(s);
    slot_Open(time_callback);
    g_receiver->child_done = -1;
    for (int i = 0; i < kCodes; ++i) {
        slot_HoldCommands(1);
        g_receiver->child_waiting = i;  // ready for code i
        slot_Wait(0);
        g_receiver->second[i] = now_ns() - g_receiver->t_send.load();
        g_receiver->child_done = i;
    }
    // Then count codes as fast as they come, until the parent says stop (code 31).
    slot_Open(count_callback);
    g_receiver->child_waiting = kCodes;
    while (slot_LastCode() != kScanCommandStop) slot_Wait(1000);
    slot_Close();
    return 0;
}

// --- this side ------------------------------------------------------------------------------

void uncontended_lock() {
    void* s = shm_CreateDataModule("dm_UL", 64);
    constexpr int kPairs = 1'000'000;
    for (int i = 0; i < 1000; ++i) {
        shm_Lock(s);
        shm_Unlock(s);
    }
    const int64_t start = now_ns();
    for (int i = 0; i < kPairs; ++i) {
        shm_Lock(s);
        shm_Unlock(s);
    }
    const double per_pair = static_cast<double>(now_ns() - start) / kPairs;
    std::printf("uncontended shm_Lock + shm_Unlock: %.1f ns per pair (%d pairs)\n", per_pair, kPairs);
}

void hand_off() {
    void* s = shm_CreateDataModule("dm_HO", sizeof(Shared));
    Shared* sh = shared_of(s);
    sh->parent_holds = -1;
    sh->child_waiting = -1;
    sh->child_done = -1;
    const pid_t child = spawn_self("hand-off");
    for (int i = 0; i < kHandOffs; ++i) {
        shm_Lock(s);
        sh->parent_holds = i;
        spin_until(sh->child_waiting, i);
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // let it block in the lock
        sh->t_release = now_ns();
        shm_Unlock(s);
        spin_until(sh->child_done, i);
    }
    reap(child);
    const auto p = percentiles(std::vector<int64_t>(sh->first, sh->first + kHandOffs));
    std::printf("lock hand-off to a blocked process: p50 %.1f us, p99 %.1f us (%d hand-offs)\n", p.p50_us,
                p.p99_us, kHandOffs);
}

void codes() {
    void* s = shm_CreateDataModule("dm_CD", sizeof(Shared));
    Shared* sh = shared_of(s);
    sh->child_waiting = -1;
    sh->received = 0;
    const pid_t child = spawn_self("receiver");
    const auto pid = static_cast<uint32_t>(child);
    for (int i = 0; i < kCodes; ++i) {
        spin_until(sh->child_waiting, i);
        sh->t_send = now_ns();
        while (slot_SendCode(pid, 1000 + static_cast<uint32_t>(i)) != 0) std::this_thread::yield();
        spin_until(sh->child_done, i);
    }
    const auto cb = percentiles(std::vector<int64_t>(sh->first, sh->first + kCodes));
    const auto wake = percentiles(std::vector<int64_t>(sh->second, sh->second + kCodes));
    std::printf(
        "code to another process: callback p50 %.1f us, p99 %.1f us; main thread awake p50 %.1f us, "
        "p99 %.1f us (%d codes)\n",
        cb.p50_us, cb.p99_us, wake.p50_us, wake.p99_us, kCodes);

    spin_until(sh->child_waiting, kCodes);
    int64_t start = now_ns();
    for (uint32_t i = 0; i < kSustainedCodes; ++i) slot_SendCode(pid, 1);
    spin_until(sh->received, kSustainedCodes);
    const double per_send =
        static_cast<double>(kSustainedCodes) * 1e9 / static_cast<double>(now_ns() - start);

    auto handle = slot_OpenMailslot(("dm_" + std::to_string(child) + ".slt").c_str());
    const uint32_t one = 1;
    start = now_ns();
    for (uint32_t i = 0; i < kSustainedCodes; ++i) os_WriteExact(handle, &one, 4);
    spin_until(sh->received, 2 * kSustainedCodes);
    const double per_handle =
        static_cast<double>(kSustainedCodes) * 1e9 / static_cast<double>(now_ns() - start);
    slot_CloseMailslot(handle);
    std::printf(
        "sustained codes to one process: %.0f codes/s with slot_SendCode, %.0f codes/s over one open "
        "handle (%u codes each)\n",
        per_send, per_handle, kSustainedCodes);
    slot_SendCode(pid, kScanCommandStop);
    reap(child);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view role = argc > 1 ? argv[1] : "";
    if (role == "hand-off") return child_hand_off();
    if (role == "receiver") return child_receiver();

    // Own prefix and runtime folder, set before anything reads them, removed at the end.
    const std::string prefix = "bench" + std::to_string(getpid()) + "_";
    char folder[] = "/tmp/qvrbench.XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    setenv("QUORVANE_IPC_PREFIX", prefix.c_str(), 1);
    setenv("QUORVANE_RUNTIME_DIR", folder, 1);

    uncontended_lock();
    hand_off();
    codes();

    platform::shm_object_remove_prefixed();
    platform::mailslot_remove_prefixed();
    std::filesystem::remove_all(folder);
    return 0;
}
