// The link against a peer that is only a byte stream: the test holds the other side of a
// pseudo-terminal, puts the peer's bytes on it beforehand and reads back what the link wrote.
#include <gtest/gtest.h>
#include <unistd.h>

#include "link_test_support.h"
#include "platform/last_error.h"
#include "tolva_sc/link_codes.h"

namespace {

using namespace link_test;
namespace codes = tolva::link_error;

Bytes without_check(const Bytes& body) {
    Bytes w = wire(body);
    w.pop_back();
    return w;
}

const Bytes kReplyA = reply_to(request(1, 0x0056), standard_data());
const Bytes kReplyB = reply_to(request(1, 0x0057), standard_data());

struct ReceiveCase {
    const char* name;
    Bytes input;
    size_t capacity;
    int code;  // 0 for success
    Bytes body;
    Bytes written;
};

class Receive : public Wire, public testing::WithParamInterface<ReceiveCase> {};

TEST_P(Receive, AnswersAndResultFollowTheRules) {
    const ReceiveCase& c = GetParam();
    if (c.code == codes::kTimeout) set_reply_timeout(300);
    peer_sends(c.input);
    Bytes body;
    const int rc = receive(c.capacity, body);
    if (c.code == 0) {
        EXPECT_EQ(rc, 1) << std::hex << platform::last_error();
        EXPECT_EQ(body, c.body);
    } else {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(platform::last_error(), c.code) << std::hex << platform::last_error();
    }
    EXPECT_EQ(link_wrote(), c.written);
}

const Bytes kWithDle{0x00, 0x10, 0x4F, 0x00, 0x10, 0x10, 0x10, 0x03};
const Bytes kBrokenPair{D, 0x02, 0x01, 0x00, D, 0x41, 0x4F, D, 0x03, 0x00};

Bytes enquiry_inside(const Bytes& body) {
    Bytes w = wire(body);
    w.insert(w.begin() + 5, kEnq.begin(), kEnq.end());
    return w;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Receive,
    testing::Values(
        ReceiveCase{"good", wire(kReplyA), 256, 0, kReplyA, kAck},
        ReceiveCase{"stray_bytes_first", cat({{0x00, 0x41, D, 0x41, D, D}, wire(kReplyA)}), 256, 0, kReplyA,
                    kAck},
        ReceiveCase{"dle_doubled_in_body", wire(kWithDle), 256, 0, kWithDle, kAck},
        // An enquiry before the message is always answered with ACK.
        ReceiveCase{"enquiry_while_hunting", cat({kEnq, wire(kReplyA)}), 256, 0, kReplyA, cat({kAck, kAck})},
        // Inside a message it gets the last response, NAK at the start of a receive.
        ReceiveCase{"enquiry_inside_message", enquiry_inside(kReplyA), 256, 0, kReplyA, cat({kNak, kAck})},
        ReceiveCase{"bad_check_then_good", cat({with_bad_check(kReplyA), wire(kReplyA)}), 256, 0, kReplyA,
                    cat({kNak, kAck})},
        ReceiveCase{"bad_pair_then_good", cat({kBrokenPair, wire(kReplyA)}), 256, 0, kReplyA,
                    cat({kNak, kAck})},
        ReceiveCase{"third_nak_then_good", cat({repeat(with_bad_check(kReplyA), 3), wire(kReplyA)}), 256, 0,
                    kReplyA, cat({repeat(kNak, 3), kAck})},
        // With two transmissions allowed the fourth NAK ends the call.
        ReceiveCase{"fourth_nak_ends",
                    cat({repeat(with_bad_check(kReplyA), 4), wire(kReplyA)}),
                    256,
                    codes::kBcc,
                    {},
                    repeat(kNak, 4)},
        ReceiveCase{
            "fourth_bad_pair_ends", repeat(kBrokenPair, 4), 256, codes::kBadDlePair, {}, repeat(kNak, 4)},
        ReceiveCase{"empty_body", {D, 0x02, D, 0x03, 0x00}, 256, codes::kTooShort, {}, {}},
        ReceiveCase{"five_byte_body", wire({1, 2, 3, 4, 5}), 256, codes::kTooShort, {}, {}},
        ReceiveCase{"exactly_the_capacity", wire(kReplyA), 12, 0, kReplyA, kAck},
        // It arrived whole: acknowledged, so that the peer does not send it again.
        ReceiveCase{"longer_than_the_capacity", wire(kReplyA), 11, codes::kTooLong, {}, kAck},
        ReceiveCase{"longer_than_any_message", wire(Bytes(257, 0x01)), 256, codes::kTooLong, {}, {}},
        ReceiveCase{"silence", {}, 256, codes::kTimeout, {}, {}},
        ReceiveCase{"check_byte_missing", without_check(kReplyA), 256, codes::kTimeout, {}, {}}),
    [](const testing::TestParamInfo<ReceiveCase>& p) { return std::string(p.param.name); });

// A short message's check byte of 0x10 must not take the DLE of the message after it.
TEST_F(Wire, ShortMessageCheckByteIsDroppedSoTheNextMessageIsKept) {
    const Bytes short_body{0x01, 0x02, 0x03, 0x04, 0xE6};
    ASSERT_EQ(sim_controller::block_check(short_body), 0x10);
    peer_sends(cat({wire(short_body), wire(kReplyA)}));
    Bytes body;
    EXPECT_EQ(receive(256, body), 0);
    EXPECT_EQ(platform::last_error(), codes::kTooShort);
    EXPECT_EQ(link_wrote(), Bytes{}) << "no NAK for a short message";
    EXPECT_EQ(receive(256, body), 1) << std::hex << platform::last_error();
    EXPECT_EQ(body, kReplyA);
    EXPECT_EQ(link_.counters().length_errors, 1u);
}

TEST_F(Wire, RepeatedMessageIsAcknowledgedAgainAndIgnored) {
    peer_sends(cat({wire(kReplyA), wire(kReplyA), wire(kReplyB)}));
    Bytes body;
    ASSERT_EQ(receive(256, body), 1);
    EXPECT_EQ(body, kReplyA);
    ASSERT_EQ(receive(256, body), 1);
    EXPECT_EQ(body, kReplyB);
    EXPECT_EQ(link_wrote(), repeat(kAck, 3));
    EXPECT_EQ(link_.counters().duplicates, 1u);
    EXPECT_EQ(link_.counters().received_frames, 3u);
}

// Only SRC, CMD and TNS make a repeat: another DST or status is still the same message.
TEST_F(Wire, RepeatIsJudgedBySourceCommandAndTransaction) {
    Bytes other_status = kReplyA;
    other_status[0] = 0x07;
    other_status[3] = 0x10;
    Bytes other_source = kReplyA;
    other_source[1] = 0x02;
    peer_sends(cat({wire(kReplyA), wire(other_status), wire(other_source)}));
    Bytes body;
    ASSERT_EQ(receive(256, body), 1);
    ASSERT_EQ(receive(256, body), 1);
    EXPECT_EQ(body, other_source);
    EXPECT_EQ(link_.counters().duplicates, 1u);
}

struct SendCase {
    const char* name;
    Bytes answers;  // waiting on the line before the send
    int code;
    int transmissions;
    int enquiries;
};

class Send : public Wire, public testing::WithParamInterface<SendCase> {};

TEST_P(Send, TransmitsAndEnquiresPerTheAnswers) {
    const SendCase& c = GetParam();
    const Bytes message = request(0x10, 0x1010, {0xA2, 0x10, 0x07, 0x89, 0x00, 0x00});
    peer_sends(c.answers);
    const int rc = link_.send_message(message);
    if (c.code == 0) {
        EXPECT_EQ(rc, 1) << std::hex << platform::last_error();
    } else {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(platform::last_error(), c.code) << std::hex << platform::last_error();
    }
    Bytes expected = repeat(wire(message), c.transmissions);
    // Enquiries follow the last transmission here: every answer is on the line before.
    expected = cat({expected, repeat(kEnq, c.enquiries)});
    EXPECT_EQ(link_wrote(), expected);
    EXPECT_EQ(link_.counters().sent_frames, static_cast<uint64_t>(c.transmissions));
    EXPECT_EQ(link_.counters().enquiries_sent, static_cast<uint64_t>(c.enquiries));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Send,
    testing::Values(SendCase{"ack", kAck, 0, 1, 0},
                    SendCase{"stray_bytes_then_ack", {0x00, 0x41, D, 0x41, D, 0x06}, 0, 1, 0},
                    SendCase{"nak_then_ack", cat({kNak, kAck}), 0, 2, 0},
                    SendCase{"nak_twice", cat({kNak, kNak}), codes::kNak, 2, 0},
                    SendCase{"silence", {}, codes::kTimeout, 1, 3},
                    // DLE DLE 06 is a doubled DLE and a data byte, not an ACK.
                    SendCase{"doubled_dle_is_no_ack", {D, D, 0x06}, codes::kTimeout, 1, 3},
                    SendCase{"nak_then_silence", kNak, codes::kTimeout, 2, 3}),
    [](const testing::TestParamInfo<SendCase>& p) { return std::string(p.param.name); });

TEST_F(Wire, CountersFollowTheTraffic) {
    peer_sends(cat({kNak, kAck, with_bad_check(kReplyA), wire(kReplyA)}));
    const Bytes message = request(1, 0x0056);
    ASSERT_EQ(link_.send_message(message), 1);
    Bytes body;
    ASSERT_EQ(receive(256, body), 1);
    const tolva::LinkCounters& c = link_.counters();
    EXPECT_EQ(c.sent_frames, 2u);
    EXPECT_EQ(c.naks_received, 1u);
    EXPECT_EQ(c.bcc_errors, 1u);
    EXPECT_EQ(c.naks_sent, 1u);
    EXPECT_EQ(c.received_frames, 1u);
    EXPECT_EQ(c.received_bytes, 4 + 2 * wire(kReplyA).size());
    EXPECT_EQ(c.sent_bytes, 2 * wire(message).size() + 4);
    EXPECT_EQ(link_wrote().size(), c.sent_bytes);
}

TEST_F(Wire, TraceShowsDecodedTrafficOnlyWhileSwitchedOn) {
    std::string lines;
    bool on = false;
    link_.set_trace([&](std::string_view line) { lines += std::string(line) + "\n"; }, [&] { return on; });
    peer_sends(cat({kAck, with_bad_check(kReplyA), wire(kReplyA)}));
    ASSERT_EQ(link_.send_message(request(1, 0x0056)), 1);
    EXPECT_EQ(lines, "");
    on = true;
    Bytes body;
    ASSERT_EQ(receive(256, body), 1);
    EXPECT_EQ(lines,
              "RX block check error: DST=00 SRC=01 CMD=4F STS=00 TNS=0056 [12] 00 01 4F 00 56 00 34 12 10 00 "
              "FF 7F BCC "
              "87, expected 86\n"
              "TX NAK (1)\n"
              "RX DST=00 SRC=01 CMD=4F STS=00 TNS=0056 [12] 00 01 4F 00 56 00 34 12 10 00 FF 7F, TX ACK\n");
}

TEST_F(Wire, PeerGoneIsAnErrorNotAHang) {
    ::close(peer_);
    peer_ = -1;
    EXPECT_EQ(link_.send_message(request(1, 1)), 0);
    EXPECT_EQ(platform::last_error(), EIO);
    Bytes body;
    EXPECT_EQ(receive(256, body), 0);
    EXPECT_EQ(platform::last_error(), EIO);
}

}  // namespace
