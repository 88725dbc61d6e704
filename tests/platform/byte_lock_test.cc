#include "platform/byte_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "platform/file_io.h"
#include "platform/last_error.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using qvr_test::ChildProcess;

class ByteLockTest : public ::testing::Test {
  protected:
    void SetUp() override { qvr_test::write_file(path_, std::string(4096, 'x')); }

    platform::UniqueFd open_rw() { return platform::open_file(path_.string(), O_RDWR); }

    ChildProcess hold_in_child(std::uint64_t offset) {
        ChildProcess child = ChildProcess::spawn(qvr_test::bin_path("byte_lock_client"),
                                                 {"hold", path_.string(), std::to_string(offset)}, {}, true);
        EXPECT_NE(child.read_stdout(10s, "locked\n").find("locked"), std::string::npos);
        return child;
    }

    std::string probe_in_child(std::uint64_t offset, std::uint64_t length) {
        ChildProcess child = ChildProcess::spawn(
            qvr_test::bin_path("byte_lock_client"),
            {"probe", path_.string(), std::to_string(offset), std::to_string(length)}, {}, true);
        std::string out = child.read_stdout(10s, "\n");
        EXPECT_EQ(child.wait_exit_code(10s), 0);
        return out;
    }

    qvr_test::TempDir dir_;
    std::filesystem::path path_ = dir_ / "run.qdl";
};

TEST_F(ByteLockTest, AnotherProcessHoldingTheByteIsSeenByEveryProbeOverlappingIt) {
    ChildProcess writer = hold_in_child(1000);
    platform::UniqueFd fd = open_rw();
    ASSERT_TRUE(fd);

    struct Case {
        std::uint64_t offset, length;
        bool overlaps;
    };
    for (const Case c : {Case{1000, 1, true}, Case{0, 1001, true}, Case{900, 200, true}, Case{0, 1000, false},
                         Case{1001, 50, false}, Case{1000, 0, false}}) {
        SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.length));
        if (c.overlaps) {
            EXPECT_EQ(platform::probe_range(fd.get(), c.offset, c.length), -1);
            EXPECT_EQ(platform::last_error(), platform::kErrorLockViolation);
            EXPECT_EQ(errno, platform::kErrorLockViolation);
        } else {
            EXPECT_EQ(platform::probe_range(fd.get(), c.offset, c.length), 0);
        }
    }
    EXPECT_EQ(platform::lock_byte(fd.get(), 1000), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorLockViolation);
    EXPECT_EQ(platform::lock_byte(fd.get(), 1001), 0);
}

TEST_F(ByteLockTest, TheLockEndsWithTheProcessThatHeldIt) {
    platform::UniqueFd fd = open_rw();
    {
        ChildProcess writer = hold_in_child(64);
        ASSERT_EQ(platform::probe_range(fd.get(), 0, 4096), -1);
        writer.kill(SIGKILL);
        ASSERT_TRUE(writer.wait(10s));
    }
    EXPECT_EQ(platform::probe_range(fd.get(), 0, 4096), 0);
    EXPECT_EQ(platform::lock_byte(fd.get(), 64), 0);
}

TEST_F(ByteLockTest, AProcessSeesTheLockOfThisOneUntilItIsGivenFree) {
    platform::UniqueFd fd = open_rw();
    platform::ByteLock lock;
    ASSERT_EQ(lock.lock(fd.get(), 500), 0);
    EXPECT_EQ(probe_in_child(0, 4096), "result 33\n");
    EXPECT_EQ(probe_in_child(501, 10), "result 0\n");
    ASSERT_EQ(lock.unlock(), 0);
    EXPECT_FALSE(lock.held());
    EXPECT_EQ(probe_in_child(0, 4096), "result 0\n");
}

// The store reads through a second descriptor of its own: its own lock must not block it,
// and closing that descriptor must not free the lock (a classic fcntl lock would do both).
TEST_F(ByteLockTest, OwnDescriptionNeverCountsAndAnotherDescriptorClosingKeepsTheLock) {
    platform::UniqueFd main_handle = open_rw();
    ASSERT_EQ(platform::lock_byte(main_handle.get(), 2000), 0);
    EXPECT_EQ(platform::lock_byte(main_handle.get(), 2000), 0);  // again: same description
    EXPECT_EQ(platform::probe_range(main_handle.get(), 0, 4096), 0);
    {
        platform::UniqueFd read_handle = open_rw();
        EXPECT_EQ(platform::probe_range(read_handle.get(), 1990, 20), -1);
        EXPECT_EQ(platform::last_error(), platform::kErrorLockViolation);
    }
    EXPECT_EQ(probe_in_child(2000, 1), "result 33\n");
}

TEST_F(ByteLockTest, MovingTheByteLockAlongTakesTheNewByteBeforeGivingTheOldOneFree) {
    platform::UniqueFd fd = open_rw();
    platform::ByteLock lock;
    ASSERT_EQ(lock.lock(fd.get(), 100), 0);
    ASSERT_EQ(lock.lock(fd.get(), 200), 0);
    EXPECT_EQ(lock.offset(), 200u);
    EXPECT_EQ(probe_in_child(100, 1), "result 0\n");
    EXPECT_EQ(probe_in_child(200, 1), "result 33\n");

    platform::ByteLock moved = std::move(lock);
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(moved.held());
    moved = platform::ByteLock{};
    EXPECT_EQ(probe_in_child(200, 1), "result 0\n");
}

TEST_F(ByteLockTest, BadArgumentsAreRefused) {
    EXPECT_EQ(platform::lock_byte(-1, 0), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(platform::probe_range(-1, 0, 1), -1);
    platform::UniqueFd fd = open_rw();
    EXPECT_EQ(platform::probe_range(fd.get(), UINT64_MAX - 1, 10), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_EQ(platform::lock_byte(fd.get(), UINT64_MAX), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
}

}  // namespace
