#include "server/tls/tls_front.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "platform/monotonic_clock.h"
#include "server/tls/request_delimiter.h"

namespace sim_server {
namespace {

constexpr int kPollSliceMs = 20;
constexpr int kIoTimeoutSeconds = 5;

std::string framed(uint32_t total, const std::string& payload) {
    std::string wire(4, '\0');
    for (int i = 0; i < 4; ++i) wire[i] = static_cast<char>((total >> (8 * i)) & 0xFFu);
    return wire + payload;
}

bool write_pieces(SSL* ssl, const std::string& wire, size_t piece) {
    for (size_t at = 0; at < wire.size(); at += piece) {
        const size_t chunk = std::min(piece, wire.size() - at);
        if (SSL_write(ssl, wire.data() + at, static_cast<int>(chunk)) <= 0) return false;
    }
    return true;
}

}  // namespace

TlsFront::TlsFront(Dispatcher& dispatcher, TlsFrontOptions options)
    : dispatcher_(dispatcher), options_(std::move(options)), piece_(options_.piece == 0 ? 1 : options_.piece) {}

TlsFront::~TlsFront() { stop(); }

int TlsFront::start() {
    stop();
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (ctx_ == nullptr) return errno = ENOMEM, -1;
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(ctx_, options_.certificate_file.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_, options_.key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
        stop();
        return errno = EPROTO, -1;
    }
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(options_.port);
    if (inet_pton(AF_INET, options_.address.c_str(), &a.sin_addr) != 1 ||
        bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_fd_, 16) != 0) {
        const int error = errno;
        stop();
        return errno = error, -1;
    }
    socklen_t length = sizeof a;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
    stopping_.store(false);
    acceptor_ = std::thread([this] { accept_loop(); });
    return 0;
}

void TlsFront::stop() {
    stopping_.store(true);
    if (acceptor_.joinable()) acceptor_.join();
    connections_.for_each([](Connection& c) { shutdown(c.fd, SHUT_RDWR); });
    reap(true);
    if (listen_fd_ >= 0) ::close(listen_fd_);
    listen_fd_ = -1;
    if (ctx_ != nullptr) SSL_CTX_free(ctx_);
    ctx_ = nullptr;
}

void TlsFront::reap(bool all) {
    connections_.reap(all, [](Connection& c) {
        if (c.fd >= 0) ::close(c.fd);
    });
}

void TlsFront::accept_loop() {
    const auto end_of_life = platform::Deadline::after_ms(options_.lifetime_ms);
    while (!stopping_.load() && !end_of_life.expired()) {
        reap(false);
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, kPollSliceMs) <= 0) continue;
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // A stalled client cannot hold a connection thread for ever.
        const timeval limit{kIoTimeoutSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        // Each piece goes out as it is written, as the pieces of a reply are meant to.
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        accepted_.fetch_add(1);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connections_.start(std::move(connection), [this](Connection& c) { serve(c); });
    }
}

void TlsFront::serve(Connection& connection) {
    SSL* ssl = SSL_new(ctx_);
    SSL_set_fd(ssl, connection.fd);
    std::string received;
    // Older clients end a "WF" with a NUL after its data, which the byte count does not cover.
    bool after_write = false;
    if (ssl != nullptr && SSL_accept(ssl) == 1) {
        while (!stopping_.load()) {
            if (after_write && !received.empty()) {
                if (received[0] == '\0') received.erase(0, 1);
                after_write = false;
            }
            RequestExtent extent = delimit_request(received, options_.request_max);
            if (extent.state == RequestExtent::State::invalid) break;
            if (extent.state == RequestExtent::State::need_more) {
                char buffer[16384];
                const int n = SSL_read(ssl, buffer, sizeof buffer);
                if (n <= 0) {
                    if (SSL_get_error(ssl, n) == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EWOULDBLOCK) &&
                        received.empty())
                        continue;  // an idle link: keep waiting
                    break;
                }
                received.append(buffer, static_cast<size_t>(n));
                continue;
            }
            const std::string request = received.substr(0, extent.length);
            received.erase(0, extent.length);
            after_write = request.starts_with("WF");
            Answer answer = dispatcher_.handle(request, "tls", 0);
            const Fault& fault = answer.fault;
            if (fault.milliseconds != 0) {
                const auto until = platform::Deadline::after_ms(fault.milliseconds);
                while (!until.expired() && !stopping_.load())
                    std::this_thread::sleep_for(
                        std::chrono::milliseconds(std::min(kPollSliceMs, until.remaining_ms())));
                if (stopping_.load()) break;
            }
            if (fault.kind == Fault::Kind::close_at_once) break;
            const uint32_t total = fault.kind == Fault::Kind::broken_length
                                       ? fault.bytes
                                       : static_cast<uint32_t>(answer.reply.size());
            std::string wire = framed(total, answer.reply);
            if (fault.kind == Fault::Kind::close_after && fault.bytes < wire.size()) wire.resize(fault.bytes);
            if (!write_pieces(ssl, wire, piece_.load())) break;
            if (fault.kind == Fault::Kind::close_after || fault.kind == Fault::Kind::broken_length) break;
        }
    }
    if (ssl != nullptr) SSL_free(ssl);
    shutdown(connection.fd, SHUT_RDWR);
    connection.done.store(true);
}

}  // namespace sim_server
