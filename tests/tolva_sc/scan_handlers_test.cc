// The kind handlers against the controller stand-in: inputs read and converted, outputs
// written as changed runs, read first, read back, and what reaches the controller's data
// table (checked in the stand-in's command log and tables).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pccc_test_support.h"
#include "tolva_sc/kind_handlers.h"

namespace {

using pccc_test::channel;
using pccc_test::hw;
using sim_controller::CommandRecord;
using sim_controller::StationMode;
namespace kind = tolva::kind;

constexpr uint32_t kFailed = 0x20;

struct Scans : testing::Test {
    Scans() {
        network.add_station(1, 0x4E);
        network.add_file(1, 7, 7, 50);
        network.add_file(1, 4, 4, 20);
        network.add_file(1, 3, 3, 10);
        network.add_file(1, 8, 8, 10);
        network.add_file(1, 0, 0, 8);
        network.add_file(1, 1, 1, 8);
        network.set_directory(1, {{0, 4, 0}, {2, 4, 2}});
        network.add_station(2, 0x49);
        network.add_file(2, 8, 8, 10);
        network.add_file(2, 7, 7, 10);
    }

    // Initialises `k` with `records` and sizes the value arrays.
    void init(int k, std::vector<qvr::ChannelRecord> records) {
        auto& r = records_[static_cast<size_t>(k)];
        r = std::move(records);
        status_[static_cast<size_t>(k)].assign(r.size(), 0);
        values_[static_cast<size_t>(k)].assign(tolva::kind_is_digital(k) ? 0 : r.size(), 0.0f);
        ASSERT_EQ(handlers.init(k, config, r), 0);
    }
    void scan(int k) {
        const auto i = static_cast<size_t>(k);
        ASSERT_EQ(handlers.scan(k, config, records_[i], status_[i], values_[i]), 0);
    }
    std::vector<uint32_t>& status(int k) { return status_[static_cast<size_t>(k)]; }
    std::vector<float>& values(int k) { return values_[static_cast<size_t>(k)]; }
    double controller(uint8_t station, const char* address) {
        return network.value(station, address).value_or(-999);
    }

    std::vector<CommandRecord> writes() const {
        std::vector<CommandRecord> w;
        for (const auto& c : network.commands()) {
            if (c.is_write()) w.push_back(c);
        }
        return w;
    }
    size_t reads() const {
        size_t n = 0;
        for (const auto& c : network.commands()) n += c.is_read() && c.function != 0xA1 ? 1 : 0;
        return n;
    }

