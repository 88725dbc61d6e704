// Output values that the host asked for survive a restart of the scanner: saved on the way
// out (also when stopped by a signal) and written again by the next scanner.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <fstream>

#include "qvr/host/chan.h"
#include "scanner_rig.h"

namespace {

using e2e::kStationOne;
using e2e::ScannerRig;
using namespace std::chrono_literals;

void outputs_survive(bool by_signal) {
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    rig.write_autosave(true, false, 60'000);  // the exit saves long before the timer would
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    const float setpoint = 21;
    const uint32_t pump = 1;
    ASSERT_EQ(chan_SetAnalogValues("A3", 1, 1, &setpoint), 0);
    ASSERT_EQ(chan_SetDigitalValues("A4", 1, 1, &pump), 0);
    ASSERT_TRUE(rig.scan(*scanner));
    ASSERT_EQ(rig.network.value(kStationOne, "N7:10"), 21.0);
    ASSERT_EQ(rig.network.value(kStationOne, "B3:1/0"), 1.0);
    if (by_signal)
        scanner->kill(SIGTERM);
    else
        rig.send(*scanner, kScanCommandStop);
    ASSERT_EQ(ScannerRig::exit_code(scanner->wait(30s)), 0);

    // Meanwhile the controller lost its values and the host's modules were cleared.
    rig.network.set_value(kStationOne, "N7:10", 0);
    rig.network.set_value(kStationOne, "B3:1/0", 0);
    rig.host.set_value("A3", 1, 0);
    rig.host.set_status_word("A4", 1, rig.host.status_word("A4", 1) & ~1u);

    auto again = rig.start();
    ASSERT_TRUE(again);
    EXPECT_EQ(rig.network.value(kStationOne, "N7:10"), 21.0);
    EXPECT_EQ(rig.network.value(kStationOne, "B3:1/0"), 1.0);
    EXPECT_EQ(rig.host.value("A3", 1), 21.0f);
    EXPECT_EQ(rig.host.status_word("A4", 1) & 1u, 1u);
}

TEST(Restart, OutputsSurviveAStopByCommand) {
    outputs_survive(false);
}

TEST(Restart, OutputsSurviveAStopBySigterm) {
    outputs_survive(true);
}

TEST(Restart, OutputsAreSavedOnTheirTimerWhileTheScannerRuns) {
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    rig.write_autosave(true, false, 300);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    const float speed = 3.5f;
    ASSERT_EQ(chan_SetAnalogValues("A3", 2, 2, &speed), 0);
    ASSERT_TRUE(rig.scan(*scanner));
    // No further command: the save comes when its time does.
    const auto bin = rig.host.config_tree().saved_values() / "TOLVA_1_ao.bin";
    const auto saved_speed = [&] {
        std::ifstream in(bin, std::ios::binary);
        char record[32] = {};
        if (!in.read(record, sizeof record)) return 0.0f;
        float v;
        std::memcpy(&v, record + 16 + 12, sizeof v);  // channel 2's value
        return v;
    };
    EXPECT_TRUE(e2e::wait_until([&] { return saved_speed() == 3.5f; }));
    // The killed scanner had no way out, yet the value is kept.
    scanner->kill(SIGKILL);
    scanner->wait(30s);
    rig.host.set_value("A3", 2, 0);
    auto again = rig.start();
    ASSERT_TRUE(again);
    EXPECT_EQ(rig.host.value("A3", 2), 3.5f);
    EXPECT_EQ(rig.network.value(kStationOne, "F8:5"), 3.5);
}

}  // namespace
