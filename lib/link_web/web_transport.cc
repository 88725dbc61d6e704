#include "link_web/web_transport.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link_web/http_response_end.h"
#include "link_web/web_endpoint.h"
#include "link_web/web_failure.h"
#include "platform/last_error.h"
#include "platform/monotonic_clock.h"
#include "qvr/link/link_backend.h"
#include "qvr/settings/reg.h"
#include "qvr/util/url.h"
#include "soapH.h"

namespace {

// Room for the envelope around the Base64 result, and for a fault's texts.
constexpr uint64_t kEnvelopeAllowance = 16384;

struct SoapFree {
    void operator()(soap* ctx) const {
        soap_destroy(ctx);
        soap_end(ctx);
        soap_free(ctx);
    }
};

struct WebLink {
    std::unique_ptr<soap, SoapFree> ctx;
    std::string endpoint;
    std::string user;      // decoded
    std::string password;  // decoded
    std::atomic<int> recorded_error{0};
    bool error_hook = false;
    // The reply's framing, so that a reply whose body has arrived whole is not waited on.
    size_t (*receive)(soap*, char*, size_t) = nullptr;  // what reads the connection
    link_web::HttpResponseEnd response_end;
    bool read_past_end = false;  // gSOAP wanted more than the whole body
};

WebLink* link_of(const ServerConnection* entry) { return reinterpret_cast<WebLink*>(entry->handle); }

// A kept-alive connection sends nothing after a reply: once the body the headers announced
// has arrived, asking for more is the end of the reply, not a wait for the time-out.
size_t receive_within_reply(soap* ctx, char* buffer, size_t length) {
    WebLink* link = static_cast<WebLink*>(ctx->user);
    if (link->response_end.complete()) {
        link->read_past_end = true;
        return 0;
    }
    const size_t n = link->receive(ctx, buffer, length);
    link->response_end.feed(std::string_view(buffer, n));
    return n;
}

std::atomic<bool> g_error_hook{false};
std::atomic<void (*)(soap*)> g_context_hook{nullptr};
std::atomic<int> g_compression_level{9};

// The live web links, so that web_OnServerError finds a link by its context.
std::mutex g_links_lock;
std::vector<WebLink*> g_links;

void remember(WebLink* link) {
    std::lock_guard guard(g_links_lock);
    g_links.push_back(link);
}

void forget(WebLink* link) {
    std::lock_guard guard(g_links_lock);
    g_links.erase(std::remove(g_links.begin(), g_links.end(), link), g_links.end());
}

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

// gSOAP writes through plain sockets and OpenSSL's socket BIO: a peer gone must not raise
// SIGPIPE in the process. The signal is blocked in this thread for the call, and one raised
// meanwhile is consumed before the mask is put back.
class SigpipeBlock {
  public:
    SigpipeBlock() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~SigpipeBlock() {
        sigset_t pending;
        sigpending(&pending);
        if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{0, 0};
            sigtimedwait(&pipe_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

  private:
    sigset_t pipe_{};
    sigset_t old_{};
    bool was_pending_ = false;
};

// gSOAP's TLS, once per process.
void init_tls_once() {
    static std::once_flag once;
    std::call_once(once, [] { soap_ssl_init(); });
}

// The client TLS context of an https link: chain and host name verified, TLS 1.2 or newer,
// the system trust store plus the CA settings. 0, or a gSOAP error.
int set_up_tls(soap* ctx, const std::string& host) {
    init_tls_once();
    const std::string file = product_string("TlsCAFile");
    const std::string folder = product_string("TlsCAPath");
    if (soap_ssl_client_context(ctx, SOAP_SSL_REQUIRE_SERVER_AUTHENTICATION | SOAP_TLSv1_2 | SOAP_TLSv1_3, nullptr,
                                nullptr, file.empty() ? nullptr : file.c_str(),
                                folder.empty() ? nullptr : folder.c_str(), nullptr) != SOAP_OK)
        return ctx->error != 0 ? ctx->error : SOAP_SSL_ERROR;
    if (ctx->ctx == nullptr) return SOAP_SSL_ERROR;
    SSL_CTX_set_min_proto_version(ctx->ctx, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(ctx->ctx);
    // OpenSSL checks the name (or IPv4 address) during verification too, before gSOAP's own
    // check after the handshake.
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx->ctx);
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) == 1)
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    else
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    return 0;
}

int timeout_in_usec(uint32_t milliseconds) {
    const uint64_t usec = static_cast<uint64_t>(milliseconds) * 1000;
    return -static_cast<int>(std::min<uint64_t>(usec, 2000000000ULL));
}

const LinkBackend kBackend{web_Open, web_Transfer, web_Close, 1};

}  // namespace

