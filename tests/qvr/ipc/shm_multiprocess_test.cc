// Sections, locks and signals between real processes (the helper program).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "platform/testing/debug_output_testing.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"
#include "support/child_process.h"

using qvr_test::ChildProcess;
using namespace std::chrono_literals;

namespace {

constexpr auto kLong = 30s;  // only so a broken build cannot hang

ChildProcess helper(std::vector<std::string> args) {
    return ChildProcess::spawn(qvr_test::bin_path("qvr_test_helper"), args, {}, true);
}

size_t occurrences(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

int nothing(uint32_t) {
    return 0;
}

}  // namespace

TEST(SectionsBetweenProcesses, HolderKilledWhileHoldingTwiceLeavesTheLockToTheNextLocker) {
    void* s = shm_CreateDataModule("dm_LK", 16);
    ASSERT_NE(s, nullptr);
    const auto bytes = qvr::section_bytes(s);
    auto child = helper({"lock-hold", "dm_LK", "2"});
    const std::string out = child.read_stdout(kLong, "held");
    const auto child_owner = static_cast<uint16_t>(child.pid() & 0xFFFF);
    EXPECT_NE(out.find("held owner=" + std::to_string(child_owner) + " recursion=2"), std::string::npos)
        << out;
    EXPECT_EQ(qvr::load_u16(bytes, qvr::kOffOwner), child_owner);
    EXPECT_EQ(qvr::load_u32(bytes, qvr::kOffRecursion), 2u);

    child.kill(SIGKILL);
    ASSERT_TRUE(child.wait(kLong));
    std::vector<std::string> trace;
    platform::set_debug_output_capture([&](std::string_view t) { trace.emplace_back(t); });
    ASSERT_EQ(shm_Lock(s), 0);
    platform::set_debug_output_capture({});
    EXPECT_EQ(qvr::load_u16(bytes, qvr::kOffOwner), static_cast<uint16_t>(getpid() & 0xFFFF));
    EXPECT_EQ(qvr::load_u32(bytes, qvr::kOffRecursion), 1u) << "the dead holder's depth is gone";
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_NE(trace[0].find("dm_LK"), std::string::npos);
    ASSERT_EQ(shm_Lock(s), 0);
    EXPECT_EQ(qvr::load_u32(bytes, qvr::kOffRecursion), 2u);
    ASSERT_EQ(shm_Unlock(s), 0);
    ASSERT_EQ(shm_Unlock(s), 0);
    EXPECT_EQ(qvr::load_u16(bytes, qvr::kOffOwner), 0);
    EXPECT_EQ(qvr::load_u32(bytes, qvr::kOffRecursion), 0u);
}

TEST(SectionsBetweenProcesses, LockExcludesOtherProcesses) {
    void* s = shm_CreateDataModule("dm_CT", 16);
    ASSERT_NE(s, nullptr);
    std::vector<ChildProcess> children;
    for (int i = 0; i < 3; ++i) children.push_back(helper({"lock-count", "dm_CT", "3000"}));
    for (auto& c : children) EXPECT_EQ(c.wait_exit_code(kLong), 0);
    uint32_t count = 0;
    ASSERT_EQ(shm_ReadData(s, &count, 4, 0), 0);
    EXPECT_EQ(count, 9000u);
}

TEST(SectionsBetweenProcesses, SignalWakesAWaiterInAnotherProcess) {
    void* s = shm_CreateDataModule("dm_SG", 16);
    ASSERT_NE(s, nullptr);
    auto child = helper({"wait", "dm_SG", "3"});
    child.read_stdout(kLong, "ready");
    // The waiter holds slot 3 under its full process id.
    const auto areas = *qvr::signal_areas(qvr::section_bytes(s));
    const auto slot3 = *qvr::waiter_slot(areas, 3);
    EXPECT_TRUE(slot3.wide);
    EXPECT_EQ(qvr::entry_pid(qvr::section_bytes(s), slot3), static_cast<uint32_t>(child.pid()));

    uint32_t value = 5;
    ASSERT_EQ(shm_WriteData(s, &value, 4, 0), 0);
    ASSERT_EQ(shm_SignalWaiters(s, 3), 0);
    EXPECT_NE(child.read_stdout(kLong, "woken value=5").find("woken value=5"), std::string::npos);

    value = 0xFFFFFFFF;
    ASSERT_EQ(shm_WriteData(s, &value, 4, 0), 0);
    ASSERT_EQ(shm_SignalWaiters(s, 0), 0);
    EXPECT_EQ(child.wait_exit_code(kLong), 0) << child.read_stdout(0ms);
}

TEST(SectionsBetweenProcesses, NoSignalIsLostWhileTheWaiterComesBackToWait) {
    // Each signal follows the waiter's report at once, racing its return into the wait.
    void* s = shm_CreateDataModule("dm_RC", 16);
    ASSERT_NE(s, nullptr);
    auto child = helper({"wait", "dm_RC", "3"});
    child.read_stdout(kLong, "ready");
    for (uint32_t i = 1; i <= 300; ++i) {
        ASSERT_EQ(shm_WriteData(s, &i, 4, 0), 0);
        ASSERT_EQ(shm_SignalWaiters(s, 3), 0);
        const std::string needle = "woken value=" + std::to_string(i) + "\n";
        ASSERT_NE(child.read_stdout(kLong, needle).find(needle), std::string::npos)
            << "signal " << i << " lost";
    }
    const uint32_t stop = 0xFFFFFFFF;
    ASSERT_EQ(shm_WriteData(s, &stop, 4, 0), 0);
    ASSERT_EQ(shm_SignalWaiters(s, 3), 0);
    EXPECT_EQ(child.wait_exit_code(kLong), 0);
}

TEST(SectionsBetweenProcesses, WaiterDoesNotDeadlockWithACallbackThatTakesTheSectionLock) {
    // The waiter's callback is running and about to lock the section while the waiter claims
    // its slot under that lock.
    void* s = shm_CreateDataModule("dm_DL", 16);
    ASSERT_NE(s, nullptr);
    auto child = helper({"wait-locking-callback", "dm_DL", "2"});
    child.read_stdout(kLong, "ready");
    const std::string out = child.read_stdout(5s, "callback done");
    ASSERT_NE(out.find("callback done"), std::string::npos) << "waiter and callback deadlocked";
    const uint32_t value = 7;
    ASSERT_EQ(shm_WriteData(s, &value, 4, 0), 0);
    ASSERT_EQ(shm_SignalWaiters(s, 2), 0);
    EXPECT_NE(child.read_stdout(kLong, "woken value=7").find("woken value=7"), std::string::npos);
    EXPECT_EQ(child.wait_exit_code(kLong), 0);
}

TEST(SectionsBetweenProcesses, WaiterSlotOfAnotherProcessIsRefused) {
    void* s = shm_CreateDataModule("dm_WS", 16);
    ASSERT_NE(s, nullptr);
    auto child = helper({"wait", "dm_WS", "4"});
    child.read_stdout(kLong, "ready");
    slot_Open(nothing);
    errno = 0;
    EXPECT_EQ(shm_WaitSignal(s, 4), -1);
    EXPECT_EQ(errno, 67);
    slot_Close();
}

TEST(SectionsBetweenProcesses, QueuedRequestReachesItsProcessOnce) {
    void* s = shm_CreateDataModule("dm_RQ", 16);
    ASSERT_NE(s, nullptr);
    auto child = helper({"queue", "dm_RQ", "4242"});
    child.read_stdout(kLong, "queued");
    ASSERT_EQ(shm_SignalWaiters(s, 0), 0);
    ASSERT_EQ(shm_SignalWaiters(s, 0), 0);
    ASSERT_EQ(slot_SendCode(static_cast<uint32_t>(child.pid()), 999), 0);
    const std::string out = child.read_stdout(kLong, "code 999");
    EXPECT_EQ(child.wait_exit_code(kLong), 0);
    EXPECT_EQ(occurrences(out, "code 4242"), 1u) << out;
    EXPECT_LT(out.find("code 4242"), out.find("code 999"));
}

TEST(SectionsBetweenProcesses, CancelledRequestNeverFires) {
    void* s = shm_CreateDataModule("dm_CN", 16);
    ASSERT_NE(s, nullptr);
    auto child = helper({"queue", "dm_CN", "4242", "cancel"});
    child.read_stdout(kLong, "queued");
    ASSERT_EQ(shm_SignalWaiters(s, 0), 0);
    // Codes from one sender arrive in order: once 999 is there, 4242 would have been too.
    ASSERT_EQ(slot_SendCode(static_cast<uint32_t>(child.pid()), 999), 0);
    const std::string out = child.read_stdout(kLong, "code 999");
    EXPECT_EQ(child.wait_exit_code(kLong), 0);
    EXPECT_EQ(out.find("code 4242"), std::string::npos) << out;
}

TEST(SectionsBetweenProcesses, SignalOthersWakesTheOtherProcessButNotTheCaller) {
    void* s = shm_CreateDataModule("dm_SO", 16);
    ASSERT_NE(s, nullptr);
    slot_Open(nothing);
    ASSERT_EQ(shm_ResetWaiters(s, 1), 0);
    auto child = helper({"wait", "dm_SO", "2"});
    child.read_stdout(kLong, "ready");
    uint32_t value = 0xFFFFFFFF;
    ASSERT_EQ(shm_WriteData(s, &value, 4, 0), 0);
    ASSERT_EQ(shm_SignalOthers(s, 0), 0);
    EXPECT_EQ(child.wait_exit_code(kLong), 0);
    const auto bytes = qvr::section_bytes(s);
    const auto own_slot = *qvr::waiter_slot(*qvr::signal_areas(bytes), 1);
    EXPECT_EQ(qvr::load_u16(bytes, own_slot.offset + 6), 0) << "no missed signal counted for the caller";
    slot_Close();
}

namespace {
std::vector<uint32_t> g_own_codes;
int record_own(uint32_t code) {
    g_own_codes.push_back(code);
    return 0;
}
}  // namespace

// A watcher that was stopped while it waited cannot take its codes; the signal that must
// give up on it after the send time-out no longer keeps the section locked meanwhile, and
// the codes to one process keep their order.
TEST(SectionsBetweenProcesses, AStoppedWatcherDoesNotHoldUpTheSectionsWriters) {
    void* s = shm_CreateDataModule("dm_SW", 16);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(shm_ResetWaiters(s, 0), 10);
    auto watcher = helper({"wait", "dm_SW", "2"});
    watcher.read_stdout(kLong, "ready");
    const auto bytes = qvr::section_bytes(s);
    const auto slot2 = *qvr::waiter_slot(*qvr::signal_areas(bytes), 2);
    const auto waiting = [&] {
        shm_Lock(s);
        const bool set = qvr::entry_pid(bytes, slot2) == static_cast<uint32_t>(watcher.pid()) &&
                         qvr::load_u16(bytes, slot2.offset + 4) != 0;
        shm_Unlock(s);
        return set;
    };
    for (int i = 0; i < 3000 && !waiting(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(waiting());
    watcher.kill(SIGSTOP);
    const auto pid = static_cast<uint32_t>(watcher.pid());
    int queued = 0;
    while (slot_SendCode(pid, 1) == 0)
        ASSERT_LT(++queued, 100000) << "the stopped watcher's queue never filled";

    // This process waits on slot 1 and has a request queued: 32, then its code.
    g_own_codes.clear();
    slot_Open(record_own);
    ASSERT_EQ(shm_ResetWaiters(s, 1), 0);
    {
        shm_Lock(s);
        ASSERT_EQ(qvr::claim_waiter(bytes, *qvr::signal_areas(bytes), 1, static_cast<uint32_t>(getpid())),
                  qvr::ClaimResult::kMustWait);
        shm_Unlock(s);
    }
    ASSERT_EQ(shm_QueueRequest(s, 77), 0);

    using Clock = std::chrono::steady_clock;
    std::atomic<bool> signalling{false};
    Clock::time_point signal_end;
    std::thread signaller([&] {
        signalling = true;
        EXPECT_EQ(shm_SignalWaiters(s, 0), 0);
        signal_end = Clock::now();
    });
    while (!signalling) std::this_thread::yield();
    std::this_thread::sleep_for(100ms);  // into the send to the stopped watcher
    ASSERT_EQ(shm_Lock(s), 0);
    const auto locked_at = Clock::now();
    shm_Unlock(s);
    signaller.join();
    // The send to the stopped watcher lasts its time-out of about 1 s; a lock held through it
    // is free only when the signal is nearly done.
    EXPECT_GT(signal_end - locked_at, 300ms) << "the writer waited for the stopped watcher's send";
    EXPECT_EQ(g_own_codes, (std::vector<uint32_t>{qvr::kSectionChangedCode, 77}));

    slot_Close();
    watcher.kill(SIGKILL);
    EXPECT_TRUE(watcher.wait(kLong));
}
