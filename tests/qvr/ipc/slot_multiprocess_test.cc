// Process slots between real processes (the helper program sends or refuses to read).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "qvr/ipc/slot.h"
#include "support/child_process.h"

using qvr_test::ChildProcess;
using namespace std::chrono_literals;

namespace {

constexpr auto kLong = 60s;  // only so a broken build cannot hang

ChildProcess helper(std::vector<std::string> args) {
    return ChildProcess::spawn(qvr_test::bin_path("qvr_test_helper"), args, {}, true);
}

std::mutex g_mutex;
std::vector<uint32_t> g_codes;
std::atomic<size_t> g_count{0};

int record(uint32_t code) {
    std::lock_guard lock(g_mutex);
    g_codes.push_back(code);
    g_count = g_codes.size();
    return 0;
}

std::string own_pid_text() {
    return std::to_string(getpid());
}

}  // namespace

TEST(SlotsBetweenProcesses, TenThousandCodesArriveWholeAndInOrderWhileCommandsAreHeld) {
    {
        std::lock_guard lock(g_mutex);  // codes an earlier case of this process recorded
        g_codes.clear();
        g_count = 0;
    }
    ASSERT_EQ(slot_Open(record), nullptr);
    ASSERT_EQ(slot_HoldCommands(1), 0);
    auto sender = helper({"send", own_pid_text(), "10000", "1"});
    // Every send succeeds although the callback may not run yet: the reader drains the socket.
    EXPECT_EQ(sender.wait_exit_code(kLong), 0) << sender.read_stdout(0ms);
    EXPECT_EQ(g_count.load(), 0u) << "commands are held";

    const auto deadline = std::chrono::steady_clock::now() + kLong;
    while (g_count.load() < 10000 && std::chrono::steady_clock::now() < deadline) slot_Wait(1000);
    ASSERT_EQ(slot_HoldCommands(1), 0);
    // A copy: the callback takes g_mutex under the slot's lock, so closing the slot while
    // holding g_mutex would take the two locks in the other order.
    const std::vector<uint32_t> codes = [] {
        std::lock_guard lock(g_mutex);
        return g_codes;
    }();
    slot_Close();
    ASSERT_EQ(codes.size(), 10000u);
    for (uint32_t i = 0; i < 10000; ++i) ASSERT_EQ(codes[i], i + 1) << "at " << i;
}

TEST(SlotsBetweenProcesses, CodeFromAnotherProcessWakesTheWaitingMainThread) {
    ASSERT_EQ(slot_Open(record), nullptr);
    ASSERT_EQ(slot_HoldCommands(1), 0);
    auto sender = helper({"send", own_pid_text(), "1", "300"});
    EXPECT_EQ(sender.wait_exit_code(kLong), 0);
    EXPECT_EQ(slot_Wait(0), 0);
    EXPECT_EQ(slot_LastCode(), 300u);
    slot_Close();
}

TEST(SlotsBetweenProcesses, SenderGivesUpOnAReceiverThatDoesNotRead) {
    auto deaf = helper({"deaf"});
    deaf.read_stdout(kLong, "ready");
    const auto pid = static_cast<uint32_t>(deaf.pid());
    int sent = 0;
    int rc = 0;
    auto started = std::chrono::steady_clock::now();
    while ((rc = slot_SendCode(pid, 300)) == 0) {
        ASSERT_LT(++sent, 100000) << "the receiver's queue never filled";
        started = std::chrono::steady_clock::now();
    }
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(errno, ETIMEDOUT) << "bounded by the send time-out, not blocked for ever";
    // The send time-out is about 1 s; the bound leaves room for a loaded machine.
    EXPECT_LT(took, 5s) << "the failing send returned only after its time-out had long passed";
    EXPECT_GT(sent, 0);

    deaf.kill(SIGKILL);
    ASSERT_TRUE(deaf.wait(kLong));
    errno = 0;
    EXPECT_EQ(slot_SendCode(pid, 300), -1);
    EXPECT_EQ(errno, ENOENT) << "a dead receiver's leftover file counts as no slot";
}
