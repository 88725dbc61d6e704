#include "platform/lock_turn.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/file_io.h"
#include "platform/last_error.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

class LockTurnTest : public ::testing::Test {
  protected:
    // Takes the lock of the file as every taker does: the turn first, then the lock.
    platform::UniqueFd take(const platform::Deadline& deadline) {
        platform::LockTurn turn = platform::LockTurn::take(dir_.path().string(), deadline);
        platform::UniqueFd fd = platform::open_file(lock_.string(), O_RDWR | O_CREAT);
        if (!fd || platform::wait_for_flock(fd.get(), deadline) != 0) return {};
        return fd;
    }

    qvr_test::TempDir dir_;
    std::filesystem::path lock_ = dir_ / "lock";
};

// Another taker holds the lock for a while and takes it again the moment it gives it free:
// polling alone finds it held nearly every time. While this waiter holds the turn, that
// taker finishes at most the round it is in; then the lock is this waiter's.
TEST_F(LockTurnTest, WhileAWaiterHoldsTheTurnNobodyElseTakesTheLock) {
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread busy([&] {
        while (!stop) {
            platform::UniqueFd held = take(platform::Deadline::after_ms(60000));
            if (!held) break;
            ++rounds;
            std::this_thread::sleep_for(20ms);
        }
    });
    while (rounds == 0) std::this_thread::sleep_for(1ms);
    for (int i = 0; i < 5; ++i) {
        const auto deadline = platform::Deadline::after_ms(60000);
        platform::LockTurn turn = platform::LockTurn::take(dir_.path().string(), deadline);
        ASSERT_TRUE(turn.held());
        const int before = rounds;
        platform::UniqueFd mine = platform::open_file(lock_.string(), O_RDWR);
        ASSERT_EQ(platform::wait_for_flock(mine.get(), deadline), 0) << platform::last_error();
        EXPECT_LE(rounds - before, 1) << "round " << i;
        turn.release();
    }
    stop = true;
    busy.join();
}

TEST_F(LockTurnTest, ALockHeldElsewhereRunsOutWithTimeout) {
    platform::UniqueFd other = platform::open_file(lock_.string(), O_RDWR | O_CREAT);
    ASSERT_EQ(::flock(other.get(), LOCK_EX), 0);
    platform::UniqueFd fd = platform::open_file(lock_.string(), O_RDWR);
    EXPECT_EQ(platform::wait_for_flock(fd.get(), platform::Deadline::after_ms(50)), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorTimeout);
    other.reset();
    EXPECT_EQ(platform::wait_for_flock(fd.get(), platform::Deadline::after_ms(50)), 0);
}

// The folder of the turn locked by this very thread (a save that holds it edits a file in it):
// the turn is given up after a while, never the lock.
TEST_F(LockTurnTest, ATurnThatCannotBeHadIsGivenUpAndTheLockStillTaken) {
    platform::UniqueFd folder = platform::open_file(dir_.path().string(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(folder.get(), LOCK_EX), 0);
    const platform::LockTurn turn = platform::LockTurn::take(dir_.path().string(), platform::Deadline::after_ms(60000));
    EXPECT_FALSE(turn.held());
    platform::UniqueFd fd = platform::open_file(lock_.string(), O_RDWR | O_CREAT);
    EXPECT_EQ(platform::wait_for_flock(fd.get(), platform::Deadline::after_ms(10000)), 0);
    EXPECT_FALSE(platform::LockTurn::take((dir_ / "missing").string(), platform::Deadline::after_ms(1000)).held());
}

}  // namespace
