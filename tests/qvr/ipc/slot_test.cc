#include "qvr/ipc/slot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "platform/event.h"
#include "platform/ipc_names.h"
#include "platform/testing/debug_output_testing.h"
#include "qvr/testing/slot_testing.h"

namespace {

using namespace std::chrono_literals;

// What the callback saw; the callback runs on the slot's threads.
struct Seen {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<uint32_t> codes;

    void add(uint32_t code) {
        {
            std::lock_guard lock(mutex);
            codes.push_back(code);
        }
        cv.notify_all();
    }
    size_t count() {
        std::lock_guard lock(mutex);
        return codes.size();
    }
    std::vector<uint32_t> all() {
        std::lock_guard lock(mutex);
        return codes;
    }
    void clear() {
        std::lock_guard lock(mutex);
        codes.clear();
    }
    // Waits (bounded only to avoid hanging) until `n` codes were seen.
    bool wait_for(size_t n) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 20s, [&] { return codes.size() >= n; });
    }
};
Seen g_seen;

int record(uint32_t code) {
    g_seen.add(code);
    return 0;
}
int other_callback(uint32_t) {
    return 0;
}

uint32_t own() {
    return static_cast<uint32_t>(getpid());
}
std::string own_slot_name() {
    return "dm_" + std::to_string(getpid()) + ".slt";
}

// Writes raw bytes into the own slot through the socket, as another process would.
void write_raw(const void* bytes, size_t length) {
    const int h = slot_OpenMailslot(own_slot_name().c_str());
    ASSERT_GE(h, 0);
    ASSERT_EQ(os_WriteExact(h, bytes, length), static_cast<int>(length));
    slot_CloseMailslot(h);
}
void write_code(uint32_t code) {
    write_raw(&code, 4);
}

// Lines written to the debugger output while it lives.
struct Trace {
    std::mutex mutex;
    std::vector<std::string> lines;
    Trace() {
        platform::set_debug_output_capture([this](std::string_view t) {
            std::lock_guard lock(mutex);
            lines.emplace_back(t);
        });
    }
    ~Trace() { platform::set_debug_output_capture({}); }
    int count(std::string_view needle) {
        std::lock_guard lock(mutex);
        int n = 0;
        for (const auto& l : lines) n += l.find(needle) != std::string::npos;
        return n;
    }
};

class SlotTest : public testing::Test {
  protected:
    void SetUp() override {
        g_seen.clear();
        errno = 1;
        ASSERT_EQ(slot_Open(record), nullptr);
        ASSERT_EQ(errno, 0);
    }
    void TearDown() override { slot_Close(); }
};

}  // namespace

TEST_F(SlotTest, SecondOpenSwapsTheCallbackAndTheReaderKeepsRunning) {
    EXPECT_EQ(slot_Open(other_callback), record);
    EXPECT_EQ(slot_Open(record), other_callback);
    write_code(300);
    ASSERT_TRUE(g_seen.wait_for(1));
    EXPECT_EQ(g_seen.all(), std::vector<uint32_t>{300});
}

TEST_F(SlotTest, CodeFromTheSocketRunsTheCallbackAndWakesTheWaiter) {
    write_code(302);
    EXPECT_EQ(slot_Wait(0), 0);
    ASSERT_TRUE(g_seen.wait_for(1));
    EXPECT_EQ(slot_LastCode(), 302u);
    slot_ClearLastCode();
    EXPECT_EQ(slot_LastCode(), 0u);
}

namespace {
// Catches a wait that lost its wake-up: when the test makes no progress for a bound far
// beyond any scheduling delay, the watch notes the loss and sends codes until it is stopped,
// so the blocked wait ends and the test reports the loss instead of hanging.
class WakeUpWatch {
  public:
    WakeUpWatch() : thread_([this] { run(); }) {}
    ~WakeUpWatch() { stop(); }
    WakeUpWatch(const WakeUpWatch&) = delete;
    WakeUpWatch& operator=(const WakeUpWatch&) = delete;
    void progress() { ++progress_; }
    bool lost() const { return lost_; }
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        uint64_t last = progress_;
        while (!cv_.wait_for(lock, lost_ ? 100ms : 20s, [&] { return stopping_; })) {
            if (progress_ == last) {
                lost_ = true;
                write_code(999);
            }
            last = progress_;
        }
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    bool stopping_ = false;
    std::atomic<uint64_t> progress_{0};
    std::atomic<bool> lost_{false};
    std::thread thread_;
};
}  // namespace

