// The interface module sends a reply once more now and then, often one of the other station
// while the scanner waits for the next: every such repeat is acknowledged and dropped, and no
// channel of a healthy station fails or shows a value that is not the controller's current one.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "qvr/host/chan.h"
#include "scanner_rig.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

using e2e::kStationOne;
using e2e::kStationTwo;
using sim_controller::Direction;
using sim_controller::EntryKind;

constexpr uint32_t kFailed = 0x20;

// Counts, as the module logs them, the repeats whose source is not the station its last
// request went to: the scanner waits for one station and gets the other's reply again.
class RepeatsOfAnotherStation {
  public:
    void see(const sim_controller::LogEntry& e) {
        if (e.direction == Direction::in && e.kind == EntryKind::frame && !e.body.empty()) asked_ = e.body[0];
        const bool repeat = e.direction == Direction::out && e.kind == EntryKind::frame && e.count == 1 &&
                            e.note == "sent again by the fault script";
        if (repeat && e.body.size() > 1 && e.body[1] != asked_) ++count_;
    }
    size_t count() const { return count_; }

  private:
    int asked_ = -1;  // the module's thread only
    std::atomic<size_t> count_{0};
};

TEST(RepeatedReplies, NeitherFailNorCorruptTheChannelsOfHealthyStations) {
    constexpr int kScans = 2000;
    // The count is taken as the module logs; it keeps only a short log.
    sim_rig::ScannerRig rig({.tree_root = qvr_test::test_root(),
                             .scanner_program = qvr_test::bin_path("tolva_sc"),
                             .log_limit = 4096});
    // Nothing here is lost on the line, so no wait is to end by time: ACK and reply waits are
    // long enough for a loaded machine.
    rig.config.Comm.ReplyAck = 3840;  // 2 s at 19200 baud
    rig.config.Comm.ReplyTimeout = 10;
    ASSERT_EQ(rig.add_device(), 0);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(rig.scan(*scanner));

    auto repeats = std::make_shared<RepeatsOfAnotherStation>();
    rig.module->set_log_observer([repeats](const sim_controller::LogEntry& e) { repeats->see(e); });
    sim_controller::RandomFaults faults;
    faults.seed = 37;
    faults.duplicate_reply = 0.2;
    rig.module->set_random_faults(faults);

    std::vector<std::string> wrong;
    auto expect_channel = [&](int scan, const char* code, int channel, float expected) {
        const uint32_t w = rig.host.status_word(code, channel);
        const float v = rig.host.value(code, channel);
        if ((w & kFailed) != 0 || v != expected) {
            wrong.push_back("scan " + std::to_string(scan) + " " + code + " " + std::to_string(channel) +
                            ": word " + std::to_string(w) + " value " + std::to_string(v) + ", expected " +
                            std::to_string(expected));
        }
    };
    auto expect_state = [&](int scan, int channel, uint32_t state) {
        const uint32_t w = rig.host.status_word("A2", channel);
        if ((w & kFailed) != 0 || (w & 1u) != state) {
            wrong.push_back("scan " + std::to_string(scan) + " DI " + std::to_string(channel) + ": word " +
                            std::to_string(w));
        }
    };

    for (int i = 0; i < kScans && wrong.size() < 20; ++i) {
        // New values every scan: a reply of an earlier read taken for this one would show.
        const auto level = static_cast<int16_t>(i);
        const float temp = 0.25f * static_cast<float>(i);
        const auto remote = static_cast<int16_t>(-3 * i);
        rig.network.set_value(kStationOne, "N7:0", level);
        rig.network.set_value(kStationOne, "F8:1", temp);
        rig.network.set_value(kStationTwo, "N7:0", remote);
        rig.network.set_value(kStationOne, "B3:0/0", i % 2);
        rig.network.set_value(kStationOne, "B3:0/1", (i / 3) % 2);
        const auto setpoint = static_cast<float>(i % 50);
        ASSERT_EQ(chan_SetAnalogValues("A3", 1, 1, &setpoint), 0);
        ASSERT_TRUE(rig.scan(*scanner)) << "scan " << i;

        expect_channel(i, "A1", 1, level);
        expect_channel(i, "A1", 2, temp);
        expect_channel(i, "A1", 3, remote);
        expect_state(i, 1, static_cast<uint32_t>(i % 2));
        expect_state(i, 2, static_cast<uint32_t>((i / 3) % 2));
        if ((rig.host.status_word("A3", 1) & kFailed) != 0)
            wrong.push_back("scan " + std::to_string(i) + " AO 1");
        // Each setpoint reached the controller in its own scan.
        const std::optional<double> written = rig.network.value(kStationOne, "N7:10");
        if (written != setpoint)
            wrong.push_back("scan " + std::to_string(i) + " N7:10 = " + std::to_string(written.value_or(-1)));
    }
    rig.module->set_random_faults({});
    rig.module->set_log_observer({});

    EXPECT_TRUE(wrong.empty()) << wrong.size() << " failed or wrong samples, first: " << wrong.front();
    // The repeats were there, hundreds of them of the other station while the scanner waited.
    EXPECT_GT(repeats->count(), 100u);
    RecordProperty("repeats_of_another_station", static_cast<int>(repeats->count()));
}

}  // namespace