    sim_controller::ControllerNetwork network;
    pccc_test::NetworkLink link{network};
    tolva::PcccCommands commands{link, [] { return true; }};
    int64_t clock = 0;
    tolva::StationTable table{commands, [this] { return clock; }, [](std::string_view) {}};
    tolva::KindHandlers handlers{commands, table};
    tolva::DeviceConfigRecord config{};
    std::array<std::vector<qvr::ChannelRecord>, 5> records_;
    std::array<std::vector<uint32_t>, 5> status_;
    std::array<std::vector<float>, 5> values_;
};

TEST_F(Scans, InputsTakeTheControllersValuesByFileType) {
    network.set_value(1, "N7:3", -12);
    network.set_value(1, "T4:2.ACC", 345);
    network.set_value(1, "F8:1", 2.5);
    network.set_value(2, "F8:1", -7.25);  // kept high word first by this processor
    network.set_value(1, "I1:3", 1234);   // slot 1 starts at input word 2
    init(kind::kAI,
         {channel(0, hw(1, 7, 7, 3)), channel(0, hw(1, 4, 4, 2, -1, 1)), channel(0, hw(1, 8, 8, 1)),
          channel(0, hw(2, 8, 8, 1)), channel(0, hw(1, 1, 1, 0, 1, -1, 1)), channel(0, hw(1, 7, 5, 0))});
    scan(kind::kAI);
    EXPECT_EQ(values(kind::kAI)[0], -12.0f);
    EXPECT_EQ(values(kind::kAI)[1], 345.0f);
    EXPECT_EQ(values(kind::kAI)[2], 2.5f);
    EXPECT_EQ(values(kind::kAI)[3], -7.25f);
    EXPECT_EQ(values(kind::kAI)[4], 1234.0f);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(status(kind::kAI)[static_cast<size_t>(i)] & kFailed, 0u) << i;
    EXPECT_NE(status(kind::kAI)[5] & kFailed, 0u);  // N5: never linked
}

TEST_F(Scans, DigitalInputsSetBitZeroAndKeepTheOtherBits) {
    network.set_value(1, "B3:1/4", 1);
    network.set_value(1, "T4:0/DN", 1);
    init(kind::kDI,
         {channel(1, hw(1, 3, 3, 0, 20)), channel(1, hw(1, 3, 3, 0, 21)), channel(1, hw(1, 4, 4, 0, -1, 2))});
    status(kind::kDI) = {0x1000, 0x1001, 0x20};
    scan(kind::kDI);
    EXPECT_EQ(status(kind::kDI)[0], 0x1001u);
    EXPECT_EQ(status(kind::kDI)[1], 0x1000u);
    EXPECT_EQ(status(kind::kDI)[2], 0x1u);
}

TEST_F(Scans, ReadErrorsAndShortRepliesFailTheirChannels) {
    network.protect_file(1, 7);
    network.set_mode(2, StationMode::short_reply, 2);
    init(kind::kAI, {channel(0, hw(1, 7, 7, 0)), channel(0, hw(2, 7, 7, 0)), channel(0, hw(1, 8, 8, 0))});
    scan(kind::kAI);
    EXPECT_NE(status(kind::kAI)[0] & kFailed, 0u);
    EXPECT_NE(status(kind::kAI)[1] & kFailed, 0u);
    EXPECT_EQ(status(kind::kAI)[2] & kFailed, 0u);
    EXPECT_EQ(table.find(1)->text(), "S1 F7: Remote 0x6");
    EXPECT_EQ(table.find(2)->text(), "S2 F7: App 0x4");
}

TEST_F(Scans, AWriteOfATimerPresetKeepsTheRunningAccumulator) {
    network.set_value(1, "T4:0.PRE", 10);
    network.set_value(1, "T4:0.ACC", 77);
    init(kind::kAO, {channel(2, hw(1, 4, 4, 0, -1, 0))});
    values(kind::kAO)[0] = 50;
    scan(kind::kAO);
    EXPECT_EQ(controller(1, "T4:0.PRE"), 50);
    EXPECT_EQ(controller(1, "T4:0.ACC"), 77);
    // Only the preset word goes out, addressed to its sub-element.
    const auto w = writes();
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].function, 0xAA);
    EXPECT_EQ(w[0].element, 0);
    EXPECT_EQ(w[0].sub_element, 1);
    EXPECT_EQ(w[0].data, (pccc_test::Bytes{50, 0}));
}

TEST_F(Scans, OnlyTheChangedRunsGoOnTheWire) {
    std::vector<qvr::ChannelRecord> records;
    for (int16_t e = 0; e < 10; ++e) records.push_back(channel(2, hw(1, 7, 7, e)));
    init(kind::kAO, records);
    scan(kind::kAO);  // all zero, as the controller: nothing to write
    EXPECT_TRUE(writes().empty());

    values(kind::kAO)[2] = 5;
    values(kind::kAO)[3] = 6;
    values(kind::kAO)[7] = -1.5f;
    network.clear_commands();
    scan(kind::kAO);
    const auto w = writes();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0].element, 2);
    EXPECT_EQ(w[0].size, 4);
    EXPECT_EQ(w[0].data, (pccc_test::Bytes{5, 0, 6, 0}));
    EXPECT_EQ(w[1].element, 7);
    EXPECT_EQ(w[1].data, (pccc_test::Bytes{0xFF, 0xFF}));
    EXPECT_EQ(reads(), 0u);
    EXPECT_EQ(controller(1, "N7:7"), -1);
    EXPECT_EQ(values(kind::kAO)[7], -1.0f);  // what the controller now holds

    network.clear_commands();
    scan(kind::kAO);
    EXPECT_TRUE(network.commands().empty());  // unchanged, no ReadBack: nothing at all
}

TEST_F(Scans, ReadBackReadsUnchangedBlocksAndBringsTheControllersValues) {
    config.Comm.ReadBack = 1;
    init(kind::kAO, {channel(2, hw(1, 7, 7, 0))});
    scan(kind::kAO);
    network.set_value(1, "N7:0", 9);
    network.clear_commands();
    scan(kind::kAO);
    EXPECT_EQ(reads(), 1u);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(values(kind::kAO)[0], 9.0f);
}

TEST_F(Scans, ReadFirstReadsTheOutputsOnTheFirstScanInsteadOfWritingThem) {
    config.Comm.ReadFirst = 1;
    network.set_value(1, "N7:0", 7);
    init(kind::kAO, {channel(2, hw(1, 7, 7, 0))});
    values(kind::kAO)[0] = 5;
    scan(kind::kAO);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(reads(), 1u);  // the read instead of the write, and no other
    EXPECT_EQ(values(kind::kAO)[0], 7.0f);
    EXPECT_EQ(controller(1, "N7:0"), 7);

    values(kind::kAO)[0] = 5;
    scan(kind::kAO);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(controller(1, "N7:0"), 5);
}

