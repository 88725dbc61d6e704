// Repeated and late replies on the line while the scanner waits for another one: a repeat of
// the last accepted message is acknowledged and dropped whatever its length and whenever it
// comes, and a reply of an earlier transaction is skipped, so the read in progress still gets
// its own reply. The test is the peer on the other side of a pseudo-terminal.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "link_test_support.h"
#include "platform/last_error.h"
#include "tolva_sc/link_codes.h"
#include "tolva_sc/message_link.h"
#include "tolva_sc/pccc_codes.h"
#include "tolva_sc/pccc_commands.h"

namespace {

using namespace link_test;
namespace codes = tolva::link_error;

constexpr uint8_t kModule = 9;
constexpr uint16_t kFirstTns = 0x55;  // the first request of a process
constexpr uint16_t kSecondTns = 0x56;

Bytes reply(uint8_t src, uint16_t tns, Bytes data, uint8_t cmd = 0x4F, uint8_t sts = 0) {
    Bytes body{0x00, src, cmd, sts, static_cast<uint8_t>(tns & 0xFF), static_cast<uint8_t>(tns >> 8)};
    body.insert(body.end(), data.begin(), data.end());
    return body;
}

// The reply of the first read (4 bytes of station 1 or 2), accepted before the second read
// (2 bytes of station 2) goes out: the one the peer may send again. It is longer than the
// second read's reply may be.
const Bytes kEarlier = reply(1, kFirstTns, {0x11, 0x22, 0x33, 0x44});
const Bytes kEarlierOfTwo = reply(2, kFirstTns, {0x11, 0x22, 0x33, 0x44});
const Bytes kAnswer = reply(2, kSecondTns, {0x34, 0x12});
// Replies of transactions never seen to their end: late, not repeats.
const Bytes kLate = reply(1, 0x54, {0x55, 0x66, 0x77, 0x88});
const Bytes kLateOwn = reply(2, 0x53, {0x99, 0x99});
const Bytes kLateOtherCommand = reply(2, 0x54, {0x00, 0x49, 0x00, 0x00}, 0x46);
const Bytes kLateFromModule = reply(kModule, 0x54, {}, 0x4F, 0x02);

// What the link wrote, in words: "frame" for a message, "ACK", "NAK", "ENQ".
std::string words(const Bytes& bytes) {
    sim_controller::StreamParser parser;
    std::string out;
    for (uint8_t b : bytes) {
        const auto event = parser.feed(b);
        if (!event) continue;
        if (!out.empty()) out += ' ';
        if (event->skipped != 0) out += "stray ";
        switch (event->kind) {
            case sim_controller::ParsedEvent::Kind::frame:
                out += "frame";
                break;
            case sim_controller::ParsedEvent::Kind::ack:
                out += "ACK";
                break;
            case sim_controller::ParsedEvent::Kind::nak:
                out += "NAK";
                break;
            case sim_controller::ParsedEvent::Kind::enq:
                out += "ENQ";
                break;
            default:
                out += "bad";
                break;
        }
    }
    return out;
}

struct Ordering {
    const char* name;
    uint8_t first_station;
    Bytes peer;  // on the line once the first read is over
    int code;    // of the second read, 0 for its data
    std::string written;
    uint64_t repeats;
};

void PrintTo(const Ordering& o, std::ostream* os) {
    *os << o.name;
}

class Commands : public Wire, public testing::WithParamInterface<Ordering> {
  protected:
    // A read of `bytes` bytes of N7:0 of `station` into `data`.
    int read(uint8_t station, int16_t bytes, Bytes& data, int& code) {
        data.assign(static_cast<size_t>(bytes), 0xEE);
        tolva::TransferRequest r;
        r.station = station;
        r.file_type = 7;
        r.file_number = 7;
        r.byte_count = bytes;
        r.data = data;
        const int rc = commands_.read_block(r, 0x49);
        code = r.result;
        return rc;
    }

