// The host's commands reach the real tolva_sc without a wake-up lost: scans asked for back to
// back are each answered, and a stop ends the scanner whatever it was doing.
#include <gtest/gtest.h>

#include "qvr/ipc/slot.h"
#include "scanner_rig.h"

namespace {

using e2e::ScannerRig;
using namespace std::chrono_literals;

TEST(Commands, ScansSentBackToBackAreEachAnsweredAndEveryStopEndsTheScanner) {
    // The next scan command goes out the moment the previous scan is seen done: the
    // scanner is then between its last round and its next wait, where a lost wake-up would
    // leave a scan unanswered.
    constexpr int kLifetimes = 6;
    constexpr int kScans = 50;
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    for (int life = 0; life < kLifetimes; ++life) {
        auto scanner = rig.start();
        ASSERT_TRUE(scanner) << "start " << life;
        for (int scan = 0; scan < kScans; ++scan) {
            rig.network.set_value(e2e::kStationOne, "N7:0", static_cast<int16_t>(life * kScans + scan));
            ASSERT_TRUE(rig.scan(*scanner)) << "scan " << scan << " of start " << life << " not answered";
            ASSERT_EQ(rig.host.value("A1", 1), static_cast<float>(life * kScans + scan));
        }
        ASSERT_TRUE(rig.send(*scanner, kScanCommandStop));
        EXPECT_EQ(ScannerRig::exit_code(scanner->wait(30s)), 0) << "stop " << life;
        EXPECT_EQ(rig.device()->Attached, 0);
    }
}

TEST(Commands, AStopRightBehindScanCommandsEndsTheScanner) {
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    for (int life = 0; life < 5; ++life) {
        auto scanner = rig.start();
        ASSERT_TRUE(scanner) << "start " << life;
        for (int i = 0; i < life; ++i) ASSERT_TRUE(rig.send(*scanner, kScanCommandScan));
        ASSERT_TRUE(rig.send(*scanner, kScanCommandStop));
        EXPECT_EQ(ScannerRig::exit_code(scanner->wait(30s)), 0) << "stop after " << life << " scans";
    }
}

}  // namespace