TEST_F(SlotTest, ACodeHandledBeforeTheWaitBeginsStillEndsIt) {
    WakeUpWatch watch;
    // Handled on this thread before slot_Wait is entered: as an auto-reset event that was
    // set before a wait, it ends that wait.
    ASSERT_EQ(slot_SendCode(own(), 303), 0);
    EXPECT_EQ(slot_Wait(0), 0);
    watch.progress();
    // Handled by the dispatch thread before the wait begins.
    write_code(302);
    ASSERT_TRUE(g_seen.wait_for(2));
    EXPECT_EQ(slot_Wait(0), 0);
    watch.stop();
    EXPECT_FALSE(watch.lost());
    EXPECT_EQ(g_seen.all(), (std::vector<uint32_t>{303, 302}));
}

TEST_F(SlotTest, OneWaitTakesEveryCodeHandledBeforeItAndTheNextWaitNeedsANewOne) {
    WakeUpWatch watch;
    ASSERT_EQ(slot_SendCode(own(), 1), 0);
    ASSERT_EQ(slot_SendCode(own(), 2), 0);
    EXPECT_EQ(slot_Wait(0), 0);
    watch.stop();
    ASSERT_FALSE(watch.lost());
    auto ready = platform::Event::create(false);
    ASSERT_TRUE(ready);
    ASSERT_EQ(slot_AddWaitHandle(ready->fd()), 0);
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        ready->set();
    });
    EXPECT_EQ(slot_Wait(0), 0);
    const bool ended_by_the_handle = ready->is_set();
    setter.join();
    EXPECT_TRUE(ended_by_the_handle) << "ended by a code an earlier wait took";
    ASSERT_EQ(slot_RemoveWaitHandle(ready->fd()), 0);
}

TEST_F(SlotTest, WaitersOnSeveralThreadsAreAllWokenByOneCode) {
    constexpr int kWaiters = 4;
    WakeUpWatch watch;
    std::mutex mutex;
    std::condition_variable cv;
    int first_done = 0;
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.emplace_back([&] {
            EXPECT_EQ(slot_Wait(0), 0);  // takes code 1
            {
                std::lock_guard lock(mutex);
                ++first_done;
            }
            cv.notify_all();
            EXPECT_EQ(slot_Wait(0), 0);  // needs code 2
            watch.progress();
        });
    write_code(1);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, 30s, [&] { return first_done == kWaiters; }));
    }
    write_code(2);
    for (auto& t : waiters) t.join();
    watch.stop();
    EXPECT_FALSE(watch.lost()) << "a waiter took another's wake-up";
}

TEST_F(SlotTest, CloseEndsAWaitUnderWayAndTheWaitUsesNothingItFrees) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> result{1};
        std::atomic<int> error{0};
        std::thread waiter([&] {
            result = slot_Wait(0);
            error = errno;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 3));
        slot_Close();
        waiter.join();
        // Under way, close ended it; begun after the close, nothing could end it.
        EXPECT_TRUE(result == 0 || (result == -1 && error == EDEADLK)) << round;
        g_seen.clear();
        ASSERT_EQ(slot_Open(record), nullptr);
    }
}

TEST_F(SlotTest, BackToBackCodesAreEachSeenByAWaitingMainLoop) {
    // The scanner's loop: hold, look at what was handled, wait; the host sends the next
    // command as soon as it sees the previous one taken.
    constexpr int kCodes = 2000;
    WakeUpWatch watch;
    std::atomic<int> taken{0};
    std::thread host([&] {
        for (int i = 1; i <= kCodes; ++i) {
            write_code(static_cast<uint32_t>(i));
            while (taken.load() < i && !watch.lost()) std::this_thread::yield();
        }
    });
    size_t seen = 0;
    while (seen < static_cast<size_t>(kCodes) && !watch.lost()) {
        ASSERT_EQ(slot_HoldCommands(1), 0);
        const size_t now = g_seen.count();
        if (now > seen) {
            seen = now;
            taken = static_cast<int>(seen);
            watch.progress();
            ASSERT_EQ(slot_HoldCommands(0), 0);
            continue;
        }
        EXPECT_EQ(slot_Wait(0), 0);
    }
    host.join();
    watch.stop();
    EXPECT_FALSE(watch.lost()) << "a wait lost its wake-up after code " << seen;
}

TEST_F(SlotTest, SendToTheOwnProcessRunsTheCallbackBeforeReturning) {
    EXPECT_EQ(slot_SendCode(own(), 303), 0);
    EXPECT_EQ(g_seen.all(), std::vector<uint32_t>{303});
}

TEST_F(SlotTest, SendToTheOwnProcessWhileHoldingIsDeliveredOnRelease) {
    ASSERT_EQ(slot_HoldCommands(1), 0);
    EXPECT_EQ(slot_SendCode(own(), 304), 0) << "must not wait for its own hold";
    EXPECT_EQ(g_seen.count(), 0u);
    EXPECT_EQ(slot_WaitTicks(0), 0);  // releases commands, returns once the code is handled
    ASSERT_TRUE(g_seen.wait_for(1));
    EXPECT_EQ(g_seen.all(), std::vector<uint32_t>{304});
}

