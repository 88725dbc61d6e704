// The web-service transport against the stand-in's web front end on 127.0.0.2.
#include "link_web/web_transport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cerrno>
#include <memory>
#include <string>

#include "platform/last_error.h"
#include "server/web/web_front.h"
#include "support/child_process.h"
#include "web_fixture.h"

namespace {

using sim_server::WebFront;
using sim_server::WebFrontOptions;

class WebTransportTest : public web_test::LinkOverSockets {
  protected:
    WebFront& front(WebFrontOptions options = {}) {
        front_ = std::make_unique<WebFront>(dispatcher_, std::move(options));
        EXPECT_EQ(front_->start(), 0);
        return *front_;
    }
    WebFront& https_front(const std::string& name) {
        WebFrontOptions o;
        o.certificate_file = web_test::certificate(name);
        o.key_file = web_test::key(name);
        return front(o);
    }
    void TearDown() override {
        LinkOverSockets::TearDown();
        front_.reset();
    }
    std::unique_ptr<WebFront> front_;
};

TEST_F(WebTransportTest, RequestTravelsAsBase64WithHostDotAndTheCapacity) {
    WebFront& server = front();
    ASSERT_EQ(send_text(server.url(), "RS", 16), 0) << platform::last_error();
    EXPECT_EQ(reply(), std::string("0,ready        ") + '\0');
    dispatcher_.script_reply("BS", std::string("0,a,b", 6));
    EXPECT_EQ(send_text(server.url(), "BS", 32768), 0);
    const auto requests = dispatcher_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].bytes, std::string("BS\0", 3));
    EXPECT_EQ(requests[1].transport, "web");
    EXPECT_EQ(requests[1].capacity, 32768u);
    const auto calls = server.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].host, ".");
    EXPECT_EQ(calls[1].result_size, 32768);
    EXPECT_EQ(calls[1].path, "/Quorvane/BIN/mod_gsoap.dll");
    EXPECT_EQ(calls[1].query, "?Service");
}

TEST_F(WebTransportTest, BinaryTailArrivesExactly) {
    WebFront& server = front();
    const std::string request("WF,f\t3\t0\t0\t0\t0\t0\t0\t0\t\x01\x00\xff", 24);
    EXPECT_EQ(send(server.url(), request), -1);  // the stand-in knows no "WF": "-1,1"
    EXPECT_EQ(platform::last_error(), 1);
    ASSERT_EQ(dispatcher_.requests().size(), 1u);
    EXPECT_EQ(dispatcher_.requests()[0].bytes, request);
}

TEST_F(WebTransportTest, PathAndQueryOfTheServerStringAreKept) {
    WebFront& server = front();
    EXPECT_EQ(send_text(server.url("/a/b?x=1"), "RS"), 0);
    ASSERT_EQ(server.calls().size(), 1u);
    EXPECT_EQ(server.calls()[0].path, "/a/b");
    EXPECT_EQ(server.calls()[0].query, "?x=1");
}

TEST_F(WebTransportTest, CredentialsArriveDecodedOnEveryCall) {
    WebFront& server = front();
    const std::string url = server.url("/", "op%20one:p%40ss@word%3a1");
    EXPECT_EQ(send_text(url, "RS"), 0) << platform::last_error();
    EXPECT_EQ(send_text(url, "RS"), 0) << platform::last_error();
    const auto calls = server.calls();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& c : calls) {
        EXPECT_EQ(c.user, "op one");
        EXPECT_EQ(c.password, "p@ss@word:1");
    }
}

TEST_F(WebTransportTest, RequestsAreCompressed) {
    WebFront& server = front();
    EXPECT_EQ(send_text(server.url(), "EC," + std::string(2000, 'v'), 4096), 0);
    ASSERT_EQ(server.calls().size(), 1u);
    EXPECT_NE(server.calls()[0].encoding, "identity");
    EXPECT_EQ(server.calls()[0].accepted, "gzip,deflate");  // so the reply comes compressed too
    EXPECT_EQ(reply(), std::string(2000, 'v') + '\0');
}

