#include "link_tls/tls_transport.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "link_tls/tls_reply.h"
#include "platform/last_error.h"
#include "platform/secret_mask.h"
#include "platform/tcp_socket.h"
#include "qvr/link/link_backend.h"
#include "qvr/settings/reg.h"
#include "qvr/util/url.h"

namespace {

using platform::Deadline;

struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
};
struct CtxFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};

// One link: the socket and the TLS session over it.
struct TlsLink {
    platform::UniqueFd fd;
    std::unique_ptr<SSL, SslFree> ssl;
};

TlsLink* link_of(const ServerConnection* entry) { return reinterpret_cast<TlsLink*>(entry->handle); }

// ---- A socket BIO whose writes never raise SIGPIPE ----

int nosignal_write(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    const long n = send(BIO_get_fd(bio, nullptr), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int nosignal_read(BIO* bio, char* data, int length) {
    BIO_clear_retry_flags(bio);
    const long n = recv(BIO_get_fd(bio, nullptr), data, static_cast<size_t>(length), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

int nosignal_puts(BIO* bio, const char* text) { return nosignal_write(bio, text, static_cast<int>(strlen(text))); }

long nosignal_ctrl(BIO* bio, int command, long number, void* pointer) {
    switch (command) {
        case BIO_C_SET_FD:
            BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(*static_cast<int*>(pointer))));
            BIO_set_init(bio, 1);
            (void)number;
            return 1;
        case BIO_C_GET_FD: {
            const int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
            if (pointer != nullptr) *static_cast<int*>(pointer) = fd;
            return fd;
        }
        case BIO_CTRL_FLUSH:
            return 1;
        default:
            return 0;
    }
}

const BIO_METHOD* nosignal_method() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "tcp-nosignal");
        BIO_meth_set_write(m, nosignal_write);
        BIO_meth_set_read(m, nosignal_read);
        BIO_meth_set_puts(m, nosignal_puts);
        BIO_meth_set_ctrl(m, nosignal_ctrl);
        return m;
    }();
    return method;
}

// ---- The process's client context ----

std::mutex g_context_lock;
std::unique_ptr<SSL_CTX, CtxFree> g_context;

std::string product_string(const char* name) {
    char value[1024] = {};
    uint32_t type = 0;
    uint32_t size = sizeof value - 1;
    if (reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyQueryValue, name, &type,
                               value, &size) != 0 ||
        type != kRegSz)
        return {};
    return std::string(value, strnlen(value, sizeof value));
}

std::string openssl_reason() {
    const unsigned long code = ERR_get_error();
    char text[256] = "unknown";
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text;
}

SSL_CTX* client_context() {
    std::lock_guard guard(g_context_lock);
    if (g_context) return g_context.get();
    std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx) return nullptr;
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_default_verify_paths(ctx.get());
    const std::string file = product_string("TlsCAFile");
    const std::string folder = product_string("TlsCAPath");
    if ((!file.empty() || !folder.empty()) &&
        SSL_CTX_load_verify_locations(ctx.get(), file.empty() ? nullptr : file.c_str(),
                                      folder.empty() ? nullptr : folder.c_str()) != 1)
        qvr::link_internal::trace_line("TLS: CA settings \"%s\" \"%s\" not loaded: %s", file.c_str(), folder.c_str(),
                                       openssl_reason().c_str());
    ERR_clear_error();
    g_context = std::move(ctx);
    return g_context.get();
}

// ---- Non-blocking TLS steps under one deadline ----

// Waits as the session asks after `rc`; 0 to retry, else -1 with the error set.
int wait_for_session(SSL* ssl, int fd, int rc, const Deadline& deadline) {
    const int error = SSL_get_error(ssl, rc);
    if (error == SSL_ERROR_WANT_READ) return platform::tcp_wait(fd, POLLIN, deadline);
    if (error == SSL_ERROR_WANT_WRITE) return platform::tcp_wait(fd, POLLOUT, deadline);
    if (error == SSL_ERROR_ZERO_RETURN) return platform::fail(platform::kErrorWsaConnReset);
    if (error == SSL_ERROR_SYSCALL) {
        const int e = errno;
        ERR_clear_error();
        if (e == 0 || e == EPIPE || e == ECONNRESET || e == ENOTCONN) return platform::fail(platform::kErrorWsaConnReset);
        return platform::fail(e);
    }
    return platform::fail(EPROTO);
}

int handshake(SSL* ssl, int fd, const Deadline& deadline) {
    for (;;) {
        ERR_clear_error();
        const int rc = SSL_connect(ssl);
        if (rc == 1) return 0;
        const int error = SSL_get_error(ssl, rc);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (wait_for_session(ssl, fd, rc, deadline) != 0) return -1;
            continue;
        }
        const long verify = SSL_get_verify_result(ssl);
        if (verify != X509_V_OK) {
            qvr::link_internal::trace_line("TLS: server certificate rejected: %s",
                                           X509_verify_cert_error_string(verify));
            ERR_clear_error();
            return platform::fail(EKEYREJECTED);
        }
        const std::string reason = openssl_reason();
        qvr::link_internal::trace_line("TLS: handshake failed: %s", reason.c_str());
        if (error == SSL_ERROR_SYSCALL) return platform::fail(platform::kErrorWsaConnReset);
        return platform::fail(EPROTO);
    }
}

int write_all(SSL* ssl, int fd, std::span<const std::byte> bytes, const Deadline& deadline) {
    size_t done = 0;
    while (done < bytes.size()) {
        ERR_clear_error();
        size_t written = 0;
        const int rc = SSL_write_ex(ssl, bytes.data() + done, bytes.size() - done, &written);
        if (rc == 1) {
            done += written;
            continue;
        }
        if (wait_for_session(ssl, fd, rc, deadline) != 0) return -1;
    }
    return 0;
}

