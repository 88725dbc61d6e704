// The stand-in's web front end compresses a reply only when its request accepts gzip: seen
// by a plain HTTP client on one kept-alive connection, and the header rule as a table.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/tcp_socket.h"
#include "server/web/accept_encoding.h"
#include "server/web/web_front.h"

namespace {

using platform::Deadline;

constexpr char kCall[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:ns=\"urn:service\"><SOAP-ENV:Body>"
    "<ns:SendRequest><Host>.</Host><Request>UlMA</Request><ResultSize>16</ResultSize></ns:SendRequest>"
    "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

constexpr char kUnknownCall[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:ns=\"urn:service\"><SOAP-ENV:Body>"
    "<ns:Unknown/></SOAP-ENV:Body></SOAP-ENV:Envelope>";

struct Response {
    std::string head;
    std::string body;
};

// One call on `fd` with the given extra header lines; the response read by its length.
Response call(int fd, const std::string& headers, const std::string& body = kCall) {
    const std::string request = "POST /x HTTP/1.1\r\nHost: 127.0.0.2\r\nContent-Type: text/xml\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body;
    const auto deadline = Deadline::after_ms(10000);
    EXPECT_EQ(platform::tcp_write_all(fd, std::as_bytes(std::span(request.data(), request.size())), deadline), 0);
    std::string received;
    Response r;
    for (;;) {
        const size_t head_end = received.find("\r\n\r\n");
        if (head_end != std::string::npos) {
            r.head = received.substr(0, head_end);
            const size_t at = r.head.find("Content-Length: ");
            if (at == std::string::npos) return ADD_FAILURE() << r.head, r;
            const size_t length = std::stoul(r.head.substr(at + 16));
            if (received.size() >= head_end + 4 + length) {
                r.body = received.substr(head_end + 4, length);
                return r;
            }
        }
        char buffer[8192];
        const long n = platform::tcp_read_some(fd, std::as_writable_bytes(std::span(buffer)), deadline);
        if (n <= 0) return ADD_FAILURE() << "no response", r;
        received.append(buffer, static_cast<size_t>(n));
    }
}

bool gzipped(const Response& r) {
    return r.head.find("Content-Encoding: gzip") != std::string::npos && r.body.size() > 2 &&
           static_cast<unsigned char>(r.body[0]) == 0x1F && static_cast<unsigned char>(r.body[1]) == 0x8B;
}

TEST(WebFrontEncoding, OnlyARequestThatAcceptsGzipGetsItOnTheSameConnection) {
    sim_server::Dispatcher dispatcher;
    sim_server::add_core_handlers(dispatcher);
    sim_server::WebFront front(dispatcher);
    ASSERT_EQ(front.start(), 0);
    in_addr address{};
    inet_pton(AF_INET, "127.0.0.2", &address);
    platform::UniqueFd fd = platform::tcp_connect(address, front.port(), Deadline::after_ms(5000));
    ASSERT_TRUE(fd);
    struct Case {
        const char* headers;
        bool compressed;
    };
    for (const Case& c : {Case{"Accept-Encoding: gzip\r\n", true}, Case{"", false},
                          Case{"Accept-Encoding: identity\r\n", false}, Case{"Accept-Encoding: deflate, gzip\r\n", true},
                          Case{"Accept-Encoding: gzip;q=0\r\n", false}}) {
        const Response r = call(fd.get(), c.headers);
        EXPECT_EQ(r.head.rfind("HTTP/1.1 200", 0), 0u) << c.headers << r.head;
        EXPECT_EQ(gzipped(r), c.compressed) << c.headers << r.head;
        if (!c.compressed) {
            EXPECT_NE(r.body.find("<result>MCxyZWFkeSAgICAgICAgAA==</result>"), std::string::npos) << r.body;
        }
    }
    // A request that never reaches the operation is answered as it asked, whatever the
    // call before it asked (the fault ends the connection).
    EXPECT_TRUE(gzipped(call(fd.get(), "Accept-Encoding: gzip\r\n")));
    const Response fault = call(fd.get(), "", kUnknownCall);
    EXPECT_EQ(fault.head.rfind("HTTP/1.1 500", 0), 0u) << fault.head;
    EXPECT_FALSE(gzipped(fault));
    EXPECT_NE(fault.body.find("SOAP-ENV:Fault"), std::string::npos) << fault.body;
    EXPECT_EQ(front.connections_accepted(), 1u);
    const auto calls = front.calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0].accepted, "gzip");
    EXPECT_EQ(calls[1].accepted, "");
}

TEST(WebFrontEncoding, AcceptEncodingRules) {
    struct Case {
        const char* header;
        bool gzip;
    };
    for (const Case& c : {Case{"", false}, Case{"identity", false}, Case{"deflate", false}, Case{"gzip", true},
                          Case{"GZIP", true}, Case{"x-gzip", true}, Case{" deflate , gzip ", true},
                          Case{"gzip;q=0", false}, Case{"gzip; q=0.000", false}, Case{"gzip;q=0.5", true},
                          Case{"gzip;q=1", true}, Case{"*", true}, Case{"*;q=0", false}, Case{"gzip;q=0, *", false},
                          Case{"*, gzip;q=0", false}, Case{"identity;q=1, *;q=0.1", true}, Case{"gzipx", false},
                          Case{",,;", false}})
        EXPECT_EQ(sim_server::accepts_gzip(c.header), c.gzip) << '"' << c.header << '"';
}

}  // namespace