TEST_F(SlotTest, OwnCodesSentWhileHoldingStayAheadOfTheOnesSentAfterRelease) {
    for (uint32_t round = 0; round < 50; ++round) {
        const uint32_t first = 10 * round;
        ASSERT_EQ(slot_HoldCommands(1), 0);
        ASSERT_EQ(slot_SendCode(own(), first + 1), 0);
        ASSERT_EQ(slot_SendCode(own(), first + 2), 0);
        ASSERT_EQ(slot_HoldCommands(0), 0);
        ASSERT_EQ(slot_SendCode(own(), first + 3), 0);
        ASSERT_TRUE(g_seen.wait_for(3 * (round + 1)));
    }
    const auto seen = g_seen.all();
    std::vector<uint32_t> expected;
    for (uint32_t round = 0; round < 50; ++round)
        for (uint32_t c = 1; c <= 3; ++c) expected.push_back(10 * round + c);
    EXPECT_EQ(seen, expected);
}

TEST_F(SlotTest, HeldCommandsAreNotDispatchedAndArriveInOrderOnRelease) {
    ASSERT_EQ(slot_HoldCommands(1), 0);
    for (uint32_t c = 1; c <= 50; ++c) write_code(c);
    std::this_thread::sleep_for(100ms);  // room for a wrong dispatch to happen
    EXPECT_EQ(g_seen.count(), 0u);
    ASSERT_EQ(slot_HoldCommands(0), 0);
    ASSERT_TRUE(g_seen.wait_for(50));
    std::vector<uint32_t> expected;
    for (uint32_t c = 1; c <= 50; ++c) expected.push_back(c);
    EXPECT_EQ(g_seen.all(), expected);
}

namespace {
std::mutex g_gate_mutex;
std::condition_variable g_gate_cv;
bool g_entered = false;
bool g_go = false;
std::atomic<bool> g_hold_returned{false};
bool g_hold_returned_inside = true;

int blocking_callback(uint32_t) {
    std::unique_lock lock(g_gate_mutex);
    g_entered = true;
    g_gate_cv.notify_all();
    g_gate_cv.wait_for(lock, 20s, [] { return g_go; });
    g_hold_returned_inside = g_hold_returned.load();
    return 0;
}
}  // namespace

TEST_F(SlotTest, HoldWaitsForARunningCallbackToFinish) {
    slot_Open(blocking_callback);
    write_code(1);
    {
        std::unique_lock lock(g_gate_mutex);
        ASSERT_TRUE(g_gate_cv.wait_for(lock, 20s, [] { return g_entered; }));
    }
    std::thread holder([] {
        slot_HoldCommands(1);
        g_hold_returned = true;
    });
    std::this_thread::sleep_for(100ms);  // give a wrong Hold the chance to return early
    {
        std::lock_guard lock(g_gate_mutex);
        g_go = true;
    }
    g_gate_cv.notify_all();
    holder.join();
    EXPECT_FALSE(g_hold_returned_inside) << "Hold returned while the callback ran";
    EXPECT_TRUE(g_hold_returned);
}

namespace {
int resend_callback(uint32_t code) {
    g_seen.add(code);
    if (code == 1) slot_SendCode(static_cast<uint32_t>(getpid()), 2);  // from inside the callback
    return 0;
}
}  // namespace

TEST_F(SlotTest, CallbackMaySendToItsOwnProcess) {
    slot_Open(resend_callback);
    write_code(1);
    ASSERT_TRUE(g_seen.wait_for(2));
    EXPECT_EQ(g_seen.all(), (std::vector<uint32_t>{1, 2}));
}

namespace {
std::atomic<bool> g_closed{false};
std::atomic<bool> g_closed_during_send{false};
std::thread g_closer;

// Runs in an own send between its callback and its wake-up: closes the slot on another
// thread and looks whether that close gets through while the send is still under way.
void close_from_another_thread() {
    qvr::slot_testing::set_own_delivery_hook(nullptr);
    g_closer = std::thread([] {
        slot_Close();
        g_closed = true;
    });
    // A close that does not wait for the send is done in a few milliseconds.
    for (int i = 0; i < 50 && !g_closed; ++i) std::this_thread::sleep_for(10ms);
    g_closed_during_send = g_closed.load();
}
}  // namespace

