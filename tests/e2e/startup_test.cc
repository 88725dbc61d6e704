// Start-up and the ways out of the real tolva_sc process.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>

#include "scanner_rig.h"
#include "support/child_process.h"
#include "qvr/ipc/slot.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;
using e2e::ScannerRig;
using namespace std::chrono_literals;

TEST(StartUp, OpensTheDeviceToAttachedStartedAndNextDue) {
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    DeviceRecord* d = rig.device();
    EXPECT_EQ(d->ProcessId, static_cast<uint32_t>(scanner->pid()));
    EXPECT_EQ(d->Busy, 0);
    EXPECT_EQ(rig.status_text(), "");
    // The initial scan published the inputs.
    rig.network.set_value(e2e::kStationOne, "N7:0", 5);
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_EQ(rig.host.value("A1", 1), 5.0f);
    // The statistics channels show the scanner online, with its own records.
    EXPECT_TRUE(e2e::wait_until([&] { return (rig.host.status_word("A6", 1) & 1u) != 0; }));
    EXPECT_STREQ(chanrec_GetTag(rig.host.channel_record("A6", 1)), "TOLVA_1_ST");
    // What the link uses, for the host to see.
    tolva::DeviceConfigRecord shown;
    std::memcpy(&shown, d->DeviceConfig, sizeof shown);
    EXPECT_EQ(shown.Comm.ReplyAck, tolva::kDefaultReplyAck);
}

// The scanner asks for real-time scheduling unless told not to. Started without the right to
// it (setpriv drops CAP_SYS_NICE, so even root is refused), it must still open and scan.
TEST(StartUp, ARefusedRealTimeRequestLeavesTheScannerScanningAtNormalPriority) {
    const char* setpriv = "/usr/bin/setpriv";
    if (!fs::exists(setpriv)) GTEST_SKIP() << "no setpriv on this machine";
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    ::unsetenv("TOLVA_NO_REALTIME");
    auto scanner = rig.start({"--inh-caps=-sys_nice", "--bounding-set=-sys_nice",
                              qvr_test::bin_path("tolva_sc"), "1"},
                             setpriv);
    ::setenv("TOLVA_NO_REALTIME", "1", 1);
    ASSERT_TRUE(scanner);
    EXPECT_EQ(sched_getscheduler(scanner->pid()), SCHED_OTHER);
    rig.network.set_value(e2e::kStationOne, "N7:0", 11);
    ASSERT_TRUE(rig.scan(*scanner));
    EXPECT_EQ(rig.host.value("A1", 1), 11.0f);
}

// Refused at once, with the reason on standard error and a failure's exit code.
TEST(StartUp, ExitsAtOnceWithoutAUsableNameOrNumber) {
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    // A copy of the program whose name has no '_'.
    const fs::path plain = fs::path(qvr_test::test_root()) / "tolvasc";
    fs::copy_file(qvr_test::bin_path("tolva_sc"), plain);
    fs::copy_file(qvr_test::bin_path("libtslib.so"), plain.parent_path() / "libtslib.so");
    struct Case {
        std::vector<std::string> args;
        std::string program;
    };
    const Case cases[] = {
        {{"1"}, plain.string()}, {{"0"}, {}}, {{"65536"}, {}}, {{}, {}}, {{"1", "2"}, {}}, {{"7"}, {}},
    };
    for (const Case& c : cases) {
        auto process = rig.start(c.args, c.program, false);
        ASSERT_TRUE(process);
        EXPECT_EQ(ScannerRig::exit_code(process->wait(30s)), 87) << (c.args.empty() ? "(none)" : c.args[0]);
        EXPECT_EQ(rig.device()->Attached, 0);
        EXPECT_EQ(rig.device()->ProcessId, 0u);
    }
    EXPECT_EQ(rig.status_text(), "(no entry)");
}

TEST(StartUp, AMissingConfigurationFolderEndsTheProgramWithItsReason) {
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    fs::remove_all(rig.device_folder());
    auto process = rig.start({"1"}, {}, false);
    ASSERT_TRUE(process);
    EXPECT_EQ(ScannerRig::exit_code(process->wait(30s)), ENOENT);
    EXPECT_EQ(rig.status_text(), "CAN'T ACCESS CONFIG DIR -0002");
    EXPECT_EQ(rig.device()->Attached, 0);
}

// The statistics are set up once the scanner is attached, so the online channel shows it
// running even while its device cannot be opened (a counter input table never opens, so no
// scan and no traffic could set it later).
TEST(StartUp, TheOnlineChannelShowsTheScannerRunningWhileItsDeviceCannotOpen) {
    ScannerRig rig;
    qvr::ChannelRecord count = e2e::analog_input("COUNT", e2e::kStationOne, 7, 7, 5);
    count.head.Type = qvr::ChannelKind::CI;
    rig.spec.channels[4] = {count};
    rig.spec.codes[4] = "A5";
    ASSERT_EQ(rig.add_device(), 0);
    auto scanner = rig.start({"1"}, {}, false);
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(e2e::wait_until([&] { return rig.status_text() == "CI CHANNELS NOT SUPPORTED"; }));
    EXPECT_EQ(rig.device()->Attached, 1);
    EXPECT_NE(rig.host.status_word("A6", 1) & 1u, 0u) << "online channel reads DISABLED";
    ASSERT_TRUE(rig.send(*scanner, 31));
    EXPECT_EQ(ScannerRig::exit_code(scanner->wait(30s)), 0);
}

TEST(StartUp, StopsOnCommand31) {
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    ASSERT_TRUE(rig.send(*scanner, kScanCommandStop));
    EXPECT_EQ(ScannerRig::exit_code(scanner->wait(30s)), 0);
    EXPECT_EQ(rig.device()->Attached, 0);
    EXPECT_EQ(rig.host.status_word("A6", 1) & 1u, 0u);  // offline
    EXPECT_NE(rig.host.status_word("A1", 1) & 0x20u, 0u);
}

void stops_on(int signal) {
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    scanner->kill(signal);
    EXPECT_EQ(ScannerRig::exit_code(scanner->wait(30s)), 0);
    EXPECT_EQ(rig.device()->Attached, 0);
    EXPECT_EQ(rig.host.status_word("A6", 1) & 1u, 0u);
}

TEST(StartUp, StopsOnSigtermAsOnCommand31) {
    stops_on(SIGTERM);
}

TEST(StartUp, StopsOnSigintAsOnCommand31) {
    stops_on(SIGINT);
}

}  // namespace
