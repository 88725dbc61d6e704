// Scans of the real tolva_sc process: values and status words, notices, outputs,
// reconfiguration and a station that goes away and comes back.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/host_identity.h"
#include "qvr/host/alarm.h"
#include "qvr/host/chan.h"
#include "scanner_rig.h"

namespace {

using e2e::kStationOne;
using e2e::kStationTwo;
using e2e::ScannerRig;
using namespace std::chrono_literals;
using sim_controller::CommandRecord;

TEST(Scans, PublishValuesAndStatusWords) {
    ScannerRig rig;
    rig.network.set_value(kStationOne, "N7:0", 11);
    rig.network.set_value(kStationOne, "F8:1", 2.5);
    rig.network.set_value(kStationTwo, "N7:0", -3);
    rig.network.set_value(kStationOne, "B3:0/0", 1);
    ASSERT_EQ(rig.add_device(), 0);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_EQ(rig.host.value("A1", 1), 11.0f);
    EXPECT_EQ(rig.host.value("A1", 2), 2.5f);
    EXPECT_EQ(rig.host.value("A1", 3), -3.0f);
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(rig.host.status_word("A1", c) & 0xA0u, 0x80u) << c;
    EXPECT_EQ(rig.host.status_word("A2", 1) & 0xA1u, 0x01u);
    EXPECT_EQ(rig.host.status_word("A2", 2) & 0xA1u, 0x00u);

    rig.network.set_value(kStationOne, "N7:0", 12);
    rig.network.set_value(kStationOne, "B3:0/0", 0);
    rig.network.set_value(kStationOne, "B3:0/1", 1);
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_EQ(rig.host.value("A1", 1), 12.0f);
    EXPECT_EQ(rig.host.status_word("A2", 1) & 1u, 0u);
    EXPECT_EQ(rig.host.status_word("A2", 2) & 1u, 1u);
    EXPECT_GE(rig.device()->LastScanMs, 0);
    // The link's traffic reaches the statistics channels (RB, RP, TB, TP).
    for (int c : {3, 4, 8, 9}) EXPECT_GT(rig.host.value("A6", c), 0.0f) << c;
}

TEST(Scans, AlarmsWarningsAndEventsReachTheAlarmProgramAndTheLoggers) {
    ScannerRig rig;
    qvr::ChannelRecord& level = rig.spec.channels[0][0];
    level.head.Flags.set(qvr::AnalogFlag::HighAlarmEnable, true);
    level.head.Flags.set(qvr::AnalogFlag::HighWarningEnable, true);
    level.head.Flags.set(qvr::AnalogFlag::EventEnable, true);
    level.analog.HighAlarmLimit = 90;
    level.analog.HighAlarmDeadband = 90;
    level.analog.HighWarningLimit = 80;
    level.analog.HighEventLimit = 70;
    level.analog.LowEventLimit = -1000;
    level.analog.LowAlarmLimit = -1000;
    level.analog.LowWarningLimit = -1000;
    level.analog.HighAlarmPriority = 7;
    const int logger = rig.host.add_logger({.label = "TREND"});
    ASSERT_EQ(logger, 1);
    ASSERT_EQ(rig.add_device(), 0);
    ASSERT_TRUE(rig.host.set_logger_channel("A1", logger, 1, true));
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_TRUE(rig.host.alarms().alarms().empty());

    // 85: a high warning, and the event starts for the logger.
    rig.network.set_value(kStationOne, "N7:0", 85);
    ASSERT_TRUE(rig.scan(*scanner));
    auto messages = rig.host.alarms().alarms(1, 30s);
    ASSERT_EQ(messages.size(), 1u);
    const qvr::AlarmMessage warning = messages[0];
    EXPECT_EQ(qvr::form_of(warning.form), qvr::kFormWarning);
    EXPECT_EQ(qvr::priority_of(warning.form), 7u);
    EXPECT_NE(warning.form & qvr::kFormAnalog, 0u);
    EXPECT_NE(warning.form & qvr::kFormHighSide, 0u);
    EXPECT_EQ(std::string(warning.code, 2), "A1");
    EXPECT_EQ(warning.channel, 1);
    EXPECT_EQ(qvr::message_value(warning), 85.0f);
    EXPECT_EQ(std::string(warning.computer), platform::computer_name().substr(0, 15));
    EXPECT_EQ(std::string(warning.user), platform::user_name().substr(0, 32));
    EXPECT_TRUE(e2e::wait_until([] {
        const auto codes = sim_host::slot_codes();
        return std::count(codes.begin(), codes.end(), qvr::kLoggerEventCode + 1) == 1;
    }));

    // 95: the alarm, with its priority and without delay.
    rig.network.set_value(kStationOne, "N7:0", 95);
    ASSERT_TRUE(rig.scan(*scanner));
    messages = rig.host.alarms().alarms(2, 30s);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(qvr::form_of(messages[1].form), qvr::kFormAlarm);
    EXPECT_EQ(qvr::priority_of(messages[1].form), 7u);
    EXPECT_NE(messages[1].form & qvr::kFormHighSide, 0u);
    EXPECT_EQ(messages[1].delay, 0);
    EXPECT_EQ(qvr::message_value(messages[1]), 95.0f);
    EXPECT_EQ(rig.host.status_word("A1", 1) & 0xC06u, 0xC06u);  // alarm, warning, high, no delay

    // 50: the warning and the alarm end, so does the event.
    rig.network.set_value(kStationOne, "N7:0", 50);
    ASSERT_TRUE(rig.scan(*scanner));
    messages = rig.host.alarms().alarms(4, 30s);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(qvr::form_of(messages[2].form), qvr::kFormWarningEvent);
    EXPECT_EQ(qvr::form_of(messages[3].form), qvr::kFormEvent);
    EXPECT_EQ(qvr::message_value(messages[3]), 50.0f);
    EXPECT_EQ(rig.host.status_word("A1", 1) & 0xC08u, 0u);  // no alarm, warning or event
    EXPECT_TRUE(e2e::wait_until([] {
        const auto codes = sim_host::slot_codes();
        // The net count of the batch: one event ended.
        return std::count(codes.begin(), codes.end(), qvr::kLoggerEventCode - 1) == 1;
    })) << testing::PrintToString(sim_host::slot_codes());
}

bool is_write_to(const CommandRecord& c, uint16_t file, uint16_t element) {
    return c.is_write() && c.file == file && c.element == element;
}

TEST(Scans, OutputsAreWrittenOnlyWhenTheyChanged) {
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(rig.scan(*scanner));
    rig.network.clear_commands();

    const float setpoint = 12;
    ASSERT_EQ(chan_SetAnalogValues("A3", 1, 1, &setpoint), 0);
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_EQ(rig.network.value(kStationOne, "N7:10"), 12.0);
    auto commands = rig.network.commands();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](auto& c) { return c.is_write(); }), 1);
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](auto& c) { return is_write_to(c, 7, 10); }), 1);

    rig.network.clear_commands();
    ASSERT_TRUE(rig.scan(*scanner));
    commands = rig.network.commands();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](auto& c) { return c.is_write(); }), 0);

    const uint32_t valve_on = 1;
    ASSERT_EQ(chan_SetDigitalValues("A4", 2, 2, &valve_on), 0);
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_EQ(rig.network.value(kStationOne, "B3:1/3"), 1.0);
    EXPECT_EQ(rig.network.value(kStationOne, "B3:1/0"), 0.0);
    commands = rig.network.commands();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](auto& c) { return c.is_write(); }), 1);
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](auto& c) { return is_write_to(c, 3, 1); }), 1);
}

