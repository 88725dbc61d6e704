// Saved output values: the file layout, reading back by position and by tag, that a missing
// or cut file changes nothing, and that a table grown since the save gets back what was saved.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "pccc_test_support.h"
#include "support/temp_dir.h"
#include "tolva_sc/saved_values.h"

namespace {

using pccc_test::channel;
using pccc_test::hw;
namespace fs = std::filesystem;

constexpr int kAO = 2, kDO = 3;

struct Saved : testing::Test {
    Saved() { ::setenv("QVR_SAVED_VALUES", dir.str().c_str(), 1); }

    static std::vector<qvr::ChannelRecord> tagged(int kind, const std::vector<std::string>& tags) {
        std::vector<qvr::ChannelRecord> r;
        for (const auto& t : tags) r.push_back(channel(kind, hw(1, 7, 7, 0), t.c_str(), !t.empty()));
        return r;
    }
    std::string bin() const { return qvr_test::read_file(dir / "PLC1_ao.bin"); }
    qvr_test::TempDir dir;
};

TEST_F(Saved, FilesHoldTagsAndValuesInChannelOrder) {
    const auto records = tagged(kAO, {"FLOW", "", "A_TAG_OF_15_CHS"});
    const std::vector<float> values{1.5f, 2.0f, -3.0f};
    EXPECT_EQ(tolva::saved_values_write("PLC1", kAO, std::span<const float>(values), records), 15);
    const std::string b = bin();
    ASSERT_EQ(b.size(), 48u);
    EXPECT_EQ(b.substr(0, 5), std::string("FLOW\0", 5));
    EXPECT_EQ(b.substr(16, 12), std::string(12, '\0'));  // disabled: empty tag
    EXPECT_EQ(b.substr(32, 12), "A_TAG_OF_15_");
    uint32_t bits = 0;
    std::memcpy(&bits, b.data() + 44, 4);
    EXPECT_EQ(std::bit_cast<float>(bits), -3.0f);
    const std::string t = qvr_test::read_file(dir / "PLC1_ao.tag");
    ASSERT_EQ(t.size(), 45u);
    EXPECT_EQ(t.substr(30, 15), "A_TAG_OF_15_CHS");
    EXPECT_EQ(t.substr(15, 15), std::string(15, '\0'));

    std::vector<float> none;
    EXPECT_EQ(tolva::saved_values_write("PLC1", kAO, std::span<const float>(none), records), 0);
}

TEST_F(Saved, ValuesComeBackByPositionAfterARestart) {
    const auto records = tagged(kAO, {"A", "B", "C"});
    const std::vector<float> written{10.0f, -2.5f, 1e6f};
    ASSERT_EQ(tolva::saved_values_write("PLC1", kAO, std::span<const float>(written), records), 15);
    std::vector<float> read(3, 0.0f);
    EXPECT_GT(tolva::saved_values_read("PLC1", kAO, false, std::span<float>(read), records), 0);
    EXPECT_EQ(read, written);
}

TEST_F(Saved, ByTagValuesFollowTheirChannelsWhenTheTableChanged) {
    std::vector<std::string> tags;
    for (int i = 0; i < 10; ++i) tags.push_back("T" + std::to_string(i));
    std::vector<float> values;
    for (int i = 0; i < 10; ++i) values.push_back(static_cast<float>(i * 10));
    ASSERT_GT(tolva::saved_values_write("PLC1", kAO, std::span<const float>(values), tagged(kAO, tags)), 0);

    std::swap(tags[2], tags[7]);
    tags[5] = "t3";  // a second channel of tag T3 (the first enabled one takes it)
    std::vector<float> read(10, -1.0f);
    EXPECT_GT(tolva::saved_values_read("PLC1", kAO, true, std::span<float>(read), tagged(kAO, tags)), 0);
    EXPECT_EQ(read[2], 70.0f);
    EXPECT_EQ(read[7], 20.0f);
    EXPECT_EQ(read[3], 30.0f);
    EXPECT_EQ(read[5], -1.0f);  // the record of T5 found no channel; T3 went to channel 3
    EXPECT_EQ(read[9], 90.0f);
}

TEST_F(Saved, ByTagSkipsDisabledRecordsAndIgnoresCase) {
    ASSERT_GT(tolva::saved_values_write("PLC1", kAO, std::span<const float>(std::vector<float>{1, 2}),
                                        tagged(kAO, {"Pump", ""})),
              0);
    std::vector<float> read{-1, -1};
    EXPECT_GT(tolva::saved_values_read("PLC1", kAO, true, std::span<float>(read), tagged(kAO, {"", "PUMP"})),
              0);
    EXPECT_EQ(read[0], -1.0f);
    EXPECT_EQ(read[1], 1.0f);
}

TEST_F(Saved, DigitalChannelsTakeOnlyTheStateBit) {
    const auto records = tagged(kDO, {"V1", "V2"});
    const std::vector<uint32_t> saved{0xFFFFFFFE, 0x1};
    ASSERT_GT(tolva::saved_values_write("PLC1", kDO, std::span<const uint32_t>(saved), records), 0);
    for (bool by_tag : {false, true}) {
        std::vector<uint32_t> status{0x0821, 0x0820};
        EXPECT_GT(tolva::saved_values_read("PLC1", kDO, by_tag, std::span<uint32_t>(status), records), 0);
        EXPECT_EQ(status[0], 0x0820u) << by_tag;
        EXPECT_EQ(status[1], 0x0821u) << by_tag;
    }
}

TEST_F(Saved, WritingFewerChannelsKeepsTheRecordsAfterThem) {
    ASSERT_GT(tolva::saved_values_write("PLC1", kAO, std::span<const float>(std::vector<float>{1, 2, 3}),
                                        tagged(kAO, {"A", "B", "C"})),
              0);
    ASSERT_GT(tolva::saved_values_write("PLC1", kAO, std::span<const float>(std::vector<float>{9}),
                                        tagged(kAO, {"A"})),
              0);
    std::vector<float> read(3, 0);
    EXPECT_GT(
        tolva::saved_values_read("PLC1", kAO, false, std::span<float>(read), tagged(kAO, {"A", "B", "C"})),
        0);
    EXPECT_EQ(read, (std::vector<float>{9, 2, 3}));
}

TEST_F(Saved, MissingOrCutFilesLeaveTheValuesAsTheHostSetThem) {
    const auto records = tagged(kAO, {"A", "B"});
    const std::vector<float> host{4.0f, 5.0f};
    auto unchanged = [&](bool by_tag, const char* why) {
        std::vector<float> v = host;
        EXPECT_EQ(tolva::saved_values_read("PLC1", kAO, by_tag, std::span<float>(v), records), -1) << why;
        EXPECT_EQ(v, host) << why;
    };
    unchanged(false, "no file");
    unchanged(true, "no file");
    qvr_test::write_file(dir / "PLC1_ao.bin", std::string(20, 'x'));
    unchanged(false, "cut .bin");
    unchanged(true, "cut .bin");
    ASSERT_GT(
        tolva::saved_values_write("PLC1", kAO, std::span<const float>(std::vector<float>{1, 2}), records), 0);
    fs::resize_file(dir / "PLC1_ao.tag", 20);
    unchanged(true, "cut .tag");

    std::vector<uint32_t> status{0x21, 0x20};
    fs::remove(dir / "PLC1_do.bin");
    EXPECT_EQ(
        tolva::saved_values_read("PLC1", kDO, false, std::span<uint32_t>(status), tagged(kDO, {"A", "B"})),
        -1);
    EXPECT_EQ(status, (std::vector<uint32_t>{0x21, 0x20}));
}

TEST_F(Saved, ChannelsAddedSinceTheSaveKeepTheirValuesAndTheOthersComeBack) {
    ASSERT_GT(tolva::saved_values_write("PLC1", kAO, std::span<const float>(std::vector<float>{1, 2}),
                                        tagged(kAO, {"A", "B"})),
              0);
    const auto grown = tagged(kAO, {"NEW", "A", "B"});  // a channel inserted before them
    for (bool by_tag : {false, true}) {
        std::vector<float> read{-1, -1, -1};
        EXPECT_GT(tolva::saved_values_read("PLC1", kAO, by_tag, std::span<float>(read), grown), 0) << by_tag;
        if (by_tag) {
            EXPECT_EQ(read, (std::vector<float>{-1, 1, 2}));
        } else {
            EXPECT_EQ(read, (std::vector<float>{1, 2, -1}));
        }
    }
}

TEST_F(Saved, ByTagWithOnlyTheBinFileComparesItsTwelveCharacters) {
    const auto records = tagged(kAO, {"TWELVE_CHARS", "TWELVE_CHARS_AND", "SHORT"});
    ASSERT_GT(
        tolva::saved_values_write("PLC1", kAO, std::span<const float>(std::vector<float>{1, 2, 3}), records),
        0);
    fs::remove(dir / "PLC1_ao.tag");
    std::vector<float> read(3, 0);
    EXPECT_GT(tolva::saved_values_read("PLC1", kAO, true, std::span<float>(read), records), 0);
    EXPECT_EQ(read, (std::vector<float>{1, 2, 3}));
}

TEST_F(Saved, AFailedSaveKeepsItsChangeForTheNextTry) {
    const auto records = tagged(kAO, {"A"});
    const std::vector<float> values{7};
    ::setenv("QVR_SAVED_VALUES", (dir / "not_yet").c_str(), 1);
    bool changed = true;
    EXPECT_EQ(tolva::save_changed_values(changed, "PLC1", kAO, std::span<const float>(values), records), -1);
    EXPECT_TRUE(changed);
    fs::create_directory(dir / "not_yet");
    EXPECT_EQ(tolva::save_changed_values(changed, "PLC1", kAO, std::span<const float>(values), records), 15);
    EXPECT_FALSE(changed);
    EXPECT_EQ(tolva::save_changed_values(changed, "PLC1", kAO, std::span<const float>(values), records), 0);
    EXPECT_TRUE(fs::exists(dir / "not_yet" / "PLC1_ao.bin"));
}

// A save that cannot be written whole (here a file size limit, as a full disk) leaves the
// values of the last good save, never a mix, and no temporary file.
TEST_F(Saved, ASaveThatCannotBeWrittenWholeLeavesTheLastValues) {
    const auto records = tagged(kAO, {"A", "B", "C"});
    ASSERT_GT(tolva::saved_values_write("PLC1", kAO, std::span<const float>(std::vector<float>{1, 2, 3}), records),
              0);
    const std::string before = bin();
    const auto old_signal = ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const rlimit small{20, old.rlim_max};  // less than one file of three channels
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int rc = tolva::saved_values_write("PLC1", kAO, std::span<const float>(std::vector<float>{7, 8, 9}), records);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, old_signal);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(bin(), before);
    std::vector<float> read(3, 0);
    EXPECT_GT(tolva::saved_values_read("PLC1", kAO, false, std::span<float>(read), records), 0);
    EXPECT_EQ(read, (std::vector<float>{1, 2, 3}));
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"PLC1_ao.bin", "PLC1_ao.tag"}));
}

}  // namespace