TEST_F(Scans, WithoutReadFirstTheFirstScanWritesWhatDiffersFromTheController) {
    network.set_value(1, "N7:0", 7);
    network.set_value(1, "N7:1", 3);
    init(kind::kAO, {channel(2, hw(1, 7, 7, 0)), channel(2, hw(1, 7, 7, 1))});
    values(kind::kAO) = {0, 3};
    scan(kind::kAO);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0].element, 0);
    EXPECT_EQ(controller(1, "N7:0"), 0);
}

TEST_F(Scans, ADigitalOutputChangesOnlyItsBit) {
    network.set_value(1, "B3:0", static_cast<int16_t>(0xFF00));
    network.set_value(1, "O0:2", 0x00F0);  // slot 1, output word 0
    init(kind::kDO, {channel(3, hw(1, 3, 3, 0, 0)), channel(3, hw(1, 0, 0, 0, 1, -1, 1))});
    status(kind::kDO) = {0x1, 0x1};
    scan(kind::kDO);
    EXPECT_EQ(controller(1, "B3:0"), static_cast<int16_t>(0xFF01));
    EXPECT_EQ(controller(1, "O0:2"), 0x00F2);
    EXPECT_EQ(status(kind::kDO)[0], 0x1u);
}

TEST_F(Scans, TheFirstScanActionWaitsForAnAnalogOutputKindAfterTheDigitalOne) {
    config.Comm.ReadFirst = 1;
    network.set_value(1, "N7:0", 4);
    network.set_value(1, "B3:0/0", 1);
    init(kind::kDO, {channel(3, hw(1, 3, 3, 0, 0))});
    init(kind::kAO, {channel(2, hw(1, 7, 7, 0))});
    EXPECT_EQ(handlers.actions().first_scan, tolva::block_status::kRead);
    scan(kind::kDO);
    EXPECT_EQ(handlers.actions().first_scan, tolva::block_status::kRead);
    values(kind::kAO)[0] = 1;
    scan(kind::kAO);
    EXPECT_EQ(handlers.actions().first_scan, 0);
    EXPECT_EQ(values(kind::kAO)[0], 4.0f);
    EXPECT_TRUE(writes().empty());
}

TEST_F(Scans, ValuesThatAWordCannotHoldAreClampedOrRefused) {
    init(kind::kAO, {channel(2, hw(1, 7, 7, 0)), channel(2, hw(1, 7, 7, 1)), channel(2, hw(1, 7, 7, 2)),
                     channel(2, hw(1, 7, 7, 3))});
    network.set_value(1, "N7:1", 11);
    network.set_value(1, "N7:2", 12);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    values(kind::kAO) = {40000.0f, nan, std::numeric_limits<float>::infinity(), -3.7f};
    scan(kind::kAO);
    EXPECT_EQ(controller(1, "N7:0"), 32767);
    EXPECT_EQ(controller(1, "N7:1"), 11);
    EXPECT_EQ(controller(1, "N7:2"), 12);
    EXPECT_EQ(controller(1, "N7:3"), -3);
    const auto& s = status(kind::kAO);
    EXPECT_EQ(s[0] & kFailed, 0u);
    EXPECT_NE(s[1] & kFailed, 0u);
    EXPECT_NE(s[2] & kFailed, 0u);
    EXPECT_EQ(s[3] & kFailed, 0u);
    EXPECT_TRUE(std::isnan(values(kind::kAO)[1]));  // the host's request stays as it was
    EXPECT_EQ(values(kind::kAO)[0], 32767.0f);
}

TEST_F(Scans, AFailedWriteIsRepeatedOnTheNextScan) {
    init(kind::kAO, {channel(2, hw(1, 7, 7, 0)), channel(2, hw(1, 7, 7, 1))});
    scan(kind::kAO);
    network.protect_file(1, 7);
    values(kind::kAO)[0] = 8;
    scan(kind::kAO);
    EXPECT_NE(status(kind::kAO)[0] & kFailed, 0u);
    EXPECT_NE(status(kind::kAO)[1] & kFailed, 0u);
    EXPECT_EQ(handlers.blocks(kind::kAO).blocks[0].status, tolva::block_status::kFailed);
    EXPECT_EQ(table.find(1)->text(), "S1 F7: Remote 0x6");

    network.unprotect_file(1, 7);
    network.clear_commands();
    scan(kind::kAO);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0].size, 4);  // both channels had failed: both are written
    EXPECT_EQ(controller(1, "N7:0"), 8);
    EXPECT_EQ(status(kind::kAO)[0] & kFailed, 0u);
    EXPECT_EQ(table.find(1)->text(), "");
}

