// Writers and watchers in separate processes, and a writer killed in the middle of a batch.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "host/runtime_host.h"
#include "qvr/host/alarm.h"
#include "qvr/host/chan.h"
#include "qvr/host/device_modules.h"
#include "support/child_process.h"

using namespace std::chrono_literals;
using qvr_test::ChildProcess;

namespace {
constexpr auto kLong = 30s;

ChildProcess helper(std::vector<std::string> args) {
    return ChildProcess::spawn(qvr_test::bin_path("chan_test_helper"), args, {}, true);
}
}  // namespace

TEST(ChanMultiProcess, AWatcherInAnotherProcessIsWokenThroughItsSlot) {
    sim_host::RuntimeHost host;
    auto watcher = helper({"watch", "MB", "2"});
    ASSERT_NE(watcher.read_stdout(kLong, "watching").find("watching"), std::string::npos);
    const uint32_t one = 1;
    ASSERT_EQ(chan_SetDigitalValues("MB", 1, 1, &one), 0);
    EXPECT_NE(watcher.read_stdout(kLong, "woken").find("woken status=1"), std::string::npos);
    EXPECT_EQ(watcher.wait_exit_code(kLong), 0);
}

TEST(ChanMultiProcess, AWriterInAnotherProcessPostsToThisHost) {
    sim_host::RuntimeHost host;
    host.channel_record("UA", 2)->head.Flags.set(qvr::AnalogFlag::HighAlarmEnable, true);
    host.channel_record("UA", 2)->analog.HighAlarmLimit = 10;
    auto writer = helper({"write-analog", "UA", "2", "55.5"});
    EXPECT_EQ(writer.wait_exit_code(kLong), 0);
    EXPECT_EQ(host.value("UA", 2), 55.5f);
    const auto m = host.alarms().alarms(1, kLong);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].channel, 2);
    EXPECT_EQ(qvr::message_value(m[0]), 55.5f);
}

TEST(ChanMultiProcess, AWriterKilledInTheMiddleOfABatchLeavesNoLockAndNoCounts) {
    sim_host::RuntimeHost host;
    host.add_logger({"stand", "L1"});
    host.set_logger_channel("MB", 1, 1, true);
    host.channel_record("MB", 1)->head.Flags.set(qvr::DigitalFlag::EventEnable, true);
    host.channel_record("MB", 1)->head.Flags.set(qvr::DigitalFlag::EventState, true);
    auto holder = helper({"hold-batch", "MB"});  // holds the data and event module locks
    ASSERT_NE(holder.read_stdout(kLong, "holding").find("holding"), std::string::npos);
    holder.kill(SIGKILL);
    ASSERT_TRUE(holder.wait(kLong));
    sim_host::clear_slot_codes();
    const uint32_t one = 1;
    ASSERT_EQ(chan_SetDigitalValues("MB", 1, 1, &one), 0);
    EXPECT_EQ(host.status_word("MB", 1), 0x19u);
    EXPECT_EQ(sim_host::slot_codes(), std::vector<uint32_t>{qvr::kLoggerEventCode + 1})
        << "only this batch's trigger is counted";
}
