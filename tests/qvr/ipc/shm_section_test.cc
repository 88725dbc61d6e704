#include "qvr/ipc/shm.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc_names.h"
#include "platform/last_error.h"
#include "platform/named_mutex.h"
#include "platform/shm_object.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/slot.h"

namespace {

uint16_t own_owner() {
    return static_cast<uint16_t>(getpid() & 0xFFFF);
}

std::vector<std::string> objects_under_prefix() {
    return platform::shm_object_list();
}

// An object laid down by someone else (the host), header bytes as given.
void raw_section(const std::string& name, size_t object_size, uint32_t claimed_data_size) {
    ASSERT_TRUE(
        platform::shm_object_create("Global\\" + name, object_size, 0660, [&](std::span<std::byte> b) {
            if (b.size() >= 128) qvr::fill_section_header(b, name, claimed_data_size);
        }));
}

// A mutex for a plain section, as the host makes one.
void mutex_for(const char* name) {
    ASSERT_TRUE(platform::NamedMutex::create(std::string("Global\\") + shm_MutexName(name), 0660));
}

}  // namespace

TEST(SharedSection, OpeningAMissingSectionFailsWithEnoentAndLeavesNothing) {
    errno = 0;
    EXPECT_EQ(shm_OpenSection("dm_XX"), nullptr);
    EXPECT_EQ(errno, ENOENT) << "a real failure never reports 0";
    EXPECT_EQ(platform::last_error(), ENOENT);
    EXPECT_TRUE(objects_under_prefix().empty());
}

TEST(SharedSection, NamesOf31CharactersWorkAnd32AreRefused) {
    const std::string ok(31, 'n');
    const std::string too_long(32, 'n');
    ASSERT_NE(shm_CreateDataModule(ok.c_str(), 8), nullptr);
    EXPECT_NE(shm_OpenSection(ok.c_str()), nullptr);
    errno = 1234;
    EXPECT_EQ(shm_OpenSection(too_long.c_str()), nullptr);
    EXPECT_EQ(errno, 1234) << "open leaves the error number alone";
    errno = 1234;
    EXPECT_EQ(shm_CreateSection(too_long.c_str(), 64), nullptr);
    EXPECT_EQ(errno, 0);
    errno = 1234;
    EXPECT_EQ(shm_CreateDataModule(too_long.c_str(), 8), nullptr);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(objects_under_prefix().size(), 2u) << "the module and its mutex only";
}

TEST(SharedSection, CreateRefusesAnExistingSectionAndADataModuleIsReusedWhenItIsLargeEnough) {
    void* plain = shm_CreateSection("dm_P", 64);
    ASSERT_NE(plain, nullptr);
    errno = 0;
    EXPECT_EQ(shm_CreateSection("dm_P", 64), nullptr);
    EXPECT_EQ(errno, platform::kErrorAlreadyExists);
    EXPECT_EQ(shm_CreateSection("dm_small", 19), nullptr) << "the lock fields would lie outside";

    void* module = shm_CreateDataModule("dm_M", 40);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(shm_CreateDataModule("dm_M", 40), module);
    EXPECT_EQ(shm_CreateDataModule("dm_M", 8), module);
    errno = 0;
    EXPECT_EQ(shm_CreateDataModule("dm_M", 999), nullptr) << "the caller would write past its end";
    EXPECT_EQ(errno, platform::kErrorAlreadyExists);
    EXPECT_EQ(shm_OpenSection("dm_M"), module);
}

TEST(SharedSection, MutexNameIsDoubledGlobalAndLivesBesideTheSection) {
    EXPECT_STREQ(shm_MutexName("dm_AB"), "Global\\dm_AB.mut");
    ASSERT_NE(shm_CreateDataModule("dm_AB", 8), nullptr);
    EXPECT_EQ(objects_under_prefix(),
              (std::vector<std::string>{"Global\\Global\\dm_AB.mut", "Global\\dm_AB"}));
}