TEST_F(Scans, AStationThatComesUpLaterIsServedAfterItsProbe) {
    network.set_mode(1, StationMode::silent);
    network.set_value(1, "I1:2", 55);
    init(kind::kAI, {channel(0, hw(1, 1, 1, 0, 0, -1, 1)), channel(0, hw(1, 7, 7, 0))});
    EXPECT_FALSE(handlers.blocks(kind::kAI).links[0].linked());
    handlers.begin_scan();  // the probe of the first use counts for this scan
    scan(kind::kAI);
    EXPECT_NE(status(kind::kAI)[0] & kFailed, 0u);

    // The next scan probes the station at its start and serves it with its own commands.
    network.set_mode(1, StationMode::normal);
    handlers.begin_scan();
    scan(kind::kAI);
    EXPECT_EQ(status(kind::kAI)[0] & kFailed, 0u);
    EXPECT_EQ(values(kind::kAI)[0], 55.0f);
}

TEST_F(Scans, FloatsOfAStationNotYetProbedAreNeitherPublishedNorWritten) {
    // Station 1 keeps a directory: its floats are low word first. Until its probe says so,
    // the word order is unknown.
    network.set_mode(1, StationMode::silent);
    network.set_value(1, "F8:1", 2.5);
    network.set_value(1, "F8:2", 1.0);
    init(kind::kAI, {channel(0, hw(1, 8, 8, 1))});
    init(kind::kAO, {channel(2, hw(1, 8, 8, 2))});
    network.set_mode(1, StationMode::normal);
    values(kind::kAO)[0] = 3.75f;
    handlers.begin_scan();
    scan(kind::kAO);
    scan(kind::kAI);
    EXPECT_NE(status(kind::kAI)[0] & kFailed, 0u);
    EXPECT_NE(status(kind::kAO)[0] & kFailed, 0u);
    EXPECT_EQ(controller(1, "F8:2"), 1.0);
    EXPECT_TRUE(writes().empty());

    handlers.begin_scan();
    scan(kind::kAO);
    scan(kind::kAI);
    EXPECT_EQ(status(kind::kAI)[0] & kFailed, 0u);
    EXPECT_EQ(values(kind::kAI)[0], 2.5f);
    EXPECT_EQ(status(kind::kAO)[0] & kFailed, 0u);
    EXPECT_EQ(controller(1, "F8:2"), 3.75);
}

TEST_F(Scans, FloatsOfAStationWhoseDirectoryCannotBeReadKeepTheirWordOrder) {
    // The diagnostic status answers, so the processor type and with it the word order are
    // known, although the probe as a whole failed.
    link.after_send = [this](const pccc_test::Bytes& m) {
        if (m[2] == 0x06) network.set_mode(1, StationMode::extended, 0x0B, 1);  // the next request fails
    };
    network.set_value(1, "F8:1", 2.5);
    init(kind::kAI, {channel(0, hw(1, 8, 8, 1))});
    link.after_send = nullptr;
    ASSERT_FALSE(table.find(1)->probed);
    scan(kind::kAI);
    EXPECT_EQ(status(kind::kAI)[0] & kFailed, 0u);
    EXPECT_EQ(values(kind::kAI)[0], 2.5f);
}

TEST_F(Scans, ReprobingOnOpenRebuildsTheListsOfTheStation) {
    network.set_mode(1, StationMode::silent);
    init(kind::kDO, {channel(3, hw(1, 0, 0, 0, 3, -1, 0))});
    init(kind::kAI, {channel(0, hw(2, 7, 7, 0))});
    EXPECT_FALSE(handlers.blocks(kind::kDO).links[0].linked());
    network.set_mode(1, StationMode::normal);
    handlers.reprobe_stations();
    EXPECT_TRUE(handlers.blocks(kind::kDO).links[0].linked());
}

TEST_F(Scans, CounterInputsAreNotServed) {
    std::vector<qvr::ChannelRecord> none;
    errno = 0;
    EXPECT_EQ(handlers.init(kind::kCI, config, none), -1);
    EXPECT_EQ(errno, ENOTSUP);
    std::vector<uint32_t> s;
    std::vector<float> v;
    EXPECT_EQ(handlers.scan(kind::kCI, config, none, s, v), tolva::kNothingToJudge);
    EXPECT_EQ(handlers.reset_counters(), 0);
}

}  // namespace
