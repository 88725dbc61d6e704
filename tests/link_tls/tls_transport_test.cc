#include "link_tls/tls_transport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <stdlib.h>

#include <filesystem>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link_tls/tls_reply.h"
#include "platform/last_error.h"
#include "platform/registry_key.h"
#include "platform/tcp_socket.h"
#include "platform/unique_fd.h"
#include "qvr/link/link.h"
#include "qvr/link/link_backend.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/link_testing.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace {

using qvr_test::certificates;

// How the server answers one request.
struct Script {
    std::string payload;
    size_t piece = 4093;           // bytes per TLS record of the reply (total included)
    long total_override = -1;      // the total to announce, when not the payload's size
    long close_after = -1;         // close after this many reply bytes
    bool silent = false;           // never answer
    int max_version = 0;           // offer at most this protocol version
};

// A TLS server on 127.0.0.2 answering each request by its script.
class TlsServer {
  public:
    TlsServer(const std::string& name, Script script, const char* address = "127.0.0.2", uint16_t port = 0)
        : script_(std::move(script)) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        const auto& c = certificates();
        SSL_CTX_use_certificate_file(ctx_, c.path(name + ".crt").c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(ctx_, c.path(name + ".key").c_str(), SSL_FILETYPE_PEM);
        if (script_.max_version != 0) {
            SSL_CTX_set_security_level(ctx_, 0);
            SSL_CTX_set_min_proto_version(ctx_, script_.max_version);
            SSL_CTX_set_max_proto_version(ctx_, script_.max_version);
        }
        listen_.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int on = 1;
        setsockopt(listen_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, address, &a.sin_addr);
        a.sin_port = htons(port);
        bound_ = bind(listen_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        EXPECT_TRUE(bound_ || port != 0);
        EXPECT_EQ(listen(listen_.get(), 8), 0);
        socklen_t length = sizeof a;
        getsockname(listen_.get(), reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~TlsServer() {
        stop_ = true;
        shutdown(listen_.get(), SHUT_RDWR);
        const int current = current_fd_.load();
        if (current >= 0) shutdown(current, SHUT_RDWR);  // a client that keeps its link open
        thread_.join();
        SSL_CTX_free(ctx_);
    }
    uint16_t port() const { return port_; }
    bool bound() const { return bound_; }
    std::string url(const std::string& host = "127.0.0.2") const {
        return "tcp://" + host + ":" + std::to_string(port_);
    }
    int connections() const { return connections_; }
    std::string last_request() const {
        std::lock_guard g(lock_);
        return last_request_;
    }

  private:
    void serve() {
        // The test server writes through plain sockets: a client gone must not end the test.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        while (!stop_) {
            platform::UniqueFd fd(accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!fd) return;
            ++connections_;
            current_fd_ = fd.get();
            if (stop_) return;
            SSL* ssl = SSL_new(ctx_);
            SSL_set_fd(ssl, fd.get());
            if (SSL_accept(ssl) == 1) answer(ssl);
            SSL_free(ssl);
            current_fd_ = -1;
        }
    }
    void answer(SSL* ssl) {
        for (;;) {
            char buffer[65536];
            const int n = SSL_read(ssl, buffer, sizeof buffer);
            if (n <= 0) return;
            {
                std::lock_guard g(lock_);
                last_request_.assign(buffer, static_cast<size_t>(n));
            }
            if (script_.silent) {
                while (!stop_ && SSL_read(ssl, buffer, sizeof buffer) > 0) {
                }
                return;
            }
            const uint32_t total = script_.total_override >= 0 ? static_cast<uint32_t>(script_.total_override)
                                                               : static_cast<uint32_t>(script_.payload.size());
            std::string wire(4, '\0');
            for (int i = 0; i < 4; ++i) wire[i] = static_cast<char>((total >> (8 * i)) & 0xFF);
            wire += script_.payload;
            if (script_.close_after >= 0) wire.resize(static_cast<size_t>(script_.close_after));
            for (size_t at = 0; at < wire.size(); at += script_.piece) {
                const size_t chunk = std::min(script_.piece, wire.size() - at);
                if (SSL_write(ssl, wire.data() + at, static_cast<int>(chunk)) <= 0) return;
            }
            if (script_.close_after >= 0) return;
        }
    }

    Script script_;
    SSL_CTX* ctx_ = nullptr;
    platform::UniqueFd listen_;
    uint16_t port_ = 0;
    bool bound_ = false;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> current_fd_{-1};
    mutable std::mutex lock_;
    std::string last_request_;
};

void set_product_string(const char* name, const std::string& value) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string(name, value), 0);
}

