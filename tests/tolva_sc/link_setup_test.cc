// Link set-up from the device's serial settings, over real pseudo-terminals mapped to port
// names.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "link_test_support.h"
#include "platform/last_error.h"
#include "tolva_ex/records.h"

namespace {

using namespace link_test;

class LinkSetup : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(line_.open(), 0); }
    void map(const char* name) { ASSERT_EQ(sim_controller::map_port_name(name, line_.device_path()), 0); }

    sim_controller::PseudoTerminal line_;
};

TEST_F(LinkSetup, ZeroSettingsGetTheirDefaultsWrittenBack) {
    map("COM5");
    tolva::DeviceConfigRecord record{};
    tolva::Df1Link link;
    ASSERT_EQ(link.setup(record.Comm, 5), 0) << errno;
    EXPECT_EQ(tolva::comm_port(record.Comm), "COM5");
    EXPECT_EQ(record.Comm.BaudRate, 19200u);
    EXPECT_EQ(record.Comm.ReplyAck, 20u);
    EXPECT_EQ(record.Comm.ReplyTimeout, 5u);
    EXPECT_EQ(record.Comm.MaxRetries, 2u);
    EXPECT_EQ(record.Comm.MaxEnquires, 3u);
    EXPECT_EQ(link.timings().ack_timeout_ms, 10);
    EXPECT_EQ(link.timings().reply_timeout_ms, 5000);
    EXPECT_TRUE(link.is_open());
}

TEST_F(LinkSetup, ConfiguredSettingsAreKept) {
    map("COM2");
    tolva::CommSettings comm = comm_for("COM2", 300);
    comm.ReplyAck = 9;
    comm.ReplyTimeout = 1;
    comm.MaxRetries = 4;
    comm.MaxEnquires = 1;
    tolva::Df1Link link;
    ASSERT_EQ(link.setup(comm, 7), 0) << errno;
    EXPECT_EQ(tolva::comm_port(comm), "COM2");
    EXPECT_EQ(link.timings().ack_timeout_ms, 300);
    EXPECT_EQ(link.timings().reply_timeout_ms, 1000);
    EXPECT_EQ(link.timings().max_retries, 4u);
    EXPECT_EQ(link.timings().max_enquires, 1u);
}

// "COM100" takes all six bytes of the field; nothing may spill into the flags and limits
// that follow it in the shared record.
TEST_F(LinkSetup, ThreeDigitDeviceNumberFillsTheFieldAndNothingBeyond) {
    map("COM100");
    tolva::DeviceConfigRecord record{};
    record.Comm.ReadFirst = 1;
    record.Comm.ReadBack = 1;
    record.Comm.MaxRetries = 7;
    tolva::Df1Link link;
    ASSERT_EQ(link.setup(record.Comm, 100), 0) << errno;
    EXPECT_EQ(std::memcmp(record.Comm.CommPort, "COM100", 6), 0);
    EXPECT_EQ(record.Comm.ReadFirst, 1);
    EXPECT_EQ(record.Comm.ReadBack, 1);
    EXPECT_EQ(record.Comm.MaxRetries, 7u);
}

TEST_F(LinkSetup, DefaultNameThatDoesNotFitFailsAndWritesNothing) {
    tolva::DeviceConfigRecord record{};
    record.Comm.ReadFirst = 1;
    std::memset(record.Reserved32, 0xA5, sizeof record.Reserved32);
    const tolva::DeviceConfigRecord before = record;
    tolva::Df1Link link;
    EXPECT_EQ(link.setup(record.Comm, 1000), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(platform::last_error(), EINVAL);
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
    EXPECT_FALSE(link.is_open());
}

TEST_F(LinkSetup, OpenFailuresReturnThePortError) {
    map("COM3");
    struct Case {
        const char* port;
        uint32_t baud;
        int error;
    };
    const Case cases[] = {
        {"COM3", 12345, EINVAL},  // rate not in the table
        {"LPT1", 19200, ENOENT},  // neither mapped nor "COMn"
    };
    for (const auto& c : cases) {
        tolva::CommSettings comm = comm_for(c.port, c.baud);
        tolva::Df1Link link;
        EXPECT_EQ(link.setup(comm, 1), -1) << c.port;
        EXPECT_EQ(errno, c.error) << c.port;
        EXPECT_FALSE(link.is_open());
        // The limits are only filled once the port is open.
        EXPECT_EQ(comm.MaxRetries, 0u);
    }
}

TEST_F(LinkSetup, SecondLinkOnTheSamePortIsRefused) {
    map("COM4");
    tolva::CommSettings comm = comm_for("COM4");
    tolva::Df1Link first;
    ASSERT_EQ(first.setup(comm, 4), 0);
    tolva::Df1Link second;
    EXPECT_EQ(second.setup(comm, 4), -1);
    EXPECT_EQ(errno, EBUSY);
    // Set-up again on the same link gives the port back first.
    EXPECT_EQ(first.setup(comm, 4), 0) << errno;
    first.close();
    EXPECT_EQ(second.setup(comm, 4), 0) << errno;
}

}  // namespace