TEST(SharedSection, OpenMapsWhatTheHeaderClaimsOnlyWhenTheObjectHoldsIt) {
    raw_section("dm_ok", 4096, 200);  // an object larger than claimed
    void* ok = shm_OpenSection("dm_ok");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(qvr::section_bytes(ok).size(), 308u);

    raw_section("dm_liar", 200, 1000);
    errno = 0;
    EXPECT_EQ(shm_OpenSection("dm_liar"), nullptr);
    EXPECT_EQ(errno, platform::kErrorInvalidData);

    raw_section("dm_tiny", 6, 0);
    EXPECT_EQ(shm_OpenSection("dm_tiny"), nullptr);
    EXPECT_EQ(errno, platform::kErrorInvalidData);

    raw_section("dm_short", 100, 0);  // header too short for the lock fields
    EXPECT_EQ(shm_OpenSection("dm_short"), nullptr);
}

TEST(SharedSection, ReadAndWriteStayInsideTheDataLengthAndTheMapping) {
    void* s = shm_CreateDataModule("dm_RW", 16);
    ASSERT_NE(s, nullptr);
    const uint8_t one = 0xAB;
    uint8_t back = 0;
    EXPECT_EQ(shm_WriteData(s, &one, 1, 15), 0);
    EXPECT_EQ(shm_ReadData(s, &back, 1, 15), 0);
    EXPECT_EQ(back, 0xAB);
    struct Case {
        uint32_t length, offset;
        bool ok;
    } cases[] = {{1, 16, false},           {0, 16, true},          {16, 0, true},
                 {17, 0, false},           {2, 0xFFFFFFFF, false},  // wraps to 1 in 32 bits
                 {0xFFFFFFF0, 0x20, false}};
    for (const auto& c : cases) {
        std::vector<uint8_t> buffer(32);
        errno = 0;
        // Huge lengths go the writing way: a missed check would read past the buffer, not write.
        const int rc = c.length > 32 ? shm_WriteData(s, buffer.data(), c.length, c.offset)
                                     : shm_ReadData(s, buffer.data(), c.length, c.offset);
        EXPECT_EQ(rc, c.ok ? 0 : -1) << c.length << " at " << c.offset;
        if (!c.ok) {
            EXPECT_EQ(errno, platform::kErrorBadNetName);
        }
    }
    // A header whose data length claims more than the mapping holds.
    const auto bytes = qvr::section_bytes(s);
    qvr::store_u32(bytes, qvr::kOffDataLength, 0xFFFFFF00);
    uint32_t word = 0;
    EXPECT_EQ(shm_ReadData(s, &word, 4, static_cast<uint32_t>(bytes.size())), -1);
    EXPECT_EQ(errno, platform::kErrorBadNetName);
    EXPECT_EQ(qvr::load_u16(bytes, qvr::kOffOwner), 0) << "the lock was released";
}

TEST(SharedSection, LockingTwiceAndUnlockingTwiceLeavesOwnerAndDepthZero) {
    void* s = shm_CreateDataModule("dm_LK", 8);
    ASSERT_NE(s, nullptr);
    const auto bytes = qvr::section_bytes(s);
    ASSERT_EQ(shm_Lock(s), 0);
    ASSERT_EQ(shm_Lock(s), 0);
    EXPECT_EQ(qvr::load_u16(bytes, qvr::kOffOwner), own_owner());
    EXPECT_EQ(qvr::load_u32(bytes, qvr::kOffRecursion), 2u);
    ASSERT_EQ(shm_Unlock(s), 0);
    EXPECT_EQ(qvr::load_u32(bytes, qvr::kOffRecursion), 1u);
    ASSERT_EQ(shm_Unlock(s), 0);
    EXPECT_EQ(qvr::load_u16(bytes, qvr::kOffOwner), 0);
    EXPECT_EQ(qvr::load_u32(bytes, qvr::kOffRecursion), 0u);
    errno = 0;
    EXPECT_EQ(shm_Unlock(s), -1) << "not held";
    EXPECT_EQ(errno, EPERM);
}

TEST(SharedSection, UnlockFromAThreadThatDoesNotHoldTheLockLeavesTheHoldersFields) {
    void* s = shm_CreateDataModule("dm_TH", 8);
    ASSERT_EQ(shm_Lock(s), 0);
    std::thread([&] { EXPECT_EQ(shm_Unlock(s), -1); }).join();
    EXPECT_EQ(qvr::load_u32(qvr::section_bytes(s), qvr::kOffRecursion), 1u);
    EXPECT_EQ(shm_Unlock(s), 0);
}