TEST_F(WebTransportTest, CallsShareOneConnectionAndSurviveTheServersKeepAliveLimit) {
    WebFront& server = front();
    EXPECT_EQ(send_text(server.url(), "RS"), 0);
    EXPECT_EQ(send_text(server.url(), "RS"), 0);
    EXPECT_EQ(server.connections_accepted(), 1u);
    for (int i = 0; i < 148; ++i) ASSERT_EQ(send_text(server.url(), "RS"), 0) << i << " " << platform::last_error();
    EXPECT_EQ(dispatcher_.request_count(), 150u);
    EXPECT_EQ(server.connections_accepted(), 2u);  // the server ends keep-alive after 100 calls
}

struct StatusCase {
    int status;
};

class HttpStatuses : public WebTransportTest, public testing::WithParamInterface<int> {};

TEST_P(HttpStatuses, FailTheCallWithTheStatusAndReopenTheLink) {
    WebFront& server = front();
    server.script_http_status(GetParam());
    EXPECT_EQ(send_text(server.url(), "RS"), -1);
    EXPECT_EQ(platform::last_error(), GetParam());
    EXPECT_EQ(errno, GetParam());
    EXPECT_EQ(trace("HTTP Error " + std::to_string(GetParam()) + "\n").size(), 1u);
    EXPECT_EQ(send_text(server.url(), "RS"), 0);
}

INSTANTIATE_TEST_SUITE_P(Statuses, HttpStatuses, testing::Values(500, 401, 404));

TEST_F(WebTransportTest, ErrorHookSeesTheStatusBeforeTheFailureIsReported) {
    web_EnableErrorHook();
    WebFront& server = front();
    server.script_http_status(503);
    EXPECT_EQ(send_text(server.url(), "RS"), -1);
    EXPECT_EQ(platform::last_error(), 503);
    EXPECT_EQ(web_OnServerError(nullptr, 7), 0);  // no link of that handle: nothing recorded
    ServerConnection* entry = link_GetConnection(server.url().c_str());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(link_web::testing::recorded_error(entry), 0);
    entry->lock.unlock();
}

TEST_F(WebTransportTest, SoapFaultIsTracedInTheSystemsLayout) {
    WebFront& server = front();
    server.script_soap_fault("the server is busy");
    EXPECT_EQ(send_text(server.url(), "RS"), -1);
    EXPECT_EQ(platform::last_error(), 2);  // gSOAP's number of a server fault
    const auto lines = trace("fault: ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("SOAP 1.1 fault: SOAP-ENV:Server [no subcode]\n\"the server is busy\"\nDetail: [no detail]\n"),
              std::string::npos)
        << lines[0];
}

TEST_F(WebTransportTest, ResultLongerThanTheCapacityFailsAndCopiesNothing) {
    WebFrontOptions o;
    o.enforce_result_size = false;
    WebFront& server = front(o);
    dispatcher_.script_reply("QS", std::string(17, '7'));
    EXPECT_EQ(send_text(server.url(), "QS", 16), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorMoreData);
    EXPECT_EQ(reply_length_, 0u);
    EXPECT_EQ(reply_, std::string(16, '\0'));
}

TEST_F(WebTransportTest, ResultThatFillsTheCapacityArrivesWhole) {
    WebFront& server = front();
    std::string values;
    for (int i = 0; values.size() < 65536; ++i) values += std::to_string(i * 7919 % 100003) + ",";
    values.resize(65536);
    dispatcher_.set_handler("VT", [&](std::string_view, uint32_t) { return values; });
    ASSERT_EQ(send_text(server.url(), "VT", 65536), 0) << platform::last_error();
    EXPECT_EQ(reply(), values);
}

TEST_F(WebTransportTest, HugeWellCompressedResultIsRefusedWhileItArrives) {
    WebFrontOptions o;
    o.enforce_result_size = false;
    WebFront& server = front(o);
    // Making 20 MB takes the stand-in long on a loaded machine; only the refusal may end this.
    qvr::link_testing::set_timeout(600000);
    EXPECT_EQ(send_text(server.url(), "SZ,20000000", 100), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorMoreData);
    EXPECT_EQ(reply_length_, 0u);
}