TEST(Scans, ReconfigurationTakesAnEditedChannelFile) {
    ScannerRig rig;
    rig.network.set_value(kStationOne, "N7:0", 1);
    rig.network.set_value(kStationOne, "N7:3", 33);
    ASSERT_EQ(rig.add_device(), 0);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(rig.scan(*scanner));
    ASSERT_EQ(rig.host.value("A1", 1), 1.0f);

    auto inputs = rig.spec.channels[0];
    inputs[0] = e2e::analog_input("LEVEL2", kStationOne, tolva::file_type::kInteger, 7, 3);
    inputs[2].head.Flags.set(qvr::AnalogFlag::Enable, false);
    rig.write_channel_file(qvr::ChannelKind::AI, inputs);
    const TimeStamp due = rig.device()->NextDue;
    rig.device()->NextDue = {};
    ASSERT_TRUE(rig.send(*scanner, kScanCommandReconfigure));
    EXPECT_TRUE(e2e::wait_until([&] { return rig.device()->NextDue.seconds != 0; }));
    EXPECT_GE(rig.device()->NextDue.seconds, due.seconds);
    EXPECT_EQ(rig.host.value("A1", 1), 33.0f);
    EXPECT_STREQ(chanrec_GetTag(rig.host.channel_record("A1", 1)), "LEVEL2");
    EXPECT_NE(rig.host.status_word("A1", 3) & 0x20u, 0u);  // disabled now
    EXPECT_EQ(rig.device()->Busy, 0);
}