TEST(SharedSection, LockRefusesWhatIsNoSection) {
    void* s = shm_CreateDataModule("dm_BM", 8);
    ASSERT_NE(s, nullptr);
    const auto bytes = qvr::section_bytes(s);
    qvr::store_u16(bytes, qvr::kOffMagic, 0x1234);
    errno = 1;
    EXPECT_EQ(shm_Lock(s), -1);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(shm_Unlock(s), -1);
    qvr::store_u16(bytes, qvr::kOffMagic, qvr::kSectionMagic);
    EXPECT_EQ(shm_Lock(nullptr), -1);
    int not_a_section = 0;
    EXPECT_EQ(shm_Lock(&not_a_section), -1);
    EXPECT_EQ(shm_LockMutex(&not_a_section), -1);
}

TEST(SharedSection, PlainSectionLocksThroughTheMutexTheHostMadeAndNeedsOne) {
    void* s = shm_CreateSection("dm_plain", 64);
    ASSERT_NE(s, nullptr);
    errno = 0;
    EXPECT_EQ(shm_Lock(s), -1);
    EXPECT_EQ(errno, ENOENT);
    mutex_for("dm_plain");
    EXPECT_EQ(shm_Lock(s), 0);
    EXPECT_EQ(shm_Unlock(s), 0);
    EXPECT_EQ(shm_LockMutex(s), 0);
    EXPECT_EQ(shm_UnlockMutex(s), 0);
}

TEST(SharedSection, LockExcludesThreadsAndTheCacheServesThemAll) {
    // Threads open twenty sections at once and count under their locks.
    for (int i = 0; i < 20; ++i)
        ASSERT_NE(shm_CreateDataModule(("dm_C" + std::to_string(i)).c_str(), 8), nullptr);
    std::vector<std::thread> threads;
    std::mutex seen_mutex;
    std::map<std::string, std::set<void*>> bases;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 500; ++round) {
                const std::string name = "dm_C" + std::to_string(round % 20);
                void* s = shm_OpenSection(name.c_str());
                ASSERT_NE(s, nullptr);
                {
                    std::lock_guard lock(seen_mutex);
                    bases[name].insert(s);
                }
                ASSERT_EQ(shm_Lock(s), 0);
                uint32_t v = 0;
                shm_ReadData(s, &v, 4, 0);
                ++v;
                shm_WriteData(s, &v, 4, 0);
                ASSERT_EQ(shm_Unlock(s), 0);
            }
        });
    }
    for (auto& th : threads) th.join();
    uint32_t total = 0;
    for (int i = 0; i < 20; ++i) {
        const std::string name = "dm_C" + std::to_string(i);
        EXPECT_EQ(bases[name].size(), 1u) << "one mapping per name";
        uint32_t v = 0;
        shm_ReadData(shm_OpenSection(name.c_str()), &v, 4, 0);
        total += v;
    }
    EXPECT_EQ(total, 8u * 500u);
}

TEST(SharedSection, SignallingASectionWithoutAreasWritesNothing) {
    void* plain = shm_CreateSection("dm_NA", 600);
    ASSERT_NE(plain, nullptr);
    mutex_for("dm_NA");
    const auto bytes = qvr::section_bytes(plain);
    // Host data where a header-relative area would have been.
    for (size_t i = 128; i < bytes.size(); ++i) bytes[i] = static_cast<std::byte>(i);
    const std::vector<std::byte> before(bytes.begin(), bytes.end());
    EXPECT_EQ(shm_SignalWaiters(plain, 0), 0);
    EXPECT_EQ(shm_SignalOthers(plain, 3), 0);
    EXPECT_EQ(shm_QueueRequest(plain, 5), -1);
    EXPECT_EQ(shm_ResetWaiters(plain, 0), -1);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), bytes.begin()));

    // A module whose offsets were overwritten to point past its end.
    void* module = shm_CreateDataModule("dm_BAD", 16);
    const auto mb = qvr::section_bytes(module);
    qvr::store_u32(mb, qvr::kOffRequestOffset, 0x7FFFFFF0);
    const std::vector<std::byte> module_before(mb.begin(), mb.end());
    EXPECT_EQ(shm_SignalWaiters(module, 0), 0);
    EXPECT_TRUE(std::equal(module_before.begin(), module_before.end(), mb.begin()));
}