class TlsTransportTest : public testing::Test {
  protected:
    void SetUp() override {
        qvr::link_testing::reset_table();
        link_tls::testing::reset_context();
        set_product_string("TlsCAFile", certificates().path("ca.crt"));
        ASSERT_EQ(tls_RegisterTransport(), 0);
    }
    void TearDown() override {
        qvr::link_testing::reset_table();
        link_tls::testing::reset_context();
        link_SetBackend(kServerSocket, nullptr);
    }

    // One exchange through the link layer's dispatch: 1 or 0 and the reply bytes.
    int exchange(const std::string& url, const std::string& request, std::vector<char>& reply, uint32_t capacity,
                 uint32_t timeout_ms = 5000) {
        ServerConnection* entry = link_GetConnection(url.c_str());
        if (entry == nullptr) return -1;
        entry->timeout = timeout_ms;
        reply.assign(capacity, '\x55');
        uint32_t length = capacity;
        const int ok = link_Dispatch(entry, request.data(), static_cast<uint32_t>(request.size()), reply.data(),
                                     &length);
        const int error = platform::last_error();
        entry->lock.unlock();
        reply.resize(length);
        platform::set_last_error(error);
        return ok;
    }
};

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
    return s;
}

struct PieceCase {
    size_t total;
    size_t piece;
};

class TlsReplyPieces : public TlsTransportTest, public testing::WithParamInterface<PieceCase> {};

TEST_P(TlsReplyPieces, WholeReplyArrivesAndNothingPastIt) {
    const PieceCase c = GetParam();
    Script s;
    s.payload = pattern(c.total);
    s.piece = c.piece;
    TlsServer server("good", s);
    std::vector<char> reply;
    ASSERT_EQ(exchange(server.url(), std::string("RQ\0", 3), reply, 10000), 1) << platform::last_error();
    EXPECT_EQ(std::string(reply.data(), reply.size()), s.payload);
    EXPECT_EQ(server.last_request(), std::string("RQ\0", 3));
}

INSTANTIATE_TEST_SUITE_P(Totals, TlsReplyPieces,
                         testing::Values(PieceCase{0, 4093}, PieceCase{1, 1}, PieceCase{1, 4093},
                                         PieceCase{4089, 1}, PieceCase{4089, 4093}, PieceCase{4089, 100000},
                                         PieceCase{10000, 1}, PieceCase{10000, 4093}, PieceCase{10000, 100000},
                                         PieceCase{10, 2}));  // 2: the length prefix over two records

TEST_F(TlsTransportTest, TotalAboveCapacityFailsBeforeCopying) {
    Script s;
    s.payload = pattern(200);
    TlsServer server("good", s);
    std::vector<char> reply;
    EXPECT_EQ(exchange(server.url(), "RQ", reply, 100), 0);
    EXPECT_EQ(platform::last_error(), platform::kErrorMoreData);
    EXPECT_TRUE(reply.empty());
}

TEST_F(TlsTransportTest, StreamEndingMidReplyIsAReset) {
    for (long after : {0L, 2L, 50L}) {
        Script s;
        s.payload = pattern(100);
        s.close_after = after;
        TlsServer server("good", s);
        std::vector<char> reply;
        EXPECT_EQ(exchange(server.url(), "RQ", reply, 1000), 0) << after;
        EXPECT_EQ(platform::last_error(), platform::kErrorWsaConnReset) << after;
        qvr::link_testing::reset_table();
    }
}

