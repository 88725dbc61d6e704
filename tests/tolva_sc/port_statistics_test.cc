// The port-statistics channels in a real statistics module of the host stand-in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "host/runtime_host.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/section_layout.h"
#include "tolva_sc/port_statistics.h"
#include "tolva_sc/scanner_device.h"

namespace {

namespace counter = tolva::stats_counter;
using sim_host::RuntimeHost;

struct PortStatistics : testing::Test {
    // A device whose statistics module "A6" has `channels` channels.
    DeviceRecord* add_device(int channels, uint16_t number = 1, uint8_t attached = 1) {
        sim_host::DeviceSpec spec;
        spec.number = number;
        spec.channels[0] = {sim_host::analog_input("AI1")};
        spec.codes = {"A1", "", "", "", ""};
        spec.stats_channels.assign(static_cast<size_t>(channels), qvr::ChannelRecord{});
        const int index = host.add_device(spec);
        DeviceRecord* device = host.device(index);
        device->Attached = attached;
        return device;
    }
    bool state(int channel) { return (host.status_word("A6", channel) & 1u) != 0; }

    RuntimeHost host;
    tolva::PortStatistics stats;
};

TEST_F(PortStatistics, TwentyFiveChannelsServeTwoDevicesWithTheirOwnRecords) {
    DeviceRecord* device = add_device(25);
    ASSERT_EQ(stats.setup(*device, "A6"), 0);
    EXPECT_EQ(stats.device_count(), 2);
    struct Expect {
        int channel;
        const char* tag;
        const char* description;
        qvr::ChannelKind kind;
    };
    const Expect expected[] = {
        {1, "TOLVA_1_ST", "TOLVA_1_STATUS", qvr::ChannelKind::DO},
        {2, "TOLVA_1_RS", "TOLVA_1_RESET COUNTS", qvr::ChannelKind::DO},
        {6, "TOLVA_1_RE", "TOLVA_1_RECEIVE COMM ERRORS", qvr::ChannelKind::AO},
        {11, "TOLVA_1_001_ST", "TOLVA_1_001_STATUS", qvr::ChannelKind::DO},
        {20, "TOLVA_1_001_TE", "TOLVA_1_001_TRANSMIT ERRORS", qvr::ChannelKind::AO},
    };
    for (const Expect& e : expected) {
        const qvr::ChannelRecord* r = host.channel_record("A6", e.channel);
        ASSERT_NE(r, nullptr);
        EXPECT_STREQ(chanrec_GetTag(r), e.tag);
        EXPECT_STREQ(chanrec_GetDescription(r), e.description);
        EXPECT_EQ(r->head.Type, e.kind);
        EXPECT_TRUE(r->head.Flags.test(qvr::AnalogFlag::Enable));
    }
    const qvr::ChannelRecord* st = host.channel_record("A6", 1);
    EXPECT_STREQ(st->digital.HighStateText, "ENABLED");
    EXPECT_STREQ(st->digital.LowStateText, "DISABLED");
    EXPECT_STREQ(chanrec_GetUnits(host.channel_record("A6", 3)), "BYTES");
    EXPECT_STREQ(chanrec_GetUnits(host.channel_record("A6", 7)), "ERRORS");
    // The 21st to 25th channels are left alone.
    EXPECT_STREQ(chanrec_GetTag(host.channel_record("A6", 21)), "");

    stats.publish();
    EXPECT_TRUE(state(1));    // this device's scanner is attached
    EXPECT_FALSE(state(11));  // the other device has not been heard of
}

TEST_F(PortStatistics, TooFewChannelsOrTheWrongModuleSetNothingUp) {
    DeviceRecord* device = add_device(9);
    EXPECT_EQ(stats.setup(*device, "A6"), -1);
    EXPECT_FALSE(stats.is_set_up());
    EXPECT_EQ(stats.setup(*device, "ZZ"), -1);
    // A digital module (4 bytes per channel) cannot carry the counters.
    EXPECT_EQ(stats.setup(*device, "SY"), -1);
    stats.add(0, 1, counter::kReceiveBytes);
    stats.publish();
    EXPECT_EQ(stats.counter(0, counter::kReceiveBytes), 0u);
}

TEST_F(PortStatistics, TagsWithoutDeviceNumberOrIndex) {
    DeviceRecord* device = add_device(20, 0);
    ASSERT_EQ(stats.setup(*device, "A6"), 0);
    EXPECT_STREQ(chanrec_GetTag(host.channel_record("A6", 1)), "TOLVA_ST");
    EXPECT_STREQ(chanrec_GetDescription(host.channel_record("A6", 3)), "TOLVA_RECEIVE BYTES");
    EXPECT_STREQ(chanrec_GetTag(host.channel_record("A6", 11)), "TOLVA_001_ST");

    std::array<qvr::ChannelRecord, 10> records;
    tolva::build_stats_records("Longtypename", 0, 0, "COM7", records);
    EXPECT_STREQ(chanrec_GetTag(&records[0]), "LONGTYPENAME_ST");
    EXPECT_STREQ(records[0].digital.HighStateText, "ENABLED COM7");
    EXPECT_STREQ(records[0].digital.LowStateText, "DISABLED COM7");
    EXPECT_STREQ(records[1].digital.HighStateText, "RESET");  // only the online channel names the port
}

TEST_F(PortStatistics, CountsOfAnotherDeviceAddToTheTotalsOfDeviceZero) {
    DeviceRecord* device = add_device(20);
    ASSERT_EQ(stats.setup(*device, "A6"), 0);
    stats.publish();
    stats.add(1, 5, counter::kReceiveBytes);
    stats.add(0, 2, counter::kReceiveBytes);
    stats.publish();
    EXPECT_EQ(host.value("A6", 3), 7.0f);   // device 0: RB
    EXPECT_EQ(host.value("A6", 13), 5.0f);  // device 1: RB
    EXPECT_TRUE(state(11));                 // counting sets device 1 online
}

TEST_F(PortStatistics, AResetRequestZeroesTheCountsButNotTheOnlineState) {
    DeviceRecord* device = add_device(20);
    ASSERT_EQ(stats.setup(*device, "A6"), 0);
    stats.add(1, 9, counter::kTransmitPackets);
    stats.add(1, 4, counter::kReceiveTimeouts);
    stats.publish();
    ASSERT_EQ(host.value("A6", 19), 9.0f);

    // The operator sets device 1's RS channel; the next publish serves it even with no new count.
    host.set_status_word("A6", 12, host.status_word("A6", 12) | 1u);
    stats.publish();
    EXPECT_EQ(stats.counter(1, counter::kTransmitPackets), 0u);
    EXPECT_EQ(stats.counter(1, counter::kReceiveTimeouts), 0u);
    EXPECT_EQ(stats.counter(1, counter::kOnline), 1u);
    EXPECT_EQ(host.value("A6", 19), 0.0f);
    EXPECT_TRUE(state(11));
    EXPECT_FALSE(state(12));  // RS back to 0
    // Device 0's totals are its own to reset.
    EXPECT_EQ(stats.counter(0, counter::kTransmitPackets), 9u);
    EXPECT_EQ(host.value("A6", 9), 9.0f);
}

TEST_F(PortStatistics, LinkCountsGoToDeviceZeroByKind) {
    DeviceRecord* device = add_device(10);
    ASSERT_EQ(stats.setup(*device, "A6"), 0);
    tolva::LinkCounters d;
    d.received_bytes = 100;
    d.received_frames = 4;
    d.reply_timeouts = 1;
    d.ack_timeouts = 2;
    d.bad_dle_pairs = 3;
    d.length_errors = 4;
    d.bcc_errors = 5;
    d.duplicates = 50;
    d.sent_bytes = 60;
    d.sent_frames = 6;
    d.enquiries_sent = 70;
    d.naks_sent = 80;
    d.naks_received = 7;
    d.write_failures = 8;
    stats.add_link_counts(d);
    stats.publish();
    EXPECT_TRUE(state(1));
    const float expected[] = {100, 4, 3, 7, 5, 60, 6, 15};  // RB RP RT RE RC TB TP TE
    for (int c = 3; c <= 10; ++c) EXPECT_EQ(host.value("A6", c), expected[c - 3]) << "channel " << c;
}

TEST_F(PortStatistics, ShutDownTakesEveryDeviceOffline) {
    DeviceRecord* device = add_device(20);
    ASSERT_EQ(stats.setup(*device, "A6"), 0);
    stats.add(1, 1, counter::kReceivePackets);
    stats.publish();
    ASSERT_TRUE(state(1));
    ASSERT_TRUE(state(11));
    stats.shutdown();
    EXPECT_FALSE(stats.is_set_up());
    EXPECT_FALSE(state(1));
    EXPECT_FALSE(state(11));
    EXPECT_EQ(host.value("A6", 4), 1.0f);  // counts stay as last published
}

TEST(PortStatisticsTable, ADeviceTableShortOfTheWholeCodeArrayGivesNoDeviceStatistics) {
    // A table of count x 790 data bytes plus 3: the record-size check of count x 790 passes,
    // but the code array ends one byte beyond the data.
    sim_host::create_module(qvr::kDeviceTableName, 4 + 2 * 790 - 1);
    RuntimeHost small(sim_host::TableOptions{.device_capacity = 2, .standard_processes = false});
    sim_host::DeviceSpec a;
    a.codes = {"A1", "", "", "", ""};
    a.channels[0] = {sim_host::analog_input("AI1")};
    a.stats_channels.assign(10, qvr::ChannelRecord{});
    sim_host::DeviceSpec b = a;
    b.number = 2;
    b.codes = {"B1", "", "", "", ""};
    b.stats_code = "B6";
    ASSERT_EQ(small.add_device(a), 0);
    ASSERT_EQ(small.add_device(b), 1);
    tolva::CommandState commands;
    tolva::ScannerDevice first(*small.device(0), 0, commands, {});
    first.setup_port_statistics();
    EXPECT_FALSE(first.statistics().is_set_up()) << "its code lies inside, but the array does not";
    tolva::ScannerDevice second(*small.device(1), 1, commands, {});
    second.setup_port_statistics();
    EXPECT_FALSE(second.statistics().is_set_up());
}

}  // namespace