TEST_F(SlotTest, CloseOnAnotherThreadWaitsForAnOwnSendUnderWay) {
    g_closed = false;
    g_closed_during_send = false;
    qvr::slot_testing::set_own_delivery_hook(close_from_another_thread);
    EXPECT_EQ(slot_SendCode(own(), 303), 0);
    qvr::slot_testing::set_own_delivery_hook(nullptr);
    ASSERT_TRUE(g_closer.joinable());
    g_closer.join();
    EXPECT_FALSE(g_closed_during_send) << "close released the slot while a send still used it";
    EXPECT_TRUE(g_closed);
    errno = 0;
    EXPECT_EQ(slot_SendCode(own(), 303), -1) << "closed";
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(SlotTest, MessagesOfAnotherLengthAreDroppedWholeAndTraced) {
    Trace trace;
    const char three[3] = {1, 2, 3};
    const uint64_t eight = 0x0000'0001'0000'0001ULL;
    write_raw(three, sizeof three);
    write_raw(&eight, sizeof eight);
    write_raw("", 0);
    write_code(77);
    ASSERT_TRUE(g_seen.wait_for(1));
    EXPECT_EQ(g_seen.all(), std::vector<uint32_t>{77}) << "nothing half-read";
    EXPECT_EQ(trace.count("dropped a message"), 3);
}

TEST_F(SlotTest, FailingReadsBackOffAndAreTracedOnce) {
    Trace trace;
    qvr::slot_testing::inject_read_errors(5, EIO);
    write_code(9);
    ASSERT_TRUE(g_seen.wait_for(1));
    EXPECT_EQ(trace.count("read failed"), 1);

    qvr::slot_testing::inject_read_errors(1000, EINTR);
    write_code(10);
    ASSERT_TRUE(g_seen.wait_for(2));
    EXPECT_EQ(trace.count("read failed"), 1) << "interrupted reads are retried silently";
    EXPECT_EQ(g_seen.all(), (std::vector<uint32_t>{9, 10}));
}

TEST_F(SlotTest, WaitListHoldsTenHandlesAndWakesOnAnyOfThem) {
    std::vector<platform::Event> events;
    for (int i = 0; i < 10; ++i) events.push_back(*platform::Event::create(false));
    for (int i = 0; i < 9; ++i) ASSERT_EQ(slot_AddWaitHandle(events[i].fd()), 0) << i;
    EXPECT_EQ(slot_AddWaitHandle(events[9].fd()), -1) << "the code-handled event is the first of ten";
    EXPECT_EQ(slot_RemoveWaitHandle(events[9].fd()), -1);
    EXPECT_EQ(slot_RemoveWaitHandle(events[4].fd()), 0);
    EXPECT_EQ(slot_AddWaitHandle(events[9].fd()), 0);
    events[9].set();
    EXPECT_EQ(slot_Wait(0), 0);
    EXPECT_EQ(g_seen.count(), 0u);
    for (int i = 0; i < 10; ++i)
        if (i != 4) slot_RemoveWaitHandle(events[i].fd());
}

TEST_F(SlotTest, CloseJoinsTheThreadsAndNoCallbackFollows) {
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        const uint32_t code = 5;
        while (!stop) {
            const int h = slot_OpenMailslot(own_slot_name().c_str());
            if (h >= 0) {
                os_WriteExact(h, &code, 4);
                slot_CloseMailslot(h);
            }
        }
    });
    for (int round = 0; round < 20; ++round) {
        slot_Close();
        const size_t after_close = g_seen.count();
        std::this_thread::sleep_for(5ms);
        EXPECT_EQ(g_seen.count(), after_close) << "a callback ran after close";
        errno = 1;
        slot_Open(record);
        ASSERT_EQ(errno, 0);
    }
    stop = true;
    sender.join();
}

TEST(Slot, WaitWithNothingThatCouldEndItFailsAtOnce) {
    errno = 0;
    EXPECT_EQ(slot_Wait(0), -1);
    EXPECT_EQ(errno, EDEADLK);
    EXPECT_EQ(slot_WaitTicks(0), -1);
    EXPECT_EQ(slot_Wait(5), 0) << "a bounded wait just sleeps";
    EXPECT_EQ(slot_HoldCommands(1), -1);
}

TEST(Slot, SendsToMissingSlotsFailWithEnoent) {
    errno = 0;
    EXPECT_EQ(slot_SendCode(static_cast<uint32_t>(getpid()), 300), -1) << "no slot of its own is open";
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(slot_SendCode(4'000'000, 300), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(slot_OpenMailslot("xalarms"), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Slot, MailslotPathLiesInTheRuntimeFolderUnderThePrefix) {
    EXPECT_EQ(std::string(slot_MailslotPath("xalarms")),
              platform::runtime_dir() + "/" + platform::ipc_prefix() + "xalarms");
}