    tolva::Df1MessageLink messages_{link_};
    tolva::PcccCommands commands_{messages_, [] { return true; },
                                  [] { return std::optional<uint8_t>(kModule); }};
};

TEST_P(Commands, TheReadInProgressGetsItsOwnReply) {
    const Ordering& c = GetParam();
    Bytes data;
    int code = 0;
    peer_sends(cat({kAck, wire(c.first_station == 1 ? kEarlier : kEarlierOfTwo)}));
    ASSERT_EQ(read(c.first_station, 4, data, code), 1) << std::hex << code;
    EXPECT_EQ(words(link_wrote()), "frame ACK");

    peer_sends(c.peer);
    if (c.code == codes::kTimeout) set_reply_timeout(300);
    const int rc = read(2, 2, data, code);
    if (c.code == 0) {
        EXPECT_EQ(rc, 1) << std::hex << code;
        EXPECT_EQ(data, (Bytes{0x34, 0x12}));
    } else {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(code, c.code) << std::hex << code;
        EXPECT_EQ(data, (Bytes{0xEE, 0xEE})) << "no data from a reply that is not the read's";
    }
    EXPECT_EQ(words(link_wrote()), c.written);
    EXPECT_EQ(link_.counters().duplicates, c.repeats);
}

INSTANTIATE_TEST_SUITE_P(
    Orderings, Commands,
    testing::Values(Ordering{"repeat_of_another_station_after_the_ack", 1,
                             cat({kAck, wire(kEarlier), wire(kAnswer)}), 0, "frame ACK ACK", 1},
                    // Full duplex: the peer's frame may come before its answer to ours.
                    Ordering{"repeat_before_the_ack", 1, cat({wire(kEarlier), kAck, wire(kAnswer)}), 0,
                             "frame ACK ACK", 1},
                    Ordering{"repeat_after_an_enquiry", 1, cat({kAck, kEnq, wire(kEarlier), wire(kAnswer)}),
                             0, "frame ACK ACK ACK", 1},
                    // The peer missed our ACK of the repeat and asks again before its real reply.
                    Ordering{"enquiry_between_the_repeat_and_the_reply", 1,
                             cat({kAck, wire(kEarlier), kEnq, wire(kAnswer)}), 0, "frame ACK ACK ACK", 1},
                    Ordering{"repeat_damaged_then_sent_again", 1,
                             cat({kAck, with_bad_check(kEarlier), wire(kEarlier), wire(kAnswer)}), 0,
                             "frame NAK ACK ACK", 1},
                    Ordering{"repeat_damaged_before_the_ack", 1,
                             cat({with_bad_check(kEarlier), kAck, wire(kAnswer)}), 0, "frame NAK ACK", 0},
                    Ordering{"repeat_of_the_same_station", 2, cat({kAck, wire(kEarlierOfTwo), wire(kAnswer)}),
                             0, "frame ACK ACK", 1},
                    Ordering{"late_reply_of_another_station", 1, cat({kAck, wire(kLate), wire(kAnswer)}), 0,
                             "frame ACK ACK", 0},
                    Ordering{"late_reply_before_the_ack", 1, cat({wire(kLate), kAck, wire(kAnswer)}), 0,
                             "frame ACK ACK", 0},
                    Ordering{"late_reply_of_the_same_station", 1, cat({kAck, wire(kLateOwn), wire(kAnswer)}),
                             0, "frame ACK ACK", 0},
                    Ordering{"late_reply_to_another_command", 1,
                             cat({kAck, wire(kLateOtherCommand), wire(kAnswer)}), 0, "frame ACK ACK", 0},
                    Ordering{"late_answer_of_the_module", 1,
                             cat({kAck, wire(kLateFromModule), wire(kAnswer)}), 0, "frame ACK ACK", 0},
                    Ordering{"reply_damaged_then_sent_again", 1,
                             cat({kAck, with_bad_check(kAnswer), wire(kAnswer)}), 0, "frame NAK ACK", 0},
                    // What still ends the read: its own reply longer than asked, and no reply of its own
                    // within the reply time-out.
                    Ordering{"own_reply_too_long", 1, cat({kAck, wire(reply(2, kSecondTns, {1, 2, 3, 4}))}),
                             codes::kTooLong, "frame ACK", 0},
                    Ordering{"only_a_repeat", 1, cat({kAck, wire(kEarlier)}), codes::kTimeout, "frame ACK",
                             1}),
    [](const testing::TestParamInfo<Ordering>& p) { return std::string(p.param.name); });

TEST_F(Wire, ARepeatLongerThanTheBufferIsAcknowledgedAndDropped) {
    peer_sends(wire(kEarlier));
    Bytes body;
    ASSERT_EQ(receive(256, body), 1);
    peer_sends(cat({wire(kEarlier), wire(kAnswer)}));
    ASSERT_EQ(receive(kAnswer.size(), body), 1) << std::hex << platform::last_error();
    EXPECT_EQ(body, kAnswer);
    EXPECT_EQ(link_wrote(), repeat(kAck, 3));
    EXPECT_EQ(link_.counters().duplicates, 1u);
}

TEST_F(Wire, AMessageBeforeTheAnswerIsAcknowledgedAndKeptForTheNextReceive) {
    const Bytes req = request(2, kSecondTns);
    peer_sends(cat({wire(kAnswer), kAck}));
    ASSERT_EQ(link_.send_message(req), 1) << std::hex << platform::last_error();
    EXPECT_EQ(link_wrote(), cat({wire(req), kAck}));
    Bytes body;
    ASSERT_EQ(receive(256, body), 1) << std::hex << platform::last_error();
    EXPECT_EQ(body, kAnswer);
    EXPECT_EQ(link_wrote(), Bytes{}) << "taken already";
    EXPECT_EQ(link_.counters().received_frames, 1u);
    // Kept once only: the line is silent now.
    set_reply_timeout(100);
    EXPECT_EQ(receive(256, body), 0);
    EXPECT_EQ(platform::last_error(), codes::kTimeout);
}

}  // namespace
