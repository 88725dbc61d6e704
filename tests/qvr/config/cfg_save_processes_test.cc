// Saves of channel tables from other processes: one killed in the middle leaves a table that
// loads whole (the old content or the new one, never a mixture), and two at once lose
// neither's channels.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cfg_test_support.h"
#include "qvr/config/cfg_channel_tables.h"
#include "support/child_process.h"

namespace {

using cfg_test::set_switch;
using namespace std::chrono_literals;

constexpr int kChannels = 300;

// Which of the helper's two contents the table holds: 0, 1, or -1 for neither.
int content_of(const std::vector<qvr::ChannelRecord>& records) {
    int which = -1;
    for (int i = 0; i < kChannels; ++i) {
        const std::string tag = qvr::join_text(records[static_cast<std::size_t>(i)], qvr::ChannelText::Tag);
        const int w = tag == "A" + std::to_string(i) ? 0 : tag == "B" + std::to_string(i) ? 1 : -1;
        if (w < 0 || (which >= 0 && w != which)) return -1;
        which = w;
    }
    return which;
}

class SaveProcessesTest : public cfg_test::ConfigTree {
  protected:
    void kill_during_saves(const std::string& dir, int kind) {
        std::mt19937 random(12345);
        for (int round = 0; round < 8; ++round) {
            auto child = qvr_test::ChildProcess::spawn(
                qvr_test::bin_path("cfg_test_helper"),
                {"save-loop", dir, std::to_string(kind), std::to_string(kChannels)}, {}, true);
            ASSERT_NE(child.read_stdout(30s, "saving").find("saving"), std::string::npos)
                << child.read_stdout(0ms);
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
            child.kill(SIGKILL);
            child.wait(10s);
            std::vector<qvr::ChannelRecord> back(kChannels);
            ASSERT_EQ(cfg_LoadChannels(dir.c_str(), kind, back.data(), 0, kChannels, nullptr, 0, nullptr), 0)
                << "round " << round << ": " << sink_.last();
            EXPECT_NE(content_of(back), -1) << "round " << round;
        }
    }
};

TEST_F(SaveProcessesTest, AKilledBinarySaveLeavesAWholeTable) {
    kill_during_saves(device("tolva_3"), 0);
}

TEST_F(SaveProcessesTest, AKilledXmlSaveLeavesAWholeTable) {
    set_switch("WriteXML", "BOTH");
    set_switch("ReadXML", "ON");
    kill_during_saves(device("tvall_1"), 3);
}

// Each process saves its own channel of the same table again and again (update mode): the
// other's channel must never be put back to an older content.
TEST_F(SaveProcessesTest, TwoProcessesSavingOneTableKeepEachOthersChannels) {
    struct Case {
        const char* write;
        const char* folder;
    } cases[] = {{"BIN", "tolva_3"}, {"XML", "tvall_1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.write);
        set_switch("WriteXML", c.write);
        set_switch("ReadXML", "ON");
        const std::string dir = device(c.folder);
        constexpr int kRounds = 150;
        std::vector<qvr_test::ChildProcess> children;
        for (int index : {0, 1})
            children.push_back(qvr_test::ChildProcess::spawn(
                qvr_test::bin_path("cfg_test_helper"),
                {"save-one", dir, "0", std::to_string(index), std::to_string(kRounds)}));
        for (auto& child : children) ASSERT_EQ(child.wait_exit_code(120s), 0);
        std::vector<qvr::ChannelRecord> back(2);
        ASSERT_EQ(cfg_LoadChannels(dir.c_str(), 0, back.data(), 0, 2, nullptr, 0, nullptr), 0)
            << sink_.last();
        for (int index : {0, 1})
            EXPECT_EQ(qvr::join_text(back[static_cast<std::size_t>(index)], qvr::ChannelText::Tag),
                      "P" + std::to_string(index) + "R" + std::to_string(kRounds - 1));
    }
}

}  // namespace