TEST_F(TlsTransportTest, SilentServerTimesOutClosesTheLinkAndTheNextRequestReopens) {
    Script s;
    s.silent = true;
    TlsServer server("good", s);
    std::vector<char> reply;
    EXPECT_EQ(exchange(server.url(), "RQ", reply, 1000, 200), 0);
    EXPECT_EQ(platform::last_error(), platform::kErrorWsaTimedOut);
    EXPECT_TRUE(reply.empty());
    ServerConnection* entry = link_GetConnection(server.url().c_str());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->kind, kServerSocket);  // opened again
    entry->lock.unlock();
    EXPECT_EQ(server.connections(), 2);
}

struct RejectCase {
    const char* name;
    const char* certificate;
    const char* host;
};

class TlsVerification : public TlsTransportTest, public testing::WithParamInterface<RejectCase> {};

TEST_P(TlsVerification, CertificateThatFailsVerificationIsRejected) {
    const RejectCase c = GetParam();
    Script s;
    s.payload = "x";
    TlsServer server(c.certificate, s);
    ServerConnection* entry = link_GetConnection(server.url(c.host).c_str());
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(platform::last_error(), EKEYREJECTED);
}

INSTANTIATE_TEST_SUITE_P(Certificates, TlsVerification,
                         testing::Values(RejectCase{"WrongHost", "othername", "127.0.0.2"},
                                         RejectCase{"UnknownCa", "rogue", "127.0.0.2"},
                                         RejectCase{"Expired", "expired", "127.0.0.2"}),
                         [](const testing::TestParamInfo<RejectCase>& p) { return std::string(p.param.name); });

TEST_F(TlsTransportTest, NoCaConfiguredRejectsTheTestCa) {
    set_product_string("TlsCAFile", "");
    link_tls::testing::reset_context();
    Script s;
    TlsServer server("good", s);
    EXPECT_EQ(link_GetConnection(server.url().c_str()), nullptr);
    EXPECT_EQ(platform::last_error(), EKEYREJECTED);
}

TEST_F(TlsTransportTest, ServerOfferingOnlyTls11IsRefused) {
    Script s;
    s.max_version = TLS1_1_VERSION;
    TlsServer server("good", s);
    EXPECT_EQ(link_GetConnection(server.url().c_str()), nullptr);
    EXPECT_EQ(platform::last_error(), EPROTO);
}

TEST_F(TlsTransportTest, UnregisteredKindFailsWithNotSupported) {
    link_SetBackend(kServerSocket, nullptr);
    EXPECT_EQ(link_GetConnection("tcp://127.0.0.2:1"), nullptr);
    EXPECT_EQ(platform::last_error(), 50);
}

TEST_F(TlsTransportTest, TcpUrlWithoutPortUsesTheDefaultPort) {
    Script s;
    s.payload = "ok";
    TlsServer server("good", s, "127.0.0.2", kSockDefaultPort);
    if (!server.bound()) GTEST_SKIP() << "127.0.0.2:11234 is taken";
    std::vector<char> reply;
    ASSERT_EQ(exchange("tcp://127.0.0.2", "RQ", reply, 100), 1) << platform::last_error();
    EXPECT_EQ(std::string(reply.data(), reply.size()), "ok");
}

TEST_F(TlsTransportTest, DotHostIsLocalhostAndItsCertificateName) {
    Script s;
    s.payload = "ok";
    TlsServer server("good", s, "127.0.0.1");
    ServerConnection entry;
    const std::string url = "tcp://.:" + std::to_string(server.port());
    std::strcpy(entry.server, url.c_str());
    entry.timeout = 5000;
    ASSERT_EQ(sock_Open(&entry), 1) << platform::last_error();
    char reply[16];
    uint32_t length = sizeof reply;
    EXPECT_EQ(sock_Transfer(&entry, "RQ", 2, reply, &length), 1);
    EXPECT_EQ(std::string(reply, length), "ok");
    sock_Close(&entry);
}

}  // namespace
