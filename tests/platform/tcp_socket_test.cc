#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "platform/last_error.h"

namespace platform {
namespace {

// A listener on 127.0.0.1 at a port the kernel picks.
struct Listener {
    UniqueFd fd;
    uint16_t port = 0;

    Listener() : fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(fd.get(), 4), 0);
        socklen_t length = sizeof a;
        getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
    }
    UniqueFd accept_one() const { return UniqueFd(accept4(fd.get(), nullptr, nullptr, SOCK_CLOEXEC)); }
};

in_addr loopback() {
    in_addr a{};
    a.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

std::span<const std::byte> as_bytes(const std::string& s) { return std::as_bytes(std::span(s)); }

TEST(TcpResolve, LiteralsNamesAndThisMachine) {
    in_addr a{};
    ASSERT_EQ(tcp_resolve_ipv4("127.0.0.2", a), 0);
    EXPECT_EQ(ntohl(a.s_addr), 0x7F000002u);
    ASSERT_EQ(tcp_resolve_ipv4(".", a), 0);
    EXPECT_EQ(ntohl(a.s_addr) >> 24, 127u);
    ASSERT_EQ(tcp_resolve_ipv4("localhost", a), 0);
    EXPECT_EQ(ntohl(a.s_addr) >> 24, 127u);
}

TEST(TcpResolve, UnknownAndEmptyHostsFail) {
    in_addr a{};
    EXPECT_EQ(tcp_resolve_ipv4("no-such-host.invalid", a), -1);
    EXPECT_EQ(last_error(), kErrorWsaHostNotFound);
    EXPECT_EQ(tcp_resolve_ipv4("", a), -1);
    EXPECT_EQ(last_error(), kErrorInvalidParameter);
}

TEST(TcpService, PortsFromTheServiceTable) {
    EXPECT_EQ(tcp_service_port("http"), std::optional<uint16_t>(80));
    EXPECT_EQ(tcp_service_port("https"), std::optional<uint16_t>(443));
    EXPECT_EQ(tcp_service_port("tcp"), std::nullopt);
    EXPECT_EQ(tcp_service_port(""), std::nullopt);
}

TEST(TcpConnect, RefusedPortGivesTheSystemError) {
    uint16_t port = 0;
    {
        Listener gone;
        port = gone.port;
    }
    UniqueFd fd = tcp_connect(loopback(), port, Deadline::after_ms(1000));
    EXPECT_FALSE(fd);
    EXPECT_EQ(last_error(), ECONNREFUSED);
}

TEST(TcpExchange, BytesBothWaysThenEndOfStreamIsAReset) {
    Listener server;
    UniqueFd client = tcp_connect(loopback(), server.port, Deadline::after_ms(1000));
    ASSERT_TRUE(client);
    UniqueFd peer = server.accept_one();
    ASSERT_TRUE(peer);

    const std::string big(1 << 20, 'x');  // larger than the socket buffers: partial sends
    std::vector<std::byte> sink(big.size());
    size_t drained = 0;
    std::thread reader([&] {
        while (drained < sink.size()) {
            const long n = tcp_read_some(peer.get(), std::span(sink).subspan(drained), Deadline::after_ms(5000));
            if (n <= 0) return;
            drained += static_cast<size_t>(n);
        }
    });
    EXPECT_EQ(tcp_write_all(client.get(), as_bytes(big), Deadline::after_ms(5000)), 0);
    reader.join();
    ASSERT_EQ(drained, big.size());
    EXPECT_EQ(std::memcmp(sink.data(), big.data(), big.size()), 0);

    peer.reset();
    std::byte one[4];
    EXPECT_EQ(tcp_read_some(client.get(), one, Deadline::after_ms(1000)), -1);
    EXPECT_EQ(last_error(), kErrorWsaConnReset);
    EXPECT_EQ(tcp_write_all(client.get(), as_bytes(big), Deadline::after_ms(1000)), -1);
    EXPECT_EQ(last_error(), kErrorWsaConnReset);  // no SIGPIPE either: the test is still alive
}

TEST(TcpExchange, SilentPeerTimesOut) {
    Listener server;
    UniqueFd client = tcp_connect(loopback(), server.port, Deadline::after_ms(1000));
    ASSERT_TRUE(client);
    UniqueFd peer = server.accept_one();
    std::byte one[1];
    const int64_t start = monotonic_ms();
    EXPECT_EQ(tcp_read_some(client.get(), one, Deadline::after_ms(100)), -1);
    EXPECT_EQ(last_error(), kErrorWsaTimedOut);
    EXPECT_GE(monotonic_ms() - start, 90);
}

}  // namespace
}  // namespace platform
