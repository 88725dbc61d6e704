// Station probes against the controller stand-in, address normalisation through a station's
// I/O directory, the status texts and their rotation.
#include <gtest/gtest.h>

#include "pccc_test_support.h"
#include "tolva_sc/pccc_codes.h"
#include "tolva_sc/station_table.h"

namespace {

using pccc_test::hw;
using sim_controller::ControllerNetwork;
using sim_controller::DirectorySlot;
using tolva::file_type::kBinary;
using tolva::file_type::kInput;
using tolva::file_type::kOutput;
using tolva::file_type::kStatus;
using tolva::file_type::kWord;

constexpr uint8_t kWithDirectory = 0x4E;
constexpr uint8_t kPlain = 0x49;

struct Stations : testing::Test {
    ControllerNetwork network{9};
    pccc_test::NetworkLink link{network};
    tolva::PcccCommands commands{link, [] { return true; }};
    int64_t clock = 100'000;
    std::vector<std::string> shown;
    tolva::StationTable table{commands, [this] { return clock; },
                              [this](std::string_view t) { shown.emplace_back(t); }};

    std::vector<sim_controller::CommandRecord> directory_reads() const {
        std::vector<sim_controller::CommandRecord> out;
        for (const auto& c : network.commands()) {
            if (c.function == 0xA1) out.push_back(c);
        }
        return out;
    }
};

TEST_F(Stations, ADirectoryOfThirtyEntriesIsReadInThreeRequests) {
    network.add_station(2, kWithDirectory);
    std::vector<DirectorySlot> slots;
    for (int i = 0; i < 30; ++i) slots.push_back({static_cast<uint8_t>(i), 4, static_cast<uint8_t>(2 * i)});
    network.set_directory(2, slots);

    const tolva::StationRecord* r = table.ensure(2);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->probed);
    EXPECT_EQ(r->processor_type, kWithDirectory);
    ASSERT_EQ(r->directory.entry_count(), 30u);
    EXPECT_EQ(r->directory.entry(29)->first_output_word, 58);

    const auto reads = directory_reads();
    ASSERT_EQ(reads.size(), 4u);
    const std::pair<uint16_t, uint16_t> expected[] = {{0, 4}, {2, 78}, {41, 78}, {80, 24}};
    for (size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(reads[i].element, expected[i].first) << i;
        EXPECT_EQ(reads[i].size, expected[i].second) << i;
    }
    EXPECT_EQ(table.ensure(2), r);  // known: not probed again
    EXPECT_EQ(directory_reads().size(), 4u);
}

TEST_F(Stations, AProcessorWithoutDirectoryIsProbedByTheDiagnosticStatusAlone) {
    network.add_station(4, kPlain);
    const tolva::StationRecord* r = table.ensure(4);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->probed);
    EXPECT_EQ(r->processor_type, kPlain);
    EXPECT_EQ(r->directory.entry_count(), 0u);
    ASSERT_EQ(network.commands().size(), 1u);
    EXPECT_EQ(network.commands()[0].command, 0x06);
    EXPECT_EQ(table.processor_type(4), kPlain);
    EXPECT_EQ(table.processor_type(5), 0);
}

