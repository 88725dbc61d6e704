// Scripted exchanges between the link and the interface-module stand-in over a real
// pseudo-terminal: the module's fault script decides what goes wrong, the test checks what
// the link returns and what crossed the line.
#include <gtest/gtest.h>

#include <cerrno>

#include "link_test_support.h"
#include "platform/last_error.h"
#include "tolva_sc/link_codes.h"

namespace {

using namespace link_test;
using sim_controller::Direction;
using sim_controller::EntryKind;
using sim_controller::FaultAction;
using sim_controller::FaultKind;
namespace codes = tolva::link_error;

class Flow : public ModuleLine {};

TEST_F(Flow, CleanTransactionReturnsTheStationsReply) {
    start_module();
    open_link();
    const Bytes req = request(kStation, 0x0056);
    Bytes reply;
    int code = 0;
    ASSERT_EQ(transact(req, reply, code), 1) << std::hex << code << "\n" << trace_;
    EXPECT_EQ(reply, reply_to(req, standard_data()));
    EXPECT_TRUE(module_->wait_for_log(
        [](const auto& log) {
            return sim_controller::count_entries(log, Direction::in, EntryKind::ack) == 1;
        },
        5s));
    EXPECT_EQ(module_->stats().replies, 1u);
    EXPECT_NE(trace_.find("TX DST=01 SRC=00 CMD=0F STS=00 TNS=0056 [12]"), std::string::npos) << trace_;
    EXPECT_NE(trace_.find("RX DST=00 SRC=01 CMD=4F STS=00 TNS=0056 [12]"), std::string::npos) << trace_;
}

TEST_F(Flow, NakThenAckSucceedsOnTheSecondTransmission) {
    start_module();
    module_->add_fault(1, {FaultKind::nak});
    open_link();
    Bytes reply;
    int code = 0;
    ASSERT_EQ(transact(request(kStation, 0x0100), reply, code), 1) << std::hex << code << "\n"
                                                                   << module_log();
    EXPECT_EQ(link_.counters().sent_frames, 2u);
    EXPECT_EQ(link_.counters().naks_received, 1u);
    EXPECT_EQ(count(Direction::out, EntryKind::nak), 1u);
}

TEST_F(Flow, LostAckIsRecoveredByAnEnquiry) {
    start_module();
    module_->add_fault(1, {FaultKind::drop_response});
    open_link(lost_answer_timings());
    const Bytes req = request(kStation, 0x0101);
    Bytes reply;
    int code = 0;
    ASSERT_EQ(transact(req, reply, code), 1) << std::hex << code << "\n" << module_log();
    EXPECT_EQ(reply, reply_to(req, standard_data()));
    EXPECT_EQ(link_.counters().sent_frames, 1u);
    EXPECT_EQ(link_.counters().enquiries_sent, 1u);
    EXPECT_EQ(link_.counters().ack_timeouts, 1u);
    EXPECT_EQ(count(Direction::in, EntryKind::enq), 1u);
}

// The enquiry count belongs to the message: a retransmission does not renew it.
TEST_F(Flow, EnquiriesRunOutAcrossRetransmissions) {
    start_module();
    // First frame: refused, and that NAK and the answer to the first enquiry are lost; the
    // second enquiry brings the NAK. Second frame: nothing comes back at all.
    module_->add_fault(1, {FaultKind::nak});
    module_->add_fault(1, {FaultKind::drop_response, 2});
    module_->add_fault(2, {FaultKind::drop_response, 100});
    open_link(lost_answer_timings());
    EXPECT_EQ(link_.send_message(request(kStation, 0x0102)), 0);
    EXPECT_EQ(platform::last_error(), codes::kTimeout) << std::hex << platform::last_error() << "\n"
                                                       << module_log();
    EXPECT_EQ(link_.counters().sent_frames, 2u);
    EXPECT_EQ(link_.counters().enquiries_sent, 3u);
    EXPECT_EQ(link_.counters().naks_received, 1u);
    EXPECT_TRUE(module_->wait_for_log(
        [](const auto& log) {
            return sim_controller::count_entries(log, Direction::in, EntryKind::enq) == 3;
        },
        5s))
        << module_log();
}

TEST_F(Flow, TransmissionsRunOutOnRepeatedNaks) {
    start_module();
    module_->add_fault(1, {FaultKind::nak, 2});
    open_link();
    EXPECT_EQ(link_.send_message(request(kStation, 0x0103)), 0);
    EXPECT_EQ(platform::last_error(), codes::kNak);
    EXPECT_EQ(link_.counters().sent_frames, 2u);
    EXPECT_EQ(link_.counters().naks_received, 2u);
    EXPECT_EQ(link_.counters().enquiries_sent, 0u);
}

TEST_F(Flow, RepeatedReplyIsAcknowledgedAgainAndIgnored) {
    start_module();
    module_->add_fault(2, {FaultKind::duplicate_reply});
    open_link();
    Bytes reply;
    int code = 0;
    ASSERT_EQ(transact(request(kStation, 0x0200), reply, code), 1) << std::hex << code;
    const Bytes second = request(kStation, 0x0201);
    ASSERT_EQ(transact(second, reply, code), 1) << std::hex << code << "\n" << module_log();
    EXPECT_EQ(reply, reply_to(second, standard_data()));
    EXPECT_EQ(link_.counters().duplicates, 1u);
    EXPECT_TRUE(module_->wait_for_log(
        [](const auto& log) {
            return sim_controller::count_entries(log, Direction::in, EntryKind::ack) == 3;
        },
        5s))
        << module_log();
}

TEST_F(Flow, EnquiryWhileWaitingForTheReplyIsAnsweredWithAck) {
    start_module();
    module_->add_fault(1, {FaultKind::inject_enq});
    open_link();
    const Bytes req = request(kStation, 0x0300);
    Bytes reply;
    int code = 0;
    ASSERT_EQ(transact(req, reply, code), 1) << std::hex << code << "\n" << module_log();
    EXPECT_EQ(reply, reply_to(req, standard_data()));
    EXPECT_NE(trace_.find("RX ENQ while waiting, TX ACK"), std::string::npos) << trace_;
    // The module saw an ACK for its enquiry and one for its reply.
    EXPECT_TRUE(module_->wait_for_log(
        [](const auto& log) {
            return sim_controller::count_entries(log, Direction::in, EntryKind::ack) == 2;
        },
        5s))
        << module_log();
}

TEST_F(Flow, FourthNakEndsTheReceive) {
    sim_controller::ModuleOptions options = patient_module();
    options.max_transmissions = 6;
    start_module(options);
    module_->add_fault(1, {FaultKind::corrupt_bcc, 4});
    open_link();
    ASSERT_EQ(link_.send_message(request(kStation, 0x0400)), 1);
    Bytes body(256);
    size_t length = 0;
    EXPECT_EQ(link_.receive_message(body, length), 0);
    EXPECT_EQ(platform::last_error(), codes::kBcc) << std::hex << platform::last_error() << "\n"
                                                   << module_log();
    EXPECT_EQ(link_.counters().naks_sent, 4u);
    EXPECT_EQ(link_.counters().bcc_errors, 4u);
}

TEST_F(Flow, CorruptedReplyIsRefusedAndTheRetransmissionTaken) {
    start_module();
    // Byte 8 of the frame is inside the reply's data.
    module_->add_fault(1, {FaultKind::corrupt_byte, 1, {}, 8});
    open_link();
    const Bytes req = request(kStation, 0x0500);
    Bytes reply;
    int code = 0;
    ASSERT_EQ(transact(req, reply, code), 1) << std::hex << code << "\n" << module_log();
    EXPECT_EQ(reply, reply_to(req, standard_data()));
    EXPECT_EQ(link_.counters().bcc_errors, 1u);
    EXPECT_EQ(link_.counters().naks_sent, 1u);
}

TEST_F(Flow, StrayBytesAndLateAnswersAreRidden) {
    start_module();
    module_->add_fault(1, {FaultKind::inject_garbage, 1, {}, 0, {0x00, 0x41, 0x03, 0x02}});
    // The ACK comes so late that only an enquiry gets it.
    module_->add_fault(2, {FaultKind::delay_ack, 1, 60s});
    module_->add_fault(3, {FaultKind::delay_reply, 1, 60ms});
    open_link(lost_answer_timings());
    for (uint16_t tns = 0x600; tns < 0x603; ++tns) {
        const Bytes req = request(kStation, tns);
        Bytes reply;
        int code = 0;
        ASSERT_EQ(transact(req, reply, code), 1) << std::hex << code << "\n" << module_log();
        EXPECT_EQ(reply, reply_to(req, standard_data()));
    }
    // The late ACK was overtaken by an enquiry.
    EXPECT_EQ(link_.counters().enquiries_sent, 1u);
}

TEST_F(Flow, ClosedLineIsAnErrorNotAHang) {
    start_module();
    module_->add_fault(1, {FaultKind::close_line});
    open_link();
    EXPECT_EQ(link_.send_message(request(kStation, 0x0700)), 0);
    EXPECT_EQ(platform::last_error(), EIO) << platform::last_error();
    Bytes body(256);
    size_t length = 0;
    EXPECT_EQ(link_.receive_message(body, length), 0);
    EXPECT_EQ(platform::last_error(), EIO);
}

// Limits from a file can be huge: they are kept, and the budgets of the send and the receive
// still end the calls; a send the budget ended reports the time-out, not the last NAK.
TEST_F(Flow, HugeLimitsAreBoundedByTheBudgetsAndEndWithATimeOut) {
    sim_controller::ModuleOptions options = patient_module();
    options.max_transmissions = 1'000'000;
    start_module(options);
    tolva::LinkTimings timings = patient_timings();
    timings.max_retries = 0xFFFFFFFF;
    timings.max_enquires = 0xFFFFFFFF;
    open_link(timings);

    // Frames 1 to 5 refused, the sixth taken.
    module_->add_fault(1, {FaultKind::nak, 5});
    Bytes reply;
    int code = 0;
    ASSERT_EQ(transact(request(kStation, 0x0800), reply, code), 1) << std::hex << code << "\n"
                                                                   << module_log();
    EXPECT_EQ(link_.counters().sent_frames, 6u);

    module_->add_fault(7, {FaultKind::nak, 1'000'000});
    timings.message_write_ms = 2000;
    link_.set_timings(timings);
    EXPECT_EQ(link_.send_message(request(kStation, 0x0801)), 0);
    EXPECT_EQ(platform::last_error(), codes::kTimeout);
    EXPECT_GT(link_.counters().sent_frames, 7u);
}

TEST_F(Flow, SilentPeerWithHugeEnquiryLimitEndsInTime) {
    start_module();
    module_->add_fault(1, {FaultKind::drop_response, 1'000'000});
    tolva::LinkTimings timings = test_timings(2000);
    timings.max_enquires = 0xFFFFFFFF;
    open_link(timings);
    EXPECT_EQ(link_.send_message(request(kStation, 0x0900)), 0);
    EXPECT_EQ(platform::last_error(), codes::kTimeout);
    EXPECT_GT(link_.counters().enquiries_sent, 3u);
}

TEST_F(Flow, EndlessBadRepliesWithHugeRetryLimitEndInTime) {
    sim_controller::ModuleOptions options = patient_module();
    options.max_transmissions = 1'000'000;
    start_module(options);
    tolva::LinkTimings timings = patient_timings();
    timings.max_retries = 0xFFFFFFFF;
    open_link(timings);

    // Five bad replies are refused, beyond the fourth NAK, and the sixth taken.
    module_->add_fault(1, {FaultKind::corrupt_bcc, 5});
    Bytes reply;
    int code = 0;
    ASSERT_EQ(transact(request(kStation, 0x0A00), reply, code), 1) << std::hex << code << "\n"
                                                                   << module_log();
    EXPECT_EQ(link_.counters().naks_sent, 5u);

    module_->add_fault(2, {FaultKind::corrupt_bcc, 1'000'000});
    ASSERT_EQ(link_.send_message(request(kStation, 0x0A01)), 1);
    timings.reply_timeout_ms = 2000;
    link_.set_timings(timings);
    Bytes body(256);
    size_t length = 0;
    EXPECT_EQ(link_.receive_message(body, length), 0);
    // The budget ends the call after a refused reply or while the next one is awaited.
    const int error = platform::last_error();
    EXPECT_TRUE(error == codes::kBcc || error == codes::kTimeout) << std::hex << error;
    EXPECT_GT(link_.counters().naks_sent, 5u);
}

}  // namespace