TEST(SharedSection, SlotNumbersAbove10FailWithoutTakingTheLock) {
    void* s = shm_CreateDataModule("dm_SL", 8);
    std::mutex m;
    std::condition_variable cv;
    bool held = false, done = false;
    std::thread holder([&] {
        shm_Lock(s);
        std::unique_lock lock(m);
        held = true;
        cv.notify_all();
        cv.wait(lock, [&] { return done; });
        shm_Unlock(s);
    });
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return held; });
    }
    // Each of these would block on the held lock if it tried to take it.
    for (int slot : {11, 12, -1, 1000}) {
        errno = 0;
        EXPECT_EQ(shm_SignalWaiters(s, slot), -1);
        EXPECT_EQ(errno, platform::kErrorBadNetName);
        EXPECT_EQ(shm_ResetWaiters(s, slot), -1);
        EXPECT_EQ(shm_WaitSignal(s, slot), -1);
    }
    EXPECT_EQ(shm_WaitSignal(s, 0), -1);
    {
        std::lock_guard lock(m);
        done = true;
    }
    cv.notify_all();
    holder.join();
}

TEST(SharedSection, WaitWithoutAProcessSlotFailsAtOnce) {
    void* s = shm_CreateDataModule("dm_NS", 8);
    errno = 0;
    EXPECT_EQ(shm_WaitSignal(s, 1), -1);
    EXPECT_EQ(errno, EDEADLK);
}

namespace {
std::atomic<int> g_codes{0};
std::atomic<uint32_t> g_last{0};
int count_code(uint32_t code) {
    g_last = code;
    ++g_codes;
    return 0;
}

// Whether waiter slot n of a section has its waiting flag set.
bool waiting_in(void* section, int n) {
    if (shm_Lock(section) != 0) return false;
    bool waiting = false;
    const auto bytes = qvr::section_bytes(section);
    if (const auto areas = qvr::signal_areas(bytes))
        if (const auto slot = qvr::waiter_slot(*areas, n))
            waiting = qvr::load_u16(bytes, slot->offset + (slot->wide ? 4 : 2)) != 0;
    shm_Unlock(section);
    return waiting;
}

class SignalInProcess : public testing::Test {
  protected:
    void SetUp() override {
        g_codes = 0;
        g_last = 0;
        slot_Open(count_code);
        section_ = shm_CreateDataModule("dm_SG", 8);
        ASSERT_NE(section_, nullptr);
    }
    void TearDown() override { slot_Close(); }
    void* section_ = nullptr;
};
}  // namespace

TEST_F(SignalInProcess, PendingCountRisesWithMarksAndFallsWithSignalsAndResets) {
    const auto bytes = qvr::section_bytes(section_);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(shm_MarkPending(section_), 0);
    EXPECT_EQ(qvr::load_u16(bytes, qvr::kOffPending), 3);
    EXPECT_EQ(shm_SignalWaiters(section_, 2), 0);
    EXPECT_EQ(qvr::load_u16(bytes, qvr::kOffPending), 2);
    EXPECT_EQ(shm_ResetWaiters(section_, 0), 10);
    EXPECT_EQ(qvr::load_u16(bytes, qvr::kOffPending), 1);
    EXPECT_EQ(shm_SignalOthers(section_, 0), 0);
    EXPECT_EQ(shm_SignalOthers(section_, 0), 0);
    EXPECT_EQ(qvr::load_u16(bytes, qvr::kOffPending), 0) << "never below zero";
    EXPECT_EQ(shm_WaitIfPending(section_, 1), 0) << "nothing pending: no wait";
}

