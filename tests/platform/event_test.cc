#include "platform/event.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/monotonic_clock.h"

TEST(Event, ManualResetStaysSetUntilReset) {
    auto e = platform::Event::create(false);
    ASSERT_TRUE(e);
    EXPECT_FALSE(e->is_set());
    e->set();
    e->set();
    EXPECT_TRUE(e->is_set());
    EXPECT_TRUE(e->wait(0));
    EXPECT_TRUE(e->is_set()) << "waiting does not consume it";
    e->reset();
    EXPECT_FALSE(e->is_set());
    EXPECT_FALSE(e->wait(20));
    auto initially = platform::Event::create(true);
    EXPECT_TRUE(initially->is_set());
}

TEST(Event, SetFromAnotherThreadWakesAWaiter) {
    auto e = platform::Event::create(false);
    std::thread setter([&] { e->set(); });
    EXPECT_TRUE(e->wait(-1));
    setter.join();
}

TEST(Event, WaitAnyGivesTheReadyIndexOrTimesOut) {
    auto a = platform::Event::create(false);
    auto b = platform::Event::create(false);
    const int fds[2] = {a->fd(), b->fd()};
    errno = 0;
    EXPECT_EQ(platform::wait_any_readable(fds, 10), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    b->set();
    EXPECT_EQ(platform::wait_any_readable(fds, -1), 1);
    a->set();
    EXPECT_EQ(platform::wait_any_readable(fds, 0), 0);
    const int bad[1] = {-5};
    EXPECT_EQ(platform::wait_any_readable(std::span<const int>(bad), 0), -1);
}

TEST(MonotonicClock, DeadlinesCountDownAndForeverNeverExpires) {
    const int64_t before = platform::monotonic_ns();
    EXPECT_LE(before, platform::monotonic_ns());
    auto forever = platform::Deadline::forever();
    EXPECT_FALSE(forever.expired());
    EXPECT_EQ(forever.remaining_ms(), -1);
    auto past = platform::Deadline::after_ms(0);
    EXPECT_TRUE(past.expired());
    EXPECT_EQ(past.remaining_ms(), 0);
    auto later = platform::Deadline::after_ms(60000);
    EXPECT_FALSE(later.expired());
    EXPECT_GT(later.remaining_ms(), 59000);
    EXPECT_LE(later.remaining_ms(), 60000);
}