TEST_F(Stations, OutputAndInputAddressesMapThroughTheDirectory) {
    network.add_station(2, kWithDirectory);
    // Slot 0: inputs from word 0, 4 output bytes from word 0; slot 1: inputs from 3, 2
    // output bytes from word 6; slot 2: no outputs.
    network.set_directory(2, {{0, 4, 0}, {3, 2, 6}, {5, 0, 8}});
    network.add_station(4, kPlain);
    ASSERT_NE(table.ensure(2), nullptr);
    ASSERT_NE(table.ensure(4), nullptr);

    struct Case {
        const char* name;
        tolva::ChannelHwRecord hw;
        bool digital;
        std::optional<std::pair<int, int>> expected;  // element, sub-element
    };
    const Case cases[] = {
        {"O slot 1 bit 5", hw(2, kOutput, 0, 0, 5, -1, 1), true, {{6, 5}}},
        {"O slot 0 bit 17 is word 1", hw(2, kOutput, 0, 0, 17, -1, 0), true, {{1, 1}}},
        {"O slot 0 word 2 beyond 4 bytes", hw(2, kOutput, 0, 0, 2, -1, 0), false, std::nullopt},
        {"O slot 0 word 1", hw(2, kOutput, 0, 0, 1, -1, 0), false, {{1, 0}}},
        {"O slot 2 has no output image", hw(2, kOutput, 0, 0, 0, -1, 2), true, std::nullopt},
        {"I slot 1 word 1", hw(2, kInput, 1, 0, 1, -1, 1), false, {{4, 0}}},
        {"I slot 2 bit 20", hw(2, kInput, 1, 0, 20, -1, 2), true, {{6, 4}}},
        {"I element 7 of slot 1", hw(2, kInput, 1, 7, 3, -1, 1), true, {{7, 3}}},
        {"I element below the slot", hw(2, kInput, 1, 2, 3, -1, 1), true, std::nullopt},
        {"slot beyond the directory", hw(2, kInput, 1, 0, 0, -1, 3), true, std::nullopt},
        {"negative slot", hw(2, kInput, 1, 0, 0, -1, -1), true, std::nullopt},
        {"slot without a bit", hw(2, kInput, 1, 0, -1, -1, 0), true, std::nullopt},
        {"no directory: slot ignored", hw(4, kOutput, 0, 0, 21, -1, 7), true, {{1, 5}}},
        {"no directory: analog word", hw(4, kInput, 1, 0, 3, -1, 9), false, {{3, 0}}},
        {"B bit spills into element", hw(2, kBinary, 3, 1, 35), true, {{3, 3}}},
        {"B bit -1 stays", hw(2, kBinary, 3, 4, -1), true, {{4, -1}}},
        {"S digital as B", hw(2, kStatus, 2, 1, 18), true, {{2, 2}}},
        {"W analog unchanged", hw(2, kWord, 9, 5, 0), false, {{5, 0}}},
        {"N unchanged", hw(2, 7, 7, 12), false, {{12, -1}}},
        {"negative element", hw(2, 7, 7, -1), false, std::nullopt},
        {"B past the last element", hw(2, kBinary, 3, 32767, 16), true, std::nullopt},
        {"file type 10", hw(2, 10, 10, 0), false, std::nullopt},
        {"station not in the table", hw(6, kOutput, 0, 0, 1, -1, 0), true, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto got = table.normalise(c.hw, c.digital);
        if (!c.expected) {
            EXPECT_FALSE(got.has_value()) << c.name;
            continue;
        }
        ASSERT_TRUE(got.has_value()) << c.name;
        EXPECT_EQ(got->element, c.expected->first) << c.name;
        EXPECT_EQ(got->sub_element, c.expected->second) << c.name;
    }
}

TEST_F(Stations, AStationSwitchedOnAfterStartUpIsProbedAgain) {
    network.add_station(3, kWithDirectory);
    network.set_directory(3, {{0, 2, 0}});
    network.set_mode(3, sim_controller::StationMode::silent);

    const tolva::StationRecord* r = table.ensure(3);
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(r->probed);
    EXPECT_EQ(r->processor_type, 0);
    EXPECT_EQ(r->text(), "S3 F0: Data Link 0x1");
    EXPECT_FALSE(table.normalise(hw(3, kOutput, 0, 0, 1, -1, 0), true));

    // Probed on first use within this scan: the scan's own probe is spent.
    network.set_mode(3, sim_controller::StationMode::normal);
    EXPECT_TRUE(table.begin_scan().empty());
    EXPECT_FALSE(r->probed);
    // The next scan probes it at its start, however little time passed.
    EXPECT_EQ(table.begin_scan(), std::vector<uint8_t>{3});
    EXPECT_TRUE(r->probed);
    EXPECT_EQ(r->processor_type, kWithDirectory);
    EXPECT_EQ(r->text(), "");
    EXPECT_TRUE(table.normalise(hw(3, kOutput, 0, 0, 1, -1, 0), true));
    // Probed: never probed again.
    network.clear_commands();
    EXPECT_TRUE(table.begin_scan().empty());
    EXPECT_TRUE(network.commands().empty());
}

TEST_F(Stations, AStationStillOffIsProbedOncePerScan) {
    network.add_station(3, kPlain);
    network.set_mode(3, sim_controller::StationMode::silent);
    table.ensure(3);
    for (int scan = 0; scan < 3; ++scan) {
        network.clear_commands();
        EXPECT_TRUE(table.begin_scan().empty());
        // The first scan's probe was spent by the first use; then one per scan.
        EXPECT_EQ(network.commands().size(), scan == 0 ? 0u : 1u) << scan;  // the time-out ends it
    }
}

TEST_F(Stations, OpenProbesEveryUnprobedStationAtOnce) {
    network.add_station(3, kPlain);
    network.set_mode(3, sim_controller::StationMode::silent);
    table.ensure(3);
    network.set_mode(3, sim_controller::StationMode::normal);
    EXPECT_EQ(table.probe_unprobed(), std::vector<uint8_t>{3});
    EXPECT_TRUE(table.find(3)->probed);
}

TEST_F(Stations, ADirectoryThatFailsAfterItsHeaderLeavesNoEntries) {
    network.add_station(3, kWithDirectory);
    network.set_directory(3, {{0, 2, 0}, {1, 2, 1}});
    link.after_send = [this](const pccc_test::Bytes& req) {
        if (req[2] == 0x0F && req[6] == 0xA1 && req[10] == 2) link.replies.clear();  // entries lost
    };
    const tolva::StationRecord* r = table.ensure(3);
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(r->probed);
    EXPECT_EQ(r->processor_type, kWithDirectory);
    EXPECT_EQ(r->directory.entry_count(), 0u);
    EXPECT_FALSE(table.normalise(hw(3, kInput, 1, 0, 0, -1, 0), true));
    EXPECT_FALSE(table.normalise(hw(3, kOutput, 0, 0, 0, -1, 1), true));

    link.after_send = {};
    table.begin_scan();
    EXPECT_EQ(table.begin_scan(), std::vector<uint8_t>{3});
    EXPECT_EQ(r->directory.entry_count(), 2u);
    EXPECT_TRUE(table.normalise(hw(3, kOutput, 0, 0, 0, -1, 1), true));
}

TEST_F(Stations, AStationThatAnswersWithAnErrorStatusIsNotWaitedForEndlessly) {
    network.add_station(3, kWithDirectory);
    network.set_mode(3, sim_controller::StationMode::extended, 0x07);
    const tolva::StationRecord* r = table.ensure(3);
    EXPECT_FALSE(r->probed);
    EXPECT_EQ(r->text(), "S3 F0: Extended 0x7");
    EXPECT_EQ(link.sent.size(), 1u);
}

TEST_F(Stations, TextsNameTheLastErrorPerFile) {
    network.add_station(1, kPlain);
    table.ensure(1);
    tolva::TransferRequest r;
    r.station = 1;
    r.file_number = 9;
    r.result = 0x4000001;
    table.update_status_text(r);
    EXPECT_EQ(table.find(1)->text(), "S1 F9: Remote 0x1");
    r.file_number = 7;
    r.result = 0;
    table.update_status_text(r);
    EXPECT_EQ(table.find(1)->text(), "S1 F9: Remote 0x1");  // another file's success
    r.file_number = 90;
    table.update_status_text(r);
    EXPECT_EQ(table.find(1)->text(), "S1 F9: Remote 0x1");  // "F90: " is not "F9: "
    r.file_number = 9;
    table.update_status_text(r);
    EXPECT_EQ(table.find(1)->text(), "");
}

TEST_F(Stations, RotationShowsTheNextNonEmptyTextEveryTenSeconds) {
    for (uint8_t s : {1, 2, 3}) {
        network.add_station(s, kPlain);
        table.ensure(s);
    }
    tolva::TransferRequest r;
    r.station = 2;
    r.file_number = 7;
    r.result = 0x1000001;
    table.update_status_text(r);

    for (int i = 0; i < 4; ++i) {
        table.rotate();
        clock += tolva::kTextRotationMs;
    }
    EXPECT_EQ(shown, std::vector<std::string>(4, "S2 F7: Data Link 0x1"));
    table.rotate();
    clock += tolva::kTextRotationMs - 1;
    table.rotate();  // too soon
    EXPECT_EQ(shown.size(), 5u);

    table.rebuild_text_list();
    clock += 1;
    table.rotate();
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown.back(), "");  // nothing left: the device's text is cleared
}

TEST_F(Stations, TheTableHoldsFortyStations) {
    for (int s = 0; s < 41; ++s) network.add_station(static_cast<uint8_t>(s), kPlain);
    for (int s = 0; s < 40; ++s) ASSERT_NE(table.ensure(static_cast<uint8_t>(s)), nullptr);
    EXPECT_EQ(table.ensure(40), nullptr);
    EXPECT_EQ(table.size(), 40u);
    EXPECT_NE(table.ensure(39), nullptr);
}

}  // namespace
