// The stand-in's web front end over https outlives clients that close in the middle of a
// reply: the server keeps writing to a connection whose peer is gone, which must end that
// connection only.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "platform/tcp_socket.h"
#include "server/web/web_front.h"
#include "web_fixture.h"

namespace {

using platform::Deadline;

// SendRequest for "BS" (base64 "QlMA") with room for a long reply.
constexpr char kCall[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:ns=\"urn:service\"><SOAP-ENV:Body>"
    "<ns:SendRequest><Host>.</Host><Request>QlMA</Request><ResultSize>8000000</ResultSize></ns:SendRequest>"
    "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

const std::string kHttpCall = std::string("POST /x HTTP/1.1\r\nHost: 127.0.0.2\r\nContent-Type: text/xml\r\n") +
                              "Content-Length: " + std::to_string(sizeof kCall - 1) + "\r\n\r\n" + kCall;

struct SslContextFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

class WebFrontClientGone : public testing::Test {
  protected:
    void SetUp() override {
        sim_server::add_core_handlers(dispatcher_);
        front_ = web_test::web_front(dispatcher_, true);
        ASSERT_EQ(front_->start(), 0);
        client_.reset(SSL_CTX_new(TLS_client_method()));
        ASSERT_TRUE(client_);
        SSL_CTX_set_verify(client_.get(), SSL_VERIFY_NONE, nullptr);
        // No session tickets after the handshake: a client that reads nothing closes with
        // nothing unread, which ends its side cleanly instead of resetting the connection.
        SSL_CTX_set_max_proto_version(client_.get(), TLS1_2_VERSION);
    }

    // Connects over TLS, sends the call and reads at least `read_bytes` of the reply, or up to
    // the end of its envelope; then closes the socket at once, without a TLS close and with the
    // rest of the reply unread. The reply bytes that arrived.
    std::string call_and_close(size_t read_bytes) {
        in_addr address{};
        inet_pton(AF_INET, "127.0.0.2", &address);
        platform::UniqueFd fd = platform::tcp_connect(address, front_->port(), Deadline::after_ms(10000));
        if (!fd) return ADD_FAILURE() << "no connection", "";
        fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);  // plain blocking TLS
        std::unique_ptr<SSL, SslFree> ssl(SSL_new(client_.get()));
        SSL_set_fd(ssl.get(), fd.get());
        if (SSL_connect(ssl.get()) != 1) return ADD_FAILURE() << "no TLS", "";
        if (SSL_write(ssl.get(), kHttpCall.data(), static_cast<int>(kHttpCall.size())) <= 0)
            return ADD_FAILURE() << "call not sent", "";
        std::string received;
        while (received.size() < read_bytes && received.find("</SOAP-ENV:Envelope>") == std::string::npos) {
            char buffer[4096];
            const int n = SSL_read(ssl.get(), buffer, sizeof buffer);
            if (n <= 0) break;
            received.append(buffer, static_cast<size_t>(n));
        }
        return received;
    }

    sim_server::Dispatcher dispatcher_;
    std::unique_ptr<sim_server::WebFront> front_;
    std::unique_ptr<SSL_CTX, SslContextFree> client_;
};

TEST_F(WebFrontClientGone, ClientsClosingBeforeOrDuringTheReplyEndOnlyTheirConnections) {
    // Megabytes of reply: far more than the socket buffers hold while the client reads little.
    const std::string long_reply = "0," + std::string(6'000'000, 'x');
    struct Case {
        uint32_t delay_ms;  // before the reply: the client has long closed its side by then
        size_t read_bytes;
    };
    for (const Case c : {Case{500, 0}, Case{0, 1}, Case{0, 20'000}, Case{0, 1'000'000}}) {
        SCOPED_TRACE(testing::Message() << c.delay_ms << " ms, " << c.read_bytes << " bytes");
        dispatcher_.script_fault("BS", {sim_server::Fault::Kind::delay, c.delay_ms, 0}, long_reply);
        const std::string part = call_and_close(c.read_bytes);
        EXPECT_GE(part.size(), c.read_bytes);
        EXPECT_EQ(part.find("</SOAP-ENV:Envelope>"), std::string::npos) << "the reply was cut short";
    }
    // The front still answers, and stopping it waits for every connection's thread: each
    // has written into its closed connection by then.
    dispatcher_.script_reply("BS", "0,short");
    EXPECT_NE(call_and_close(1 << 20).find("<result>MCxzaG9ydA==</result>"), std::string::npos);
    front_->stop();
    EXPECT_EQ(front_->connections_accepted(), 5u);
}

}  // namespace
