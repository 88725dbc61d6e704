#include "platform/debug_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/debug_output_testing.h"

TEST(DebugOutput, CaptureReceivesTheTextAndCanBeRemoved) {
    std::vector<std::string> seen;
    auto previous = platform::set_debug_output_capture([&](std::string_view t) { seen.emplace_back(t); });
    EXPECT_FALSE(previous);
    platform::debug_output("OK - empty heap\n");
    auto mine = platform::set_debug_output_capture({});
    EXPECT_TRUE(mine);
    platform::debug_output("to syslog, not captured");
    EXPECT_EQ(seen, std::vector<std::string>{"OK - empty heap\n"});
}