long read_some(SSL* ssl, int fd, std::span<std::byte> bytes, const Deadline& deadline) {
    for (;;) {
        ERR_clear_error();
        size_t got = 0;
        const int rc = SSL_read_ex(ssl, bytes.data(), bytes.size(), &got);
        if (rc == 1) return static_cast<long>(got);
        if (wait_for_session(ssl, fd, rc, deadline) != 0) return -1;
    }
}

bool is_ipv4_literal(const char* host) {
    in_addr a{};
    return inet_pton(AF_INET, host, &a) == 1;
}

void print_certificate(SSL* ssl) {
    X509* cert = SSL_get0_peer_certificate(ssl);
    if (cert == nullptr) return;
    char subject[512];
    char issuer[512];
    X509_NAME_oneline(X509_get_subject_name(cert), subject, sizeof subject);
    X509_NAME_oneline(X509_get_issuer_name(cert), issuer, sizeof issuer);
    std::printf("Server certificate:\n\t subject: %s\n\t issuer: %s\n", subject, issuer);
    std::fflush(stdout);
}

const LinkBackend kBackend{sock_Open, sock_Transfer, sock_Close, 1};

}  // namespace

int sock_Startup() { return 1; }

void sock_Cleanup() {}

int sock_Open(ServerConnection* entry) {
    if (entry == nullptr) return platform::fail(platform::kErrorInvalidParameter), 0;
    // A trace line, so nothing is written while the trace is off.
    qvr::link_internal::trace_line(">>%s Opening socket connection\r\n", platform::mask_secrets(entry->server).c_str());
    UrlBuffers buffers;
    UrlComponents parts = buffers.components();
    parts.path = nullptr;
    parts.extra = nullptr;
    if (url_Split(entry->server, 0, 0, &parts) == 0 || sock_Startup() == 0) return 0;
    // "." means this machine; the certificate is then checked for "localhost".
    const std::string host = std::string(buffers.host, parts.host_length) == "." ? "localhost"
                                                                                  : std::string(buffers.host, parts.host_length);
    uint16_t port = parts.port;
    if (parts.port_given == 0) {
        port = platform::tcp_service_port(std::string_view(buffers.scheme, parts.scheme_length)).value_or(kSockDefaultPort);
    }
    SSL_CTX* ctx = client_context();
    if (ctx == nullptr) return platform::fail(EPROTO), 0;
    const Deadline deadline = Deadline::after_ms(qvr::link_internal::exchange_timeout_ms(*entry));
    in_addr address{};
    if (platform::tcp_resolve_ipv4(host, address) != 0) return 0;
    auto link = std::make_unique<TlsLink>();
    link->fd = platform::tcp_connect(address, port, deadline);
    if (!link->fd) return 0;
    link->ssl.reset(SSL_new(ctx));
    BIO* bio = link->ssl ? BIO_new(nosignal_method()) : nullptr;
    if (bio == nullptr) return platform::fail(platform::kErrorNotEnoughMemory), 0;
    int fd = link->fd.get();
    BIO_ctrl(bio, BIO_C_SET_FD, 0, &fd);
    SSL_set_bio(link->ssl.get(), bio, bio);
    if (is_ipv4_literal(host.c_str())) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(link->ssl.get()), host.c_str());
    } else {
        SSL_set1_host(link->ssl.get(), host.c_str());
        SSL_set_tlsext_host_name(link->ssl.get(), host.c_str());
    }
    if (handshake(link->ssl.get(), fd, deadline) != 0) return 0;
    print_certificate(link->ssl.get());
    entry->handle = reinterpret_cast<intptr_t>(link.release());
    entry->kind = kServerSocket;
    return 1;
}

int sock_Exchange(ServerConnection* entry, const void* request, uint32_t length, void* reply,
                  uint32_t* reply_length) {
    if (entry == nullptr || entry->kind != kServerSocket || entry->handle == 0 || reply_length == nullptr ||
        (request == nullptr && length != 0) || (reply == nullptr && *reply_length != 0)) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return 0;
    }
    TlsLink* link = link_of(entry);
    const Deadline deadline = Deadline::after_ms(qvr::link_internal::exchange_timeout_ms(*entry));
    const std::span reply_bytes(static_cast<std::byte*>(reply), *reply_length);
    *reply_length = 0;
    if (write_all(link->ssl.get(), link->fd.get(), std::span(static_cast<const std::byte*>(request), length), deadline) !=
        0)
        return 0;
    size_t received = 0;
    const int rc = link_tls::read_reply(
        [&](std::span<std::byte> into) { return read_some(link->ssl.get(), link->fd.get(), into, deadline); },
        reply_bytes, received);
    *reply_length = static_cast<uint32_t>(received);
    if (rc != 0) return 0;
    platform::set_last_error(0);
    return 1;
}

int sock_Transfer(ServerConnection* entry, const void* request, uint32_t length, void* reply,
                  uint32_t* reply_length) {
    return sock_Exchange(entry, request, length, reply, reply_length);
}

void sock_Close(ServerConnection* entry) {
    if (entry == nullptr) return;
    std::unique_ptr<TlsLink> owned(link_of(entry));
    entry->handle = 0;
    // No close_notify: the link may be out of step, and the peer learns of the end anyway.
}

int tls_RegisterTransport() { return link_SetBackend(kServerSocket, &kBackend); }

namespace link_tls::testing {
void reset_context() {
    std::lock_guard guard(g_context_lock);
    g_context.reset();
}
}  // namespace link_tls::testing