TEST_F(SignalInProcess, MissedSignalReturnsAtOnceAndIsConsumed) {
    EXPECT_EQ(shm_ResetWaiters(section_, 1), 0);
    EXPECT_EQ(shm_ResetWaiters(section_, 1), static_cast<int>(getpid())) << "previous owner";
    EXPECT_EQ(shm_SignalWaiters(section_, 1), 0);  // nobody waits yet
    EXPECT_EQ(g_codes.load(), 0);
    EXPECT_EQ(shm_WaitSignal(section_, 1), 0);  // returns at once
    // The next wait needs a real signal, sent once the waiter shows it waits (sent before,
    // it would count as missed and end the wait without a code).
    std::thread signaller([&] {
        while (!waiting_in(section_, 1)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        shm_SignalWaiters(section_, 1);
    });
    EXPECT_EQ(shm_WaitSignal(section_, 1), 0);
    signaller.join();
    EXPECT_EQ(g_last.load(), 32u);
}

TEST_F(SignalInProcess, QueuedRequestCodeIsDeliveredOnceAndCodesAreBounded) {
    errno = 0;
    EXPECT_EQ(shm_QueueRequest(section_, 0x10000), -1);
    EXPECT_EQ(errno, platform::kErrorInvalidParameter);
    ASSERT_EQ(shm_QueueRequest(section_, 4242), 0);
    ASSERT_EQ(shm_SignalWaiters(section_, 0), 0);
    EXPECT_EQ(g_last.load(), 4242u);
    EXPECT_EQ(g_codes.load(), 1);
    ASSERT_EQ(shm_SignalWaiters(section_, 0), 0);
    EXPECT_EQ(g_codes.load(), 1);
    EXPECT_EQ(shm_CancelRequest(section_), -1) << "nothing left to cancel";
    ASSERT_EQ(shm_QueueRequest(section_, 7), 0);
    EXPECT_EQ(shm_CancelRequest(section_), 0);
    ASSERT_EQ(shm_SignalWaiters(section_, 0), 0);
    EXPECT_EQ(g_codes.load(), 1);
}

TEST_F(SignalInProcess, SignalOthersPassesOverTheCallersOwnSlotsAndRequests) {
    ASSERT_EQ(shm_ResetWaiters(section_, 1), 0);
    ASSERT_EQ(shm_QueueRequest(section_, 99), 0);
    ASSERT_EQ(shm_SignalOthers(section_, 0), 0);
    EXPECT_EQ(g_codes.load(), 0);
    EXPECT_EQ(shm_WaitIfPending(section_, 1), 0);
    ASSERT_EQ(shm_SignalWaiters(section_, 0), 0);
    EXPECT_EQ(g_last.load(), 99u);
}

namespace {
void* g_section = nullptr;
std::mutex g_entered_mutex;
std::condition_variable g_entered_cv;
bool g_entered = false;
std::vector<uint32_t> g_handled;  // written inside the callback only

int locking_callback(uint32_t code) {
    if (code == 1) {
        {
            std::lock_guard lock(g_entered_mutex);
            g_entered = true;
        }
        g_entered_cv.notify_all();
        shm_Lock(g_section);  // waits for the main thread's lock
        shm_Unlock(g_section);
    }
    g_handled.push_back(code);
    return 0;
}
}  // namespace

TEST(SharedSection, SignallingTheOwnProcessWhileItsCallbackWaitsForTheLockDoesNotDeadlock) {
    g_section = shm_CreateDataModule("dm_DL", 8);
    ASSERT_NE(g_section, nullptr);
    slot_Open(locking_callback);
    ASSERT_EQ(shm_Lock(g_section), 0);
    const uint32_t one = 1;
    const int h = slot_OpenMailslot(("dm_" + std::to_string(getpid()) + ".slt").c_str());
    ASSERT_GE(h, 0);
    ASSERT_EQ(os_WriteExact(h, &one, 4), 4);
    slot_CloseMailslot(h);
    {
        std::unique_lock lock(g_entered_mutex);
        ASSERT_TRUE(g_entered_cv.wait_for(lock, std::chrono::seconds(20), [] { return g_entered; }));
    }
    ASSERT_EQ(shm_QueueRequest(g_section, 55), 0);
    EXPECT_EQ(shm_SignalWaiters(g_section, 0), 0) << "returns although the callback is busy";
    ASSERT_EQ(shm_Unlock(g_section), 0);
    for (int i = 0; i < 2000 && slot_LastCode() != 55; ++i) slot_Wait(10);
    slot_HoldCommands(1);
    EXPECT_EQ(g_handled, (std::vector<uint32_t>{1, 55}));
    slot_Close();
}

TEST_F(SignalInProcess, ClosingTheSlotEndsAWaitForASignalUnderWay) {
    ASSERT_EQ(shm_ResetWaiters(section_, 1), 0);
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> result{1};
        std::atomic<int> error{0};
        std::thread waiter([&] {
            result = shm_WaitSignal(section_, 1);
            error = errno;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 3));
        slot_Close();
        waiter.join();
        // Under way, close ended it; begun after the close, nothing could end it.
        EXPECT_TRUE(result == 0 || (result == -1 && error == EDEADLK)) << round;
        slot_Open(count_code);
    }
}
