// A process killed in the middle of saving a channel table leaves a table that loads whole:
// the old content or the new one, never a mixture.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cfg_test_support.h"
#include "qvr/cfg_channel_tables.h"
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

class SaveCrashTest : public cfg_test::ConfigTree {
  protected:
    void kill_during_saves(const std::string& dir, int kind) {
        std::mt19937 random(12345);
        for (int round = 0; round < 8; ++round) {
            auto child = qvr_test::ChildProcess::spawn(
                qvr_test::bin_path("cfg_test_helper"), {"save-loop", dir, std::to_string(kind), std::to_string(kChannels)},
                {}, true);
            ASSERT_NE(child.read_stdout(30s, "saving").find("saving"), std::string::npos) << child.read_stdout(0ms);
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

TEST_F(SaveCrashTest, AKilledBinarySaveLeavesAWholeTable) {
    kill_during_saves(device("tolva_3"), 0);
}

TEST_F(SaveCrashTest, AKilledXmlSaveLeavesAWholeTable) {
    set_switch("WriteXML", "BOTH");
    set_switch("ReadXML", "ON");
    kill_during_saves(device("tvall_1"), 3);
}

}  // namespace
