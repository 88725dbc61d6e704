// Grouping channels into blocks: the greedy packing, what makes an address valid, and that
// the configured records stay as they are.
#include <gtest/gtest.h>

#include <cstring>

#include "pccc_test_support.h"
#include "tolva_sc/io_block.h"

namespace {

using pccc_test::channel;
using pccc_test::hw;

constexpr int kAI = 0, kDI = 1;

struct Blocks : testing::Test {
    Blocks() {
        for (uint8_t s : {1, 2}) network.add_station(s, 0x4E);
        network.set_directory(1, {{0, 4, 0}});
    }
    tolva::BlockList build(const std::vector<qvr::ChannelRecord>& records, bool digital = false) {
        return tolva::build_block_list(records, digital, table);
    }
    sim_controller::ControllerNetwork network;
    pccc_test::NetworkLink link{network};
    tolva::PcccCommands commands{link, [] { return true; }};
    tolva::StationTable table{commands, [] { return int64_t{0}; }, [](std::string_view) {}};
};

TEST_F(Blocks, FortyOneWordsShareABlockAndTheNextStartsAnother) {
    const auto list =
        build({channel(kAI, hw(1, 7, 7, 0)), channel(kAI, hw(1, 7, 7, 40)), channel(kAI, hw(1, 7, 7, 41))});
    ASSERT_EQ(list.blocks.size(), 2u);
    EXPECT_EQ(list.blocks[0].element, 0);
    EXPECT_EQ(list.blocks[0].length, 82);
    EXPECT_EQ(list.blocks[1].element, 41);
    EXPECT_EQ(list.blocks[1].length, 2);
    EXPECT_EQ(list.links[0].block, 0);
    EXPECT_EQ(list.links[1].block, 0);
    EXPECT_EQ(list.links[2].block, 1);
    // Data plus the change bitmap of elements / 8 + 1 bytes.
    EXPECT_EQ(list.blocks[0].data.size(), 82u + 41 / 8 + 1);
}

TEST_F(Blocks, ThirteenTimersFitOneBlock) {
    std::vector<qvr::ChannelRecord> records;
    for (int16_t e = 0; e <= 13; ++e) records.push_back(channel(kAI, hw(1, 4, 4, e, -1, 1)));
    const auto list = build(records);
    ASSERT_EQ(list.blocks.size(), 2u);
    EXPECT_EQ(list.blocks[0].length, 78);
    EXPECT_EQ(list.blocks[1].element, 13);
    EXPECT_EQ(list.links[12].block, 0);
    EXPECT_EQ(list.links[13].block, 1);
}

TEST_F(Blocks, AnElementBelowTheStartMovesTheBlockDown) {
    const auto list = build({channel(kAI, hw(1, 8, 8, 10)), channel(kAI, hw(1, 8, 8, 5)),
                             channel(kAI, hw(1, 8, 8, 30)), channel(kAI, hw(1, 8, 8, 25))});
    ASSERT_EQ(list.blocks.size(), 2u);
    EXPECT_EQ(list.blocks[0].element, 5);
    EXPECT_EQ(list.blocks[0].length, 6 * 4);
    EXPECT_EQ(list.blocks[1].element, 25);  // 5..30 is 26 floats: more than 20
    EXPECT_EQ(list.links[3].block, 1);
}

TEST_F(Blocks, StationsAndFilesKeepTheirOwnBlocks) {
    const auto list = build({channel(kAI, hw(1, 7, 7, 0)), channel(kAI, hw(2, 7, 7, 1)),
                             channel(kAI, hw(1, 7, 10, 2)), channel(kAI, hw(1, 9, 9, 0))});
    ASSERT_EQ(list.blocks.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(list.links[static_cast<size_t>(i)].block, i);
    EXPECT_TRUE(list.uses_station(2));
    EXPECT_FALSE(list.uses_station(3));
}

TEST_F(Blocks, OnlyServableAddressesOfEnabledChannelsAreLinked) {
    struct Case {
        const char* name;
        qvr::ChannelRecord record;
        bool digital;
        bool linked;
    };
    const Case cases[] = {
        {"N10", channel(kAI, hw(1, 7, 10, 0)), false, true},
        {"N5 (number of another type)", channel(kAI, hw(1, 7, 5, 0)), false, false},
        {"N7", channel(kAI, hw(1, 7, 7, 0)), false, true},
        {"N negative file", channel(kAI, hw(1, 7, -3, 0)), false, false},
        {"O on file 1", channel(kDI, hw(1, 0, 1, 0, 1, -1, 0)), true, false},
        {"O on file 0", channel(kDI, hw(1, 0, 0, 0, 1, -1, 0)), true, true},
        {"S mnemonic 6", channel(kAI, hw(1, 2, 2, 0, -1, 6)), false, false},
        {"S on file 10", channel(kAI, hw(1, 2, 10, 0)), false, false},
        {"T mnemonic 5", channel(kAI, hw(1, 4, 4, 0, -1, 5)), false, false},
        {"C mnemonic 7", channel(kDI, hw(1, 5, 5, 0, -1, 7)), true, true},
        {"R mnemonic 9", channel(kDI, hw(1, 6, 12, 0, -1, 9)), true, true},
        {"B bit -1", channel(kDI, hw(1, 3, 3, 0, -1)), true, false},
        {"B bit 20", channel(kDI, hw(1, 3, 3, 0, 20)), true, true},
        {"W analog word 1", channel(kAI, hw(1, 9, 9, 0, 1)), false, false},
        {"W analog without word", channel(kAI, hw(1, 9, 9, 0, -1)), false, true},
        {"negative element", channel(kAI, hw(1, 7, 7, -2)), false, false},
        {"USER", channel(kAI, hw(1, -1, 7, 0)), false, false},
        {"O beyond the slot's output image", channel(kAI, hw(1, 0, 0, 0, 2, -1, 0)), false, false},
        {"disabled", channel(kAI, hw(1, 7, 7, 0), "", false), false, false},
    };
    for (const auto& c : cases) {
        const auto list = build({c.record}, c.digital);
        EXPECT_EQ(list.links[0].linked(), c.linked) << c.name;
        EXPECT_EQ(list.blocks.size(), c.linked ? 1u : 0u) << c.name;
    }
}

TEST_F(Blocks, TheConfiguredRecordsStayExactlyAsTheyWere) {
    std::vector<qvr::ChannelRecord> records{channel(kAI, hw(1, 7, 7, 3), "LEVEL"),
                                            channel(kAI, hw(1, 7, 7, 4))};
    const auto before = records;
    const auto list = build(records);
    ASSERT_EQ(list.blocks.size(), 1u);
    EXPECT_TRUE(before == records);
    EXPECT_EQ(tolva::read_channel_hw(records[0].bytes)->Buffer, 0u);
}

TEST_F(Blocks, AStationBeyondTheTableIsNotServed) {
    std::vector<qvr::ChannelRecord> records;
    for (int s = 0; s < 41; ++s) {
        network.add_station(static_cast<uint8_t>(s + 10), 0x49);
        records.push_back(channel(kAI, hw(static_cast<uint8_t>(s + 10), 7, 7, 0)));
    }
    const auto list = build(records);
    EXPECT_EQ(list.blocks.size(), 40u);
    EXPECT_EQ(table.size(), 40u);
    EXPECT_TRUE(list.links[39].linked());
    EXPECT_FALSE(list.links[40].linked());
}

}  // namespace
