// The one table of reply cases through link_SendRequest over each transport: the pipe, the
// TLS socket and the web service, each to the stand-in's front end of that kind.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "platform/last_error.h"
#include "qvr/link/reply_cases.h"
#include "server/pipe_front.h"
#include "server/tls/tls_front.h"
#include "server/web/web_front.h"
#include "web_fixture.h"

namespace {

using link_test::ReplyCase;

enum class Transport { pipe, tls, web };

const char* name_of(Transport t) {
    return t == Transport::pipe ? "Pipe" : t == Transport::tls ? "Tls" : "Web";
}

class TransportReplies : public web_test::LinkOverSockets,
                         public testing::WithParamInterface<std::tuple<Transport, ReplyCase>> {
  protected:
    void SetUp() override {
        LinkOverSockets::SetUp();
        switch (std::get<0>(GetParam())) {
            case Transport::pipe: {
                pipe_ = std::make_unique<sim_server::PipeFront>(dispatcher_);
                ASSERT_EQ(pipe_->start(), 0);
                server_ = ".";
                break;
            }
            case Transport::tls: {
                tls_ = web_test::tls_front(dispatcher_);
                ASSERT_EQ(tls_->start(), 0);
                server_ = tls_->url();
                break;
            }
            case Transport::web: {
                sim_server::WebFrontOptions o;
                o.enforce_result_size = false;  // the client's own check is under test
                web_ = std::make_unique<sim_server::WebFront>(dispatcher_, o);
                ASSERT_EQ(web_->start(), 0);
                server_ = web_->url();
                break;
            }
        }
    }
    void TearDown() override {
        LinkOverSockets::TearDown();
        pipe_.reset();
        tls_.reset();
        web_.reset();
    }
    std::string server_;
    std::unique_ptr<sim_server::PipeFront> pipe_;
    std::unique_ptr<sim_server::TlsFront> tls_;
    std::unique_ptr<sim_server::WebFront> web_;
};

TEST_P(TransportReplies, BecomeResultErrorAndTraceLine) {
    const ReplyCase& c = std::get<1>(GetParam());
    dispatcher_.script_reply("QS", c.reply);
    errno = 12345;
    EXPECT_EQ(send_text(server_, "QS,x", c.capacity), c.result);
    EXPECT_EQ(platform::last_error(), c.error);
    EXPECT_EQ(errno, c.error);
    EXPECT_EQ(trace("<<" + server_ + c.trace).size(), 1u) << c.trace;
    // Whatever the case did to the link, the next request gets its answer.
    EXPECT_EQ(send_text(server_, "RS", 16), 0) << platform::last_error();
    ASSERT_EQ(dispatcher_.request_count(), 2u);
    EXPECT_EQ(dispatcher_.requests()[0].bytes, std::string("QS,x\0", 5));
}

INSTANTIATE_TEST_SUITE_P(Table, TransportReplies,
                         testing::Combine(testing::Values(Transport::pipe, Transport::tls, Transport::web),
                                          testing::ValuesIn(link_test::reply_cases())),
                         [](const testing::TestParamInfo<std::tuple<Transport, ReplyCase>>& p) {
                             return std::string(name_of(std::get<0>(p.param))) + std::get<1>(p.param).name;
                         });

}  // namespace