int web_Open(ServerConnection* entry) {
    if (entry == nullptr) return platform::fail(platform::kErrorInvalidParameter), 0;
    auto link = std::make_unique<WebLink>();
    UrlBuffers raw;
    UrlComponents parts = raw.components();
    UrlBuffers decoded;
    UrlComponents decoded_parts = decoded.components();
    if (url_Split(entry->server, 0, 0, &parts) == 0 || url_Split(entry->server, 0, kUrlDecode, &decoded_parts) == 0) {
        qvr::link_internal::trace_line("InternetCrackUrl failed\r\n");
        return 0;
    }
    link_web::EndpointParts endpoint;
    endpoint.scheme = std::string_view(raw.scheme, parts.scheme_length);
    endpoint.host = std::string_view(raw.host, parts.host_length);
    endpoint.port = parts.port;
    endpoint.port_given = parts.port_given != 0;
    endpoint.path = std::string_view(raw.path, parts.path_length);
    endpoint.query = std::string_view(raw.extra, parts.extra_length);
    link->endpoint = link_web::build_endpoint(endpoint, reg_GetProductName());
    link->user.assign(decoded.user, decoded_parts.user_length);
    link->password.assign(decoded.password, decoded_parts.password_length);

    link->ctx.reset(soap_new2(SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE | SOAP_ENC_ZLIB));
    if (!link->ctx) return platform::fail(platform::kErrorNotEnoughMemory), 0;
    soap* ctx = link->ctx.get();
    ctx->z_level = static_cast<unsigned short>(g_compression_level.load());
    ctx->socket_flags = MSG_NOSIGNAL;
    ctx->user = link.get();
    if (link->endpoint.rfind("https:", 0) == 0 &&
        set_up_tls(ctx, std::string(decoded.host, decoded_parts.host_length)) != 0) {
        qvr::link_internal::trace_line("soap_register_plugin_arg failed\r\n");
        return platform::fail(EPROTO), 0;
    }
    link->error_hook = g_error_hook.load();
    if (auto hook = g_context_hook.load(); hook != nullptr) hook(ctx);
    link->receive = ctx->frecv;
    ctx->frecv = receive_within_reply;
    remember(link.get());
    entry->handle = reinterpret_cast<intptr_t>(link.release());
    entry->kind = kServerWeb;
    return 1;
}

