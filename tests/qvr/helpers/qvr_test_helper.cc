// A second process for the multi-process tests of sections and process slots. Each mode
// reports on standard output, one line per step, so the test can follow it.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/mailslot.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"

namespace {

constexpr uint32_t kStopCode = 999;
std::mutex g_out;
std::atomic<bool> g_stop{false};

void say(const char* format, auto... args) {
    std::lock_guard lock(g_out);
    std::printf(format, args...);
    std::fflush(stdout);
}

[[noreturn]] void die(const char* what) {
    say("error %s %d\n", what, errno);
    std::exit(2);
}

[[noreturn]] void sleep_until_killed() {
    for (;;) pause();
}

int print_code(uint32_t code) {
    say("code %u\n", code);
    if (code == kStopCode) g_stop = true;
    return 0;
}

void* open_section(const char* name) {
    void* s = shm_OpenSection(name);
    if (s == nullptr) die("open");
    return s;
}

// Locks `depth` times, reports the lock fields, and holds the lock until killed.
int lock_hold(const char* name, int depth) {
    void* s = open_section(name);
    for (int i = 0; i < depth; ++i)
        if (shm_Lock(s) != 0) die("lock");
    const auto bytes = qvr::section_bytes(s);
    say("held owner=%u recursion=%u\n", qvr::load_u16(bytes, qvr::kOffOwner),
        qvr::load_u32(bytes, qvr::kOffRecursion));
    sleep_until_killed();
}

// Increments the first data word under a doubly taken lock.
int lock_count(const char* name, int iterations) {
    void* s = open_section(name);
    for (int i = 0; i < iterations; ++i) {
        if (shm_Lock(s) != 0 || shm_Lock(s) != 0) die("lock");
        uint32_t value = 0;
        if (shm_ReadData(s, &value, 4, 0) != 0) die("read");
        ++value;
        if (shm_WriteData(s, &value, 4, 0) != 0) die("write");
        if (shm_Unlock(s) != 0 || shm_Unlock(s) != 0) die("unlock");
    }
    say("done\n");
    return 0;
}

// Waits on a waiter slot and reports the first data word after each wake; ends on ~0.
int wait_loop(const char* name, int slot) {
    slot_Open(print_code);
    if (errno != 0) die("slot");
    void* s = open_section(name);
    if (shm_ResetWaiters(s, slot) < 0) die("reset");
    say("ready %d\n", static_cast<int>(getpid()));
    for (;;) {
        if (shm_WaitSignal(s, slot) != 0) die("wait");
        uint32_t value = 0;
        if (shm_ReadData(s, &value, 4, 0) != 0) die("read");
        say("woken value=%u\n", value);
        if (value == 0xFFFFFFFFu) break;
    }
    slot_Close();
    return 0;
}

// A callback that takes the section's lock while the main thread comes to wait on it: the
// callback holds the slot's critical section and needs the section; the waiter holds the
// section only for its claim and must not need the critical section meanwhile.
void* g_locking_section = nullptr;
std::atomic<bool> g_in_locking_callback{false};

int locking_callback(uint32_t) {
    g_in_locking_callback = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (shm_Lock(g_locking_section) != 0) die("callback lock");
    shm_Unlock(g_locking_section);
    say("callback done\n");
    return 0;
}

int wait_beside_locking_callback(const char* name, int slot) {
    slot_Open(locking_callback);
    if (errno != 0) die("slot");
    g_locking_section = open_section(name);
    if (shm_ResetWaiters(g_locking_section, slot) < 0) die("reset");
    // A code sent to the own process runs the callback on the sending thread.
    std::thread sender([] { slot_SendCode(static_cast<uint32_t>(getpid()), 1); });
    while (!g_in_locking_callback) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    say("ready %d\n", static_cast<int>(getpid()));
    // The end of the callback may wake the waiter too; it looks again until the value comes.
    uint32_t value = 0;
    while (value == 0) {
        if (shm_WaitSignal(g_locking_section, slot) != 0) die("wait");
        if (shm_ReadData(g_locking_section, &value, 4, 0) != 0) die("read");
    }
    sender.join();
    say("woken value=%u\n", value);
    slot_Close();
    return 0;
}

// Queues a request (and cancels it when asked), then reports every code until the stop code.
int queue(const char* name, uint32_t code, bool cancel) {
    slot_Open(print_code);
    if (errno != 0) die("slot");
    void* s = open_section(name);
    if (shm_QueueRequest(s, code) != 0) die("queue");
    if (cancel && shm_CancelRequest(s) != 0) die("cancel");
    say("queued\n");
    while (!g_stop) slot_Wait(20000);
    slot_Close();
    return 0;
}

// Sends `count` codes, first, first + 1, ..., to process `pid`.
int send(uint32_t pid, int count, uint32_t first) {
    for (int i = 0; i < count; ++i) {
        if (slot_SendCode(pid, first + static_cast<uint32_t>(i)) != 0) {
            say("failed at %d error %d\n", i, errno);
            return 1;
        }
    }
    say("sent %d\n", count);
    return 0;
}

// Binds this process's slot name and never reads from it.
int deaf() {
    auto receiver = platform::MailslotReceiver::create("dm_" + std::to_string(getpid()) + ".slt");
    if (!receiver) die("bind");
    say("ready %d\n", static_cast<int>(getpid()));
    sleep_until_killed();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    auto arg = [&](int i) -> const char* {
        if (i >= argc) die("usage");
        return argv[i];
    };
    if (mode == "lock-hold") return lock_hold(arg(2), std::atoi(arg(3)));
    if (mode == "lock-count") return lock_count(arg(2), std::atoi(arg(3)));
    if (mode == "wait") return wait_loop(arg(2), std::atoi(arg(3)));
    if (mode == "wait-locking-callback") return wait_beside_locking_callback(arg(2), std::atoi(arg(3)));
    if (mode == "queue") return queue(arg(2), std::strtoul(arg(3), nullptr, 10), argc > 4);
    if (mode == "send")
        return send(std::strtoul(arg(2), nullptr, 10), std::atoi(arg(3)), std::strtoul(arg(4), nullptr, 10));
    if (mode == "deaf") return deaf();
    die("mode");
}
