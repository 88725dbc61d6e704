// The stand-in's TLS front end: where a request ends on a stream without lengths, and whole
// requests and replies through the TLS transport.
#include "server/tls/request_delimiter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/last_error.h"
#include "server/tls/tls_front.h"
#include "web_fixture.h"

namespace {

using sim_server::delimit_request;
using State = sim_server::RequestExtent::State;

std::string utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out + std::string(2, '\0');
}

struct DelimitCase {
    const char* name;
    std::string request;  // exactly one whole request
};

std::vector<DelimitCase> whole_requests() {
    return {
        {"PlainText", std::string("QS\0", 3)},
        {"TextWithFields", std::string("DF,c:\\x\t*.*\t0\0", 14)},
        {"WriteFile", std::string("WF,f.txt\t4\t0\t0\t3221225472\t3\t1\t4\t128\t\0\t,\x01", 40)},
        {"WriteFileNoData", std::string("WF,f\t0\t0\t0\t0\t0\t0\t0\t0\t", 21)},
        {"ChannelWrite", std::string("HF,5,op,dev,0,1,0,,0,1\0\0\x01,\t\0", 28)},
        {"DeviceWrite", std::string("FF,3,op,dev,3,0,, , , , \0abc", 28)},
        {"LoggerConfig", std::string("CF,2,7,3,op,\0,\t", 15)},
        {"SetText", "SV,ch,pc,op," + utf16("a,b")},
        {"SetTextEmpty", "SV,ch,pc,op," + utf16("")},
    };
}

class Delimiter : public testing::TestWithParam<DelimitCase> {};

TEST_P(Delimiter, FindsTheEndOfEachRequestAndNeedsMoreBeforeIt) {
    const std::string& r = GetParam().request;
    for (size_t n = 0; n < r.size(); ++n)
        ASSERT_EQ(delimit_request(std::string_view(r).substr(0, n), 1 << 20).state, State::need_more) << n;
    const auto whole = delimit_request(r, 1 << 20);
    EXPECT_EQ(whole.state, State::complete);
    EXPECT_EQ(whole.length, r.size());
    // A following request does not count.
    const auto two = delimit_request(r + std::string("RS\0", 3), 1 << 20);
    EXPECT_EQ(two.state, State::complete);
    EXPECT_EQ(two.length, r.size());
}

INSTANTIATE_TEST_SUITE_P(Codes, Delimiter, testing::ValuesIn(whole_requests()),
                         [](const testing::TestParamInfo<DelimitCase>& p) { return std::string(p.param.name); });

TEST(DelimiterLimits, RequestShorterThanACodeEndsAtItsNul) {
    const auto one = delimit_request(std::string("\0", 1), 1000);
    EXPECT_EQ(one.state, State::complete);
    EXPECT_EQ(one.length, 1u);
    const auto two = delimit_request(std::string("R\0", 2), 1000);
    EXPECT_EQ(two.state, State::complete);
    EXPECT_EQ(two.length, 2u);
    EXPECT_EQ(delimit_request("R", 1000).state, State::need_more);
}

TEST(DelimiterLimits, BadCountsAndOverlongRequestsAreInvalid) {
    EXPECT_EQ(delimit_request(std::string("WF,f\tx\t0\t0\t0\t0\t0\t0\t0\t", 21), 1000).state, State::invalid);
    EXPECT_EQ(delimit_request(std::string("WF,f\0\t", 6), 1000).state, State::invalid);
    EXPECT_EQ(delimit_request(std::string("HF,-1,x\0", 8), 1000).state, State::invalid);
    EXPECT_EQ(delimit_request(std::string("HF,99999999999999999999999,x\0", 29), 1000).state, State::invalid);
    EXPECT_EQ(delimit_request(std::string("HF,2000,x\0", 10), 1000).state, State::invalid);
    EXPECT_EQ(delimit_request(std::string("CF,2,7,,op,", 11), 1000).state, State::invalid);
    EXPECT_EQ(delimit_request(std::string(2000, 'x'), 1000).state, State::invalid);
    EXPECT_EQ(delimit_request("SV" + std::string(2000, 'x'), 1000).state, State::invalid);
    EXPECT_EQ(delimit_request("SV,a,b,c," + std::string(2000, 'x'), 1000).state, State::invalid);
}

class TlsFrontTest : public web_test::LinkOverSockets {
  protected:
    void SetUp() override {
        LinkOverSockets::SetUp();
        front_ = web_test::tls_front(dispatcher_);
        ASSERT_EQ(front_->start(), 0);
    }
    void TearDown() override {
        LinkOverSockets::TearDown();
        front_.reset();
    }
    std::unique_ptr<sim_server::TlsFront> front_;
};

TEST_F(TlsFrontTest, EveryKindOfRequestArrivesWholeOneAfterTheOther) {
    const auto cases = whole_requests();
    for (const auto& c : cases) EXPECT_EQ(send(front_->url(), c.request), -1) << c.name;  // "-1,1": unknown codes
    const auto requests = dispatcher_.requests();
    ASSERT_EQ(requests.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(requests[i].bytes, cases[i].request) << cases[i].name;
        EXPECT_EQ(requests[i].transport, "tls");
    }
    EXPECT_EQ(front_->connections_accepted(), 1u);
}

TEST_F(TlsFrontTest, AWriteOfAnOlderClientWithANulAfterItsDataLeavesTheNextRequestWhole) {
    const std::string write = "WF,f\t2\t0\t0\t0\t0\t0\t0\t0\tab";
    EXPECT_EQ(send(front_->url(), write + '\0'), -1);  // "-1,1": no "WF" handler here
    EXPECT_EQ(send_text(front_->url(), "RS", 16), 0) << platform::last_error();
    const auto requests = dispatcher_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].bytes, write);
    EXPECT_EQ(requests[1].bytes, std::string("RS\0", 3));
    EXPECT_EQ(front_->connections_accepted(), 1u);
}

TEST_F(TlsFrontTest, RepliesInPiecesOfOneByteArriveWhole) {
    front_->set_piece(1);
    ASSERT_EQ(send_text(front_->url(), "SZ,10000", 10000), 0) << platform::last_error();
    EXPECT_EQ(reply(), "0," + std::string(9998, 'x'));
}

TEST_F(TlsFrontTest, CloseAfterSomeBytesFailsTheRequestAndTheNextReopens) {
    sim_server::Fault cut;
    cut.kind = sim_server::Fault::Kind::close_after;
    cut.bytes = 6;
    dispatcher_.script_fault("RS", cut);
    EXPECT_EQ(send_text(front_->url(), "RS", 16), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorWsaConnReset);
    EXPECT_EQ(send_text(front_->url(), "RS", 16), 0);
    EXPECT_EQ(front_->connections_accepted(), 2u);
}

}  // namespace