TEST_F(WebTransportTest, ServerRefusesAResultLongerThanResultSize) {
    WebFront& server = front();
    dispatcher_.script_reply("QS", std::string(17, '7'));
    EXPECT_EQ(send_text(server.url(), "QS", 16), -1);
    EXPECT_EQ(platform::last_error(), 2);  // a server fault
    EXPECT_EQ(trace("Result longer than ResultSize").size(), 1u);
}

TEST_F(WebTransportTest, SilentServerTimesOutAndTheNextRequestReopens) {
    WebFront& server = front();
    qvr::link_testing::set_timeout(200);
    sim_server::Fault slow;
    slow.kind = sim_server::Fault::Kind::delay;
    slow.milliseconds = 1500;
    dispatcher_.script_fault("RS", slow);
    EXPECT_EQ(send_text(server.url(), "RS"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorWsaTimedOut);
    EXPECT_EQ(reply_length_, 0u);
    // The next request is answered at once, however loaded the machine.
    qvr::link_testing::set_timeout(600000);
    EXPECT_EQ(send_text(server.url(), "RS"), 0) << platform::last_error();
}

TEST_F(WebTransportTest, NoServerListeningFailsWithTheSystemsError) {
    WebFront& server = front();
    const std::string url = server.url();
    front_.reset();
    EXPECT_EQ(send_text(url, "RS"), -1);
    EXPECT_EQ(platform::last_error(), ECONNREFUSED);
}

TEST_F(WebTransportTest, HttpsWithTheTestCa) {
    WebFront& server = https_front("good");
    ASSERT_EQ(send_text(server.url(), "RS"), 0) << platform::last_error();
    EXPECT_EQ(send_text(server.url(), "RS"), 0);
    EXPECT_EQ(server.connections_accepted(), 1u);
}

TEST_F(WebTransportTest, HttpsRejectsACertificateOfAnotherName) {
    WebFront& server = https_front("othername");
    EXPECT_EQ(send_text(server.url(), "RS"), -1);
    EXPECT_EQ(platform::last_error(), EKEYREJECTED);
    EXPECT_EQ(dispatcher_.request_count(), 0u);
}

TEST_F(WebTransportTest, HttpsRejectsACertificateOutsideTheTrustedCas) {
    WebFront& server = https_front("rogue");
    EXPECT_EQ(send_text(server.url(), "RS"), -1);
    EXPECT_EQ(platform::last_error(), EKEYREJECTED);
    web_test::set_product_string("TlsCAFile", "");
    WebFront& other = https_front("good");
    EXPECT_EQ(send_text(other.url(), "RS"), -1);
    EXPECT_EQ(platform::last_error(), EKEYREJECTED);
    EXPECT_EQ(dispatcher_.request_count(), 0u);
}

TEST_F(WebTransportTest, ServerToolAnswersTheWebService) {
    using namespace std::chrono_literals;
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_server"),
                                               {"--for", "5", "--web", "--reply", "QS=12"}, {}, true);
    const std::string out = child.read_stdout(10s, "listening http://");
    const size_t at = out.find("listening http://");
    ASSERT_NE(at, std::string::npos) << out;
    const std::string url = out.substr(at + 10, out.find('\n', at) - at - 10);
    EXPECT_EQ(send_text(url, "QS,x"), 12) << url << " " << platform::last_error();
    const std::string requests = child.read_stdout(5s, "request web 256 QS,x\\x00");
    EXPECT_NE(requests.find("request web 256 QS,x\\x00"), std::string::npos) << requests;
    child.kill(SIGTERM);
    EXPECT_EQ(child.wait_exit_code(10s), 0);
}

TEST_F(WebTransportTest, UnregisteredTransportFailsWithNotSupported) {
    link_SetBackend(kServerWeb, nullptr);
    EXPECT_EQ(send_text("http://127.0.0.2:1/", "RS"), -1);
    EXPECT_EQ(platform::last_error(), kErrorNotSupported);
}

}  // namespace
