#include "tolva_ex/record_types.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "typed_text.h"

namespace {

using tolva_test::leaf_names;
using tolva_test::leaf_text;
using tolva_test::set_leaf;

struct Leaf {
    std::string name;
    std::string text;
};

const std::vector<Leaf> kConfigLeaves = {
    {"ScanRate", "250"},     {"BaudRate", "9600"},  {"CommPort", "COM12"},      {"ReadFirst", "On"},
    {"ReadBack", "Off"},     {"MaxRetries", "4"},   {"MaxEnquires", "6"},       {"ReplyTimeout", "8"},
    {"ReplyAck", "40"},
};

TEST(DeviceConfigRecordType, LeavesCoverTheFirst32BytesOnly) {
    EXPECT_EQ(tolva::DeviceConfigRecordType.size, 704u);
    tolva::DeviceConfigRecord record{};
    std::vector<std::string> names;
    for (const auto& leaf : kConfigLeaves) names.push_back(leaf.name);
    EXPECT_EQ(leaf_names(&tolva::DeviceConfigRecordType, &record), names);

    // Reserved bytes are carried as they are.
    for (std::size_t i = 0; i < sizeof record.Reserved32; ++i) record.Reserved32[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const tolva::DeviceConfigRecord before = record;
    for (const auto& leaf : kConfigLeaves) EXPECT_EQ(set_leaf(&tolva::DeviceConfigRecordType, leaf.name, leaf.text, &record), "");
    EXPECT_EQ(std::memcmp(record.Reserved32, before.Reserved32, sizeof record.Reserved32), 0);

    EXPECT_EQ(record.ScanRate, 250u);
    EXPECT_EQ(record.Comm.BaudRate, 9600u);
    EXPECT_EQ(tolva::comm_port(record.Comm), "COM12");
    EXPECT_EQ(record.Comm.ReadFirst, 1);
    EXPECT_EQ(record.Comm.ReadBack, 0);
    EXPECT_EQ(record.Comm.MaxRetries, 4u);
    EXPECT_EQ(record.Comm.MaxEnquires, 6u);
    EXPECT_EQ(record.Comm.ReplyTimeout, 8u);
    EXPECT_EQ(record.Comm.ReplyAck, 40u);
    for (const auto& leaf : kConfigLeaves) EXPECT_EQ(leaf_text(&tolva::DeviceConfigRecordType, leaf.name, &record), leaf.text);
}

TEST(CommSettingsType, IsTheSettingsRunOfTheConfiguration) {
    EXPECT_EQ(tolva::CommSettingsType.size, 28u);
    tolva::DeviceConfigRecord record{};
    for (const auto& leaf : kConfigLeaves) ASSERT_EQ(set_leaf(&tolva::DeviceConfigRecordType, leaf.name, leaf.text, &record), "");
    std::vector<std::string> names;
    for (std::size_t i = 1; i < kConfigLeaves.size(); ++i) {
        names.push_back(kConfigLeaves[i].name);
        EXPECT_EQ(leaf_text(&tolva::CommSettingsType, kConfigLeaves[i].name, &record.Comm), kConfigLeaves[i].text);
    }
    EXPECT_EQ(leaf_names(&tolva::CommSettingsType, &record.Comm), names);
}

// A default port name may fill the six bytes; it reads back and sets again.
TEST(DeviceConfigRecordType, PortNameMayFillItsField) {
    tolva::DeviceConfigRecord record{};
    ASSERT_TRUE(tolva::apply_port_defaults(record.Comm, 100));
    EXPECT_EQ(leaf_text(&tolva::DeviceConfigRecordType, "CommPort", &record), "COM100");
    tolva::DeviceConfigRecord copy{};
    EXPECT_EQ(set_leaf(&tolva::DeviceConfigRecordType, "CommPort", "COM100", &copy), "");
    EXPECT_EQ(std::memcmp(copy.Comm.CommPort, "COM100", 6), 0);
    EXPECT_EQ(copy.Comm.ReadFirst, 0);
    EXPECT_EQ(set_leaf(&tolva::DeviceConfigRecordType, "CommPort", "COM1000", &copy),
              "string is too long for bounded length buffer");
    EXPECT_EQ(std::memcmp(copy.Comm.CommPort, "COM100", 6), 0);
}

TEST(ChannelHwRecordType, Leaves) {
    EXPECT_EQ(tolva::ChannelHwRecordType.size, 16u);
    tolva::ChannelHwRecord hw{};
    const std::vector<Leaf> leaves = {
        {"StationNumber", "31"}, {"FileType", "Counter (C)"}, {"FileNumber", "5"},    {"ElementNumber", "12"},
        {"SubElementNumber", "-1"}, {"MnemonicNumber", "2"},  {"SlotNumber", "12"},   {"Buffer", "Off"},
    };
    std::vector<std::string> names;
    for (const auto& leaf : leaves) {
        names.push_back(leaf.name);
        EXPECT_EQ(set_leaf(&tolva::ChannelHwRecordType, leaf.name, leaf.text, &hw), "") << leaf.name;
    }
    EXPECT_EQ(leaf_names(&tolva::ChannelHwRecordType, &hw), names);
    const tolva::ChannelHwRecord expected{31, tolva::file_type::kCounter, 5, 12, -1, 2, 12, 0};
    EXPECT_EQ(std::memcmp(&hw, &expected, sizeof hw), 0);
    for (const auto& leaf : leaves) EXPECT_EQ(leaf_text(&tolva::ChannelHwRecordType, leaf.name, &hw), leaf.text);
}

// Every station has its own text, so a move from station 3 to station 5 shows in a
// comparison of leaf texts.
TEST(ChannelHwRecordType, StationNumberReadsAsItsNumber) {
    tolva::ChannelHwRecord a{};
    tolva::ChannelHwRecord b{};
    a.StationNumber = 3;
    b.StationNumber = 5;
    EXPECT_EQ(leaf_text(&tolva::ChannelHwRecordType, "StationNumber", &a), "3");
    EXPECT_EQ(leaf_text(&tolva::ChannelHwRecordType, "StationNumber", &b), "5");
    const tolva::ChannelHwRecord zero{};
    EXPECT_EQ(leaf_text(&tolva::ChannelHwRecordType, "StationNumber", &zero), "0");
    EXPECT_EQ(set_leaf(&tolva::ChannelHwRecordType, "StationNumber", "On", &a), "invalid integer value");
    EXPECT_EQ(a.StationNumber, 3);
    EXPECT_EQ(set_leaf(&tolva::ChannelHwRecordType, "StationNumber", "17", &a), "");
    EXPECT_EQ(a.StationNumber, 17);
}

TEST(ChannelHwRecordType, FileTypeNames) {
    for (const auto& entry : tolva::kFileTypeNames) {
        SCOPED_TRACE(std::string(entry.name));
        tolva::ChannelHwRecord hw{};
        hw.FileType = entry.value;
        EXPECT_EQ(leaf_text(&tolva::ChannelHwRecordType, "FileType", &hw), entry.name);
        tolva::ChannelHwRecord parsed{};
        EXPECT_EQ(set_leaf(&tolva::ChannelHwRecordType, "FileType", std::string(entry.name), &parsed), "");
        EXPECT_EQ(parsed.FileType, entry.value);
    }
    tolva::ChannelHwRecord hw{};
    hw.FileType = tolva::file_type::kWord;
    EXPECT_EQ(leaf_text(&tolva::ChannelHwRecordType, "FileType", &hw), "Word(W)");
    // Combined codes of undecorated copies lie outside the list.
    hw.FileType = 13;
    EXPECT_EQ(leaf_text(&tolva::ChannelHwRecordType, "FileType", &hw), "INVALID");
    EXPECT_EQ(set_leaf(&tolva::ChannelHwRecordType, "FileType", "Word (W)", &hw), "invalid value \"Word (W)\"");
    EXPECT_EQ(set_leaf(&tolva::ChannelHwRecordType, "FileType", "user", &hw), "invalid value \"user\"");
    EXPECT_EQ(hw.FileType, 13);
}

TEST(ChannelHwRecordType, BufferIsAFourByteSwitch) {
    tolva::ChannelHwRecord hw{};
    EXPECT_EQ(leaf_text(&tolva::ChannelHwRecordType, "Buffer", &hw), "Off");
    hw.Buffer = 0x10000;
    EXPECT_EQ(leaf_text(&tolva::ChannelHwRecordType, "Buffer", &hw), "On");
}

}  // namespace