// ReadBack lives in the device configuration, not in a channel file: a reconfiguration
// with no channel file edited takes it.
TEST(Scans, ReconfigurationTakesReadBackWithNoChannelFileEdited) {
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    const float setpoint = 12;
    ASSERT_EQ(chan_SetAnalogValues("A3", 1, 1, &setpoint), 0);
    ASSERT_TRUE(rig.scan(*scanner));
    ASSERT_EQ(rig.network.value(kStationOne, "N7:10"), 12.0);
    rig.network.set_value(kStationOne, "N7:10", 40);  // changed at the controller
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_EQ(rig.host.value("A3", 1), 12.0f);

    rig.config.Comm.ReadBack = 1;
    ASSERT_TRUE(rig.write_config());
    rig.device()->NextDue = {};
    ASSERT_TRUE(rig.send(*scanner, kScanCommandReconfigure));
    ASSERT_TRUE(e2e::wait_until([&] { return rig.device()->NextDue.seconds != 0; }));
    rig.network.set_value(kStationOne, "N7:10", 41);
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_EQ(rig.host.value("A3", 1), 41.0f);
    EXPECT_EQ(rig.status_text(), "");
}

TEST(Scans, AStationSwitchedOffFailsItsChannelsUntilItIsBack) {
    ScannerRig rig;
    rig.network.set_value(kStationTwo, "N7:0", 21);
    ASSERT_EQ(rig.add_device(), 0);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(rig.scan(*scanner));
    ASSERT_EQ(rig.host.value("A1", 3), 21.0f);

    rig.network.set_mode(kStationTwo, sim_controller::StationMode::silent);
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_NE(rig.host.status_word("A1", 3) & 0x20u, 0u);
    EXPECT_EQ(rig.host.status_word("A1", 1) & 0x20u, 0u);  // station 1 still answers
    EXPECT_EQ(rig.host.value("A1", 3), 21.0f);             // the last good value stays
    // The station's text is shown in turn with the others' (every 10 s).
    EXPECT_TRUE(e2e::wait_until(
        [&] { return rig.scan(*scanner) && rig.status_text().starts_with("S2 F7: "); }, 60s))
        << rig.status_text();

    rig.network.set_mode(kStationTwo, sim_controller::StationMode::normal);
    rig.network.set_value(kStationTwo, "N7:0", 22);
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_EQ(rig.host.status_word("A1", 3) & 0x20u, 0u);
    EXPECT_EQ(rig.host.value("A1", 3), 22.0f);
    EXPECT_TRUE(e2e::wait_until([&] { return rig.scan(*scanner) && rig.status_text().empty(); }, 60s))
        << rig.status_text();
}

}  // namespace