int web_Transfer(ServerConnection* entry, const void* request, uint32_t length, void* reply,
                 uint32_t* reply_length) {
    if (entry == nullptr || entry->handle == 0 || reply_length == nullptr || (request == nullptr && length != 0) ||
        (reply == nullptr && *reply_length != 0) || length > static_cast<uint32_t>(INT32_MAX)) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return 0;
    }
    WebLink* link = link_of(entry);
    soap* ctx = link->ctx.get();
    const uint32_t capacity = *reply_length;
    *reply_length = 0;
    // A Base64 result of the capacity and its envelope; anything larger is refused while it
    // arrives, however well it was compressed. gSOAP counts the bytes received and those
    // inflated from them alike, hence twice.
    ctx->recv_maxlength = 2 * ((static_cast<uint64_t>(capacity) + 2) / 3 * 4 + kEnvelopeAllowance);
    // gSOAP waits for ever unless told otherwise.
    const uint32_t timeout_ms = qvr::link_internal::exchange_timeout_ms(*entry);
    const int timeout = timeout_in_usec(timeout_ms);
    ctx->connect_timeout = timeout;
    ctx->send_timeout = timeout;
    ctx->recv_timeout = timeout;
    ctx->transfer_timeout = timeout;
    // gSOAP forgets the credentials after every call.
    ctx->userid = link->user.empty() ? nullptr : link->user.c_str();
    ctx->passwd = link->user.empty() ? nullptr : link->password.c_str();
    link->recorded_error.store(0);
    link->response_end.reset();
    link->read_past_end = false;

    xsd__base64Binary bytes;
    bytes.__ptr = static_cast<unsigned char*>(const_cast<void*>(request));
    bytes.__size = static_cast<int>(length);
    xsd__base64Binary result;
    result.__ptr = nullptr;
    result.__size = 0;
    char host[] = ".";
    const platform::Deadline deadline = platform::Deadline::after_ms(timeout_ms);
    int rc;
    {
        SigpipeBlock no_sigpipe;
        rc = soap_call_ns__SendRequest(ctx, link->endpoint.c_str(), "", host, bytes,
                                       static_cast<int>(std::min<uint32_t>(capacity, INT32_MAX)), &result);
    }
    int error = 0;
    if (rc == SOAP_OK) {
        if (result.__size < 0 || static_cast<uint32_t>(result.__size) > capacity ||
            (result.__size > 0 && result.__ptr == nullptr)) {
            qvr::link_internal::trace_line("Result of %d bytes longer than ResultSize %u\n", result.__size, capacity);
            error = platform::kErrorMoreData;
        } else {
            if (result.__size > 0) std::memcpy(reply, result.__ptr, static_cast<size_t>(result.__size));
            *reply_length = static_cast<uint32_t>(result.__size);
        }
    } else {
        const int status = link_web::http_status_of(ctx);
        if (status != 0 && link->error_hook) web_OnServerError(ctx, status);
        error = link_web::report_failure(ctx, link->recorded_error.load(), deadline.expired());
        // The whole body came and its XML did not: nothing more is coming. (gSOAP ends a
        // chunked body at its last chunk by itself.)
        const bool body_cut = link->read_past_end || (link->response_end.complete() && ctx->error == SOAP_EOF);
        if (body_cut && status == 0 && link->recorded_error.load() == 0 && error != platform::kErrorMoreData) {
            qvr::link_internal::trace_line("Reply complete but its XML is cut short\n");
            error = platform::kErrorInvalidData;
        }
    }
    soap_destroy(ctx);
    soap_end(ctx);
    if (error != 0) return platform::fail(error), 0;
    platform::set_last_error(0);
    return 1;
}

void web_Close(ServerConnection* entry) {
    if (entry == nullptr || entry->handle == 0) return;
    std::unique_ptr<WebLink> owned(link_of(entry));
    forget(owned.get());
    entry->handle = 0;
}

void web_EnableErrorHook() { g_error_hook.store(true); }

int web_OnServerError(void* request_handle, int error_code) {
    std::lock_guard guard(g_links_lock);
    for (WebLink* link : g_links)
        if (link->ctx.get() == request_handle) link->recorded_error.store(error_code);
    return 0;
}

int web_RegisterTransport() { return link_SetBackend(kServerWeb, &kBackend); }

namespace link_web::testing {
void set_context_hook(void (*hook)(soap* ctx)) { g_context_hook.store(hook); }
void set_compression_level(int level) { g_compression_level.store(level < 0 ? 0 : level > 9 ? 9 : level); }
void disable_error_hook() { g_error_hook.store(false); }
int recorded_error(const ServerConnection* entry) {
    if (entry == nullptr || entry->kind != kServerWeb || entry->handle == 0) return -1;
    return link_of(entry)->recorded_error.load();
}
}  // namespace link_web::testing
