#include "platform/last_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

TEST(LastError, FailSetsErrnoAndLastErrorTogether) {
    errno = 0;
    EXPECT_EQ(platform::fail(platform::kErrorBadNetName), -1);
    EXPECT_EQ(errno, 67);
    EXPECT_EQ(platform::last_error(), 67);
}

TEST(LastError, IsPerThread) {
    platform::set_last_error(5);
    int seen_in_other = -1;
    std::thread([&] { seen_in_other = platform::last_error(); }).join();
    EXPECT_EQ(seen_in_other, 0);
    EXPECT_EQ(platform::last_error(), 5);
}

TEST(LastError, FailFromErrnoKeepsTheLinuxNumber) {
    errno = EACCES;
    EXPECT_EQ(platform::fail_from_errno(), -1);
    EXPECT_EQ(platform::last_error(), EACCES);
}
