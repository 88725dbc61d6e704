// The module stand-in against a test that plays the scanner: raw bytes on the other side of
// the pseudo-terminal, answers checked byte for byte.
#include "controller/interface_module.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "controller/frame_codec.h"
#include "controller/pseudo_terminal.h"

namespace {

using namespace std::chrono_literals;
using namespace sim_controller;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t D = 0x10;
const Bytes kAckPair{D, kAck};
const Bytes kNakPair{D, kNak};
const Bytes kEnqPair{D, kEnq};

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes request(uint8_t dst, uint16_t tns) {
    return {dst,  0x00, 0x0F, 0x00, static_cast<uint8_t>(tns), static_cast<uint8_t>(tns >> 8), 0xA2, 0x52,
            0x07, 0x89, 0x00, 0x00};
}

Bytes reply_for(std::span<const uint8_t> req) {
    return {req[1], req[0], static_cast<uint8_t>(req[2] | 0x40), 0x00, req[4], req[5], 0x10, 0x20};
}

class Module : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(line_.open(), 0); }
    void TearDown() override {
        if (module_) module_->stop();
        if (scanner_ >= 0) ::close(scanner_);
    }

    void start(ModuleOptions options = quick()) {
        module_ = std::make_unique<InterfaceModule>(options);
        module_->add_station(1, [this](std::span<const uint8_t> req) -> std::optional<Bytes> {
            ++handled_;
            return reply_for(req);
        });
        ASSERT_EQ(module_->start(line_.take_module_side()), 0);
        scanner_ = ::open(line_.device_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(scanner_, 0);
    }
    // The test answers every reply it is not waiting for enquiries on: a slow test on a
    // loaded machine must not draw an enquiry into what it reads.
    static ModuleOptions quick() {
        ModuleOptions o;
        o.answer_timeout = 30s;
        return o;
    }

    void send(const Bytes& bytes) {
        ASSERT_EQ(::write(scanner_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads `count` bytes (bounded against a hang).
    Bytes receive(size_t count) {
        Bytes out;
        const auto give_up = std::chrono::steady_clock::now() + 10s;
        while (out.size() < count && std::chrono::steady_clock::now() < give_up) {
            pollfd p{scanner_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            uint8_t buffer[512];
            const ssize_t n = ::read(scanner_, buffer, std::min(sizeof buffer, count - out.size()));
            if (n <= 0) break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }
    // Whatever arrives within `quiet` of silence.
    Bytes drain(std::chrono::milliseconds quiet = 100ms) {
        Bytes out;
        pollfd p{scanner_, POLLIN, 0};
        while (::poll(&p, 1, static_cast<int>(quiet.count())) > 0 && (p.revents & POLLIN) != 0) {
            uint8_t buffer[512];
            const ssize_t n = ::read(scanner_, buffer, sizeof buffer);
            if (n <= 0) break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }
    bool wait_log(Direction d, EntryKind k, size_t n) {
        return module_->wait_for_log([&](const auto& log) { return count_entries(log, d, k) >= n; }, 10s);
    }
    std::string log_text() const {
        std::string text;
        for (const auto& e : module_->log()) text += e.text() + "\n";
        return text;
    }

    PseudoTerminal line_;
    std::unique_ptr<InterfaceModule> module_;
    int scanner_ = -1;
    std::atomic<int> handled_{0};
};

TEST_F(Module, GoodRequestIsAcknowledgedAndAnswered) {
    start();
    const Bytes req = request(1, 0x0056);
    send(frame_bytes(req));
    EXPECT_EQ(receive(2 + frame_bytes(reply_for(req)).size()), cat({kAckPair, frame_bytes(reply_for(req))}));
    send(kAckPair);
    ASSERT_TRUE(wait_log(Direction::in, EntryKind::ack, 1)) << log_text();
    EXPECT_EQ(module_->stats().replies, 1u);
    EXPECT_EQ(handled_, 1);
    const auto log = module_->log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().text(),
              "in  frame DST=01 SRC=00 CMD=0F STS=00 TNS=0056 [12] 01 00 0F 00 56 00 A2 52 07 89 00 00");
}

TEST_F(Module, BadFramesAreRefused) {
    start();
    Bytes bad_check = frame_bytes(request(1, 1));
    bad_check.back() ^= 0x40;
    const Bytes bad_pair{D, kStx, 0x01, 0x00, D, 0x41};
    const Bytes too_short = frame_bytes(Bytes{1, 2, 3});
    for (const Bytes& frame : {bad_check, bad_pair, too_short}) {
        send(frame);
        EXPECT_EQ(receive(2), kNakPair);
    }
    EXPECT_EQ(handled_, 0);
    EXPECT_EQ(count_entries(module_->log(), Direction::in, EntryKind::bad_bcc), 1u);
    EXPECT_EQ(count_entries(module_->log(), Direction::in, EntryKind::bad_pair), 1u);
    EXPECT_EQ(count_entries(module_->log(), Direction::in, EntryKind::short_frame), 1u);
}

TEST_F(Module, EnquiryIsAnsweredWithTheLastResponse) {
    start();
    send(kEnqPair);
    EXPECT_EQ(receive(2), kNakPair) << "nothing accepted yet";
    Bytes bad = frame_bytes(request(1, 1));
    bad.back() ^= 1;
    send(bad);
    EXPECT_EQ(receive(2), kNakPair);
    send(kEnqPair);
    EXPECT_EQ(receive(2), kNakPair);
    module_->remove_station(1);  // no reply to get in the way
    send(frame_bytes(request(1, 2)));
    EXPECT_EQ(receive(2), kAckPair);
    send(kEnqPair);
    EXPECT_EQ(receive(2), kAckPair);
}

TEST_F(Module, RepeatedRequestIsAcknowledgedButNotHandledAgain) {
    start();
    const Bytes req = request(1, 0x0102);
    const Bytes reply = frame_bytes(reply_for(req));
    send(frame_bytes(req));
    EXPECT_EQ(receive(2 + reply.size()), cat({kAckPair, reply}));
    send(kAckPair);
    send(frame_bytes(req));
    EXPECT_EQ(receive(2), kAckPair);
    EXPECT_EQ(drain(), Bytes{});
    EXPECT_EQ(handled_, 1);
    EXPECT_EQ(count_entries(module_->log(), Direction::in, EntryKind::duplicate), 1u);
}

// The repeat is the last reply sent, so with two stations it is often the other one's.
TEST_F(Module, RepeatedReplyIsTheLastOneSentWhicheverStationAsked) {
    start();
    module_->add_station(2,
                         [](std::span<const uint8_t> req) -> std::optional<Bytes> { return reply_for(req); });
    module_->add_fault(2, {FaultKind::duplicate_reply});
    const Bytes first = frame_bytes(reply_for(request(1, 0x0501)));
    send(frame_bytes(request(1, 0x0501)));
    EXPECT_EQ(receive(2 + first.size()), cat({kAckPair, first}));
    send(kAckPair);
    const Bytes second = frame_bytes(reply_for(request(2, 0x0502)));
    send(frame_bytes(request(2, 0x0502)));
    EXPECT_EQ(receive(2 + first.size()), cat({kAckPair, first})) << "station 1's reply again";
    send(kAckPair);
    EXPECT_EQ(receive(second.size()), second);
    send(kAckPair);
    ASSERT_TRUE(wait_log(Direction::in, EntryKind::ack, 3)) << log_text();
    EXPECT_EQ(module_->stats().replies, 3u);
}

TEST_F(Module, RefusedReplyIsSentAgainUntilTheTransmissionsRunOut) {
    ModuleOptions o = quick();
    o.max_transmissions = 3;
    start(o);
    const Bytes req = request(1, 0x0200);
    const Bytes reply = frame_bytes(reply_for(req));
    send(frame_bytes(req));
    EXPECT_EQ(receive(2 + reply.size()), cat({kAckPair, reply}));
    for (int i = 0; i < 2; ++i) {
        send(kNakPair);
        EXPECT_EQ(receive(reply.size()), reply);
    }
    send(kNakPair);
    ASSERT_TRUE(wait_log(Direction::event, EntryKind::gave_up, 1)) << log_text();
    EXPECT_EQ(drain(), Bytes{});
}

TEST_F(Module, UnansweredReplyGetsEnquiriesThenIsDropped) {
    ModuleOptions o = quick();
    o.answer_timeout = 300ms;
    o.max_enquiries = 2;
    start(o);
    const Bytes req = request(1, 0x0300);
    const Bytes reply = frame_bytes(reply_for(req));
    send(frame_bytes(req));
    EXPECT_EQ(receive(2 + reply.size()), cat({kAckPair, reply}));
    EXPECT_EQ(receive(2), kEnqPair);
    EXPECT_EQ(receive(2), kEnqPair);
    ASSERT_TRUE(wait_log(Direction::event, EntryKind::gave_up, 1)) << log_text();

    // An enquiry answered with NAK brings the reply once more; ACK then settles it.
    const Bytes req2 = request(1, 0x0301);
    const Bytes reply2 = frame_bytes(reply_for(req2));
    send(frame_bytes(req2));
    EXPECT_EQ(receive(2 + reply2.size()), cat({kAckPair, reply2}));
    EXPECT_EQ(receive(2), kEnqPair);
    send(kNakPair);
    EXPECT_EQ(receive(reply2.size()), reply2);
    send(kAckPair);
    ASSERT_TRUE(wait_log(Direction::in, EntryKind::ack, 1)) << log_text();
    EXPECT_EQ(module_->stats().replies, 1u);
}

TEST_F(Module, RequestsForAbsentOrSilentStationsGetOnlyTheAck) {
    start();
    module_->add_station(2, [](std::span<const uint8_t>) { return std::optional<Bytes>{}; });
    send(frame_bytes(request(9, 1)));
    EXPECT_EQ(receive(2), kAckPair);
    send(frame_bytes(request(2, 2)));
    EXPECT_EQ(receive(2), kAckPair);
    EXPECT_EQ(drain(), Bytes{});
    EXPECT_EQ(count_entries(module_->log(), Direction::event, EntryKind::no_station), 1u);
}

TEST_F(Module, ScriptedFaultsShapeTheReply) {
    start();
    module_->add_fault(1, {FaultKind::corrupt_bcc});
    module_->add_fault(2, {FaultKind::inject_garbage, 1, {}, 0, {0x55, 0xAA}});
    module_->add_fault(2, {FaultKind::inject_enq});
    const Bytes req1 = request(1, 0x0401);
    Bytes bad = frame_bytes(reply_for(req1));
    bad.back() ^= 0xFF;
    send(frame_bytes(req1));
    EXPECT_EQ(receive(2 + bad.size()), cat({kAckPair, bad}));
    send(kNakPair);
    EXPECT_EQ(receive(bad.size()), frame_bytes(reply_for(req1))) << "the retransmission is clean";
    send(kAckPair);

    const Bytes req2 = request(1, 0x0402);
    const Bytes reply2 = frame_bytes(reply_for(req2));
    send(frame_bytes(req2));
    EXPECT_EQ(receive(6 + reply2.size()), cat({kAckPair, kEnqPair, {0x55, 0xAA}, reply2}));
}

TEST_F(Module, ClosingTheLineHangsUpTheOtherSide) {
    start();
    module_->add_fault(1, {FaultKind::close_line});
    send(frame_bytes(request(1, 1)));
    ASSERT_TRUE(wait_log(Direction::event, EntryKind::closed, 1)) << log_text();
    EXPECT_FALSE(module_->running());
    uint8_t byte = 0;
    pollfd p{scanner_, POLLIN, 0};
    ASSERT_GT(::poll(&p, 1, 10000), 0);
    EXPECT_NE(p.revents & POLLHUP, 0);
    EXPECT_LE(::read(scanner_, &byte, 1), 0);
}

// Pacing never delivers early: a request and its answers take at least their line time.
TEST_F(Module, PacedLineTakesAtLeastTheWireTime) {
    ModuleOptions o = quick();
    o.paced = true;
    o.baud = 9600;
    start(o);
    const Bytes req = frame_bytes(request(1, 0x0500));
    const Bytes answer = cat({kAckPair, frame_bytes(reply_for(request(1, 0x0500)))});
    const auto begin = std::chrono::steady_clock::now();
    send(req);
    EXPECT_EQ(receive(answer.size()), answer);
    const auto took = std::chrono::steady_clock::now() - begin;
    const auto wire = std::chrono::microseconds((req.size() + answer.size()) * 10'000'000 / 9600);
    EXPECT_GE(took, wire);
}

TEST(StreamParser, ReportsFramesControlPairsAndStrayBytes) {
    StreamParser parser(16);
    std::vector<ParsedEvent> events;
    auto feed = [&](const Bytes& bytes) {
        for (uint8_t b : bytes) {
            if (auto e = parser.feed(b)) events.push_back(*e);
        }
    };
    const Bytes body{1, 0x10, 3, 4, 5, 6};
    feed(cat({{0x41, 0x42}, frame_bytes(body)}));
    // An ACK inside a frame is taken and the frame goes on.
    Bytes with_ack = frame_bytes(body);
    with_ack.insert(with_ack.begin() + 3, kAckPair.begin(), kAckPair.end());
    feed(with_ack);
    feed(Bytes(20, 0x01));  // stray
    feed(cat({{D, kStx}, Bytes(17, 0x22)}));
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, ParsedEvent::Kind::frame);
    EXPECT_EQ(events[0].skipped, 2u);
    EXPECT_EQ(events[0].body, body);
    EXPECT_EQ(events[1].kind, ParsedEvent::Kind::ack);
    EXPECT_EQ(events[2].kind, ParsedEvent::Kind::frame);
    EXPECT_EQ(events[2].body, body);
    EXPECT_EQ(events[3].kind, ParsedEvent::Kind::overflow);
    EXPECT_EQ(events[3].skipped, 20u);
}

}  // namespace
