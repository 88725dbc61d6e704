// Framing and block check against frames worked out by hand.
#include "tolva_sc/df1_frame.h"

#include <gtest/gtest.h>

#include "tolva_ex/records.h"
#include "tolva_sc/link_timings.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct FrameCase {
    const char* name;
    Bytes message;
    Bytes frame;
};

class Framing : public testing::TestWithParam<FrameCase> {};

TEST_P(Framing, MatchesTheWireBytes) {
    Bytes frame;
    tolva::df1::encode_frame(GetParam().message, frame);
    EXPECT_EQ(frame, GetParam().frame);
}

INSTANTIATE_TEST_SUITE_P(
    Worked, Framing,
    testing::Values(
        // Typed read of 82 bytes of N7:0 from station 1, TNS 0x0056.
        FrameCase{"typed_read",
                  {0x01, 0x00, 0x0F, 0x00, 0x56, 0x00, 0xA2, 0x52, 0x07, 0x89, 0x00, 0x00},
                  {0x10, 0x02, 0x01, 0x00, 0x0F, 0x00, 0x56, 0x00, 0xA2, 0x52, 0x07, 0x89, 0x00, 0x00, 0x10,
                   0x03, 0x16}},
        // 0x10 as DST, TNS low byte and size: each doubled, each counted once in the check.
        FrameCase{"dle_doubled",
                  {0x10, 0x00, 0x0F, 0x00, 0x10, 0x00, 0xA2, 0x10, 0x07, 0x89, 0x00, 0x00},
                  {0x10, 0x02, 0x10, 0x10, 0x00, 0x0F, 0x00, 0x10, 0x10, 0x00,
                   0xA2, 0x10, 0x10, 0x07, 0x89, 0x00, 0x00, 0x10, 0x03, 0x8F}},
        // A check byte of 0x10 is not doubled: it follows DLE ETX.
        FrameCase{"check_byte_dle", {0xF0}, {0x10, 0x02, 0xF0, 0x10, 0x03, 0x10}},
        FrameCase{"empty", {}, {0x10, 0x02, 0x10, 0x03, 0x00}}),
    [](const testing::TestParamInfo<FrameCase>& p) { return std::string(p.param.name); });

TEST(BlockCheck, SumOfMessageAndCheckIsZero) {
    const Bytes message{0x01, 0x00, 0x0F, 0x00, 0x56, 0x00, 0xA2, 0x52, 0x07, 0x89, 0x00, 0x00};
    const uint8_t bcc = tolva::df1::block_check(message);
    EXPECT_EQ(bcc, 0x16);
    unsigned sum = bcc;
    for (uint8_t b : message) sum += b;
    EXPECT_EQ(sum & 0xFF, 0u);
}

struct TimingCase {
    uint32_t baud;
    uint32_t reply_ack;
    int64_t ack_ms;
};

TEST(LinkTimings, AckTimeoutIsTheTimeOfReplyAckCharacters) {
    const TimingCase cases[] = {
        {19200, 20, 10}, {300, 20, 666}, {9600, 20, 20}, {38400, 20, 5}, {230400, 1, 0}, {1200, 3, 25},
    };
    for (const auto& c : cases) {
        tolva::CommSettings comm{};
        comm.BaudRate = c.baud;
        comm.ReplyAck = c.reply_ack;
        comm.ReplyTimeout = 5;
        comm.MaxRetries = 2;
        comm.MaxEnquires = 3;
        const tolva::LinkTimings t = tolva::link_timings(comm);
        EXPECT_EQ(t.ack_timeout_ms, c.ack_ms) << c.baud << " baud, " << c.reply_ack;
        EXPECT_EQ(t.control_write_ms, c.ack_ms);
        EXPECT_EQ(t.reply_timeout_ms, 5000);
        EXPECT_EQ(t.message_write_ms, 5000);
        EXPECT_EQ(t.max_retries, 2u);
        EXPECT_EQ(t.max_enquires, 3u);
    }
}

// Settings are u32 from a file: the products must not wrap into short waits.
TEST(LinkTimings, HugeSettingsClampInsteadOfWrapping) {
    tolva::CommSettings comm{};
    comm.BaudRate = 300;
    comm.ReplyAck = 0xFFFFFFFF;
    comm.ReplyTimeout = 0xFFFFFFFF;
    comm.MaxRetries = 0xFFFFFFFF;
    comm.MaxEnquires = 0xFFFFFFFF;
    const tolva::LinkTimings t = tolva::link_timings(comm);
    EXPECT_EQ(t.ack_timeout_ms, tolva::kMaxLinkBudgetMs);
    EXPECT_EQ(t.reply_timeout_ms, tolva::kMaxLinkBudgetMs);
    EXPECT_EQ(t.message_write_ms, tolva::kMaxLinkBudgetMs);

    // Each transmission may hold a command for a reply time-out: held to the limit.
    EXPECT_EQ(t.max_retries, tolva::kMaxRetriesLimit);
    tolva::apply_link_defaults(comm);
    EXPECT_EQ(comm.MaxRetries, tolva::kMaxRetriesLimit);
    comm.MaxRetries = tolva::kMaxRetriesLimit;
    tolva::apply_link_defaults(comm);
    EXPECT_EQ(comm.MaxRetries, tolva::kMaxRetriesLimit);

    // 4294968 s is the first value whose milliseconds do not fit 32 bits.
    comm.ReplyTimeout = 4294968;
    EXPECT_EQ(tolva::link_timings(comm).reply_timeout_ms, tolva::kMaxLinkBudgetMs);
    comm.ReplyTimeout = 2147483;
    EXPECT_EQ(tolva::link_timings(comm).reply_timeout_ms, 2147483000);
}

}  // namespace
