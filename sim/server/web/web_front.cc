#include "server/web/web_front.h"

#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <netinet/in.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <strings.h>

#include "platform/monotonic_clock.h"
#include "server/web/accept_encoding.h"
#include "soapH.h"

namespace sim_server {
namespace {

constexpr int kSliceUsec = 20000;
constexpr int kIdleConnectionSeconds = 30;
constexpr int kPollSliceMs = 20;

std::string text_or_empty(const char* text) { return text != nullptr ? text : ""; }

// The request's Content-Encoding and Accept-Encoding, seen by the connection's thread while
// gSOAP parses the headers of the call it is about to serve.
thread_local std::string t_content_encoding;
thread_local std::string t_accept_encoding;
using ParseHeader = int (*)(soap*, const char*, const char*);
std::atomic<ParseHeader> g_parse_header{nullptr};  // gSOAP's own parser

int recording_parse_header(soap* ctx, const char* key, const char* value) {
    if (key != nullptr && strcasecmp(key, "Content-Encoding") == 0) t_content_encoding = text_or_empty(value);
    if (key != nullptr && strcasecmp(key, "Accept-Encoding") == 0) t_accept_encoding = text_or_empty(value);
    return g_parse_header.load()(ctx, key, value);
}

// gSOAP compresses every reply of a context set up to compress, whatever the client accepts:
// replies are plain unless the call's request accepts gzip.
void reply_plain(soap* ctx) {
    soap_clr_omode(ctx, SOAP_ENC_ZLIB);
    ctx->zlib_out = SOAP_ZLIB_NONE;
}

void choose_reply_encoding(soap* ctx) {
    if (!accepts_gzip(t_accept_encoding)) return reply_plain(ctx);
    soap_set_omode(ctx, SOAP_ENC_ZLIB);
    ctx->zlib_out = SOAP_ZLIB_GZIP;
}

// Every request starts without the headers of the one before it on the connection.
int forget_headers(soap* ctx) {
    t_content_encoding.clear();
    t_accept_encoding.clear();
    reply_plain(ctx);
    return SOAP_OK;
}

// gSOAP only shuts a connection down; the front end closes it once its thread has ended, so
// that stop() never meets a descriptor number that was reused meanwhile.
int shutdown_only(soap*, SOAP_SOCKET fd) {
    shutdown(fd, SHUT_RDWR);
    return SOAP_OK;
}

void free_context(soap* ctx) {
    soap_destroy(ctx);
    soap_end(ctx);
    soap_free(ctx);
}

}  // namespace

WebFront::WebFront(Dispatcher& dispatcher, WebFrontOptions options)
    : dispatcher_(dispatcher), options_(std::move(options)) {}

WebFront::~WebFront() { stop(); }

int WebFront::start() {
    stop();
    const bool https = !options_.certificate_file.empty();
    listener_ = soap_new2(SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE);
    if (listener_ == nullptr) return errno = ENOMEM, -1;
    listener_->user = this;
    listener_->bind_flags = SO_REUSEADDR;
    listener_->accept_timeout = -kSliceUsec;
    listener_->recv_timeout = kIdleConnectionSeconds;
    listener_->send_timeout = kIdleConnectionSeconds;
    listener_->socket_flags = MSG_NOSIGNAL;
    listener_->z_level = static_cast<unsigned short>(options_.compression_level);
    ParseHeader none = nullptr;
    g_parse_header.compare_exchange_strong(none, listener_->fparsehdr);
    listener_->fparsehdr = recording_parse_header;
    listener_->fprepareinitrecv = forget_headers;
    if (https) {
        soap_ssl_init();
        if (soap_ssl_server_context(listener_, SOAP_SSL_NO_AUTHENTICATION | SOAP_TLSv1_2 | SOAP_TLSv1_3, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != SOAP_OK ||
            listener_->ctx == nullptr ||
            SSL_CTX_use_certificate_chain_file(listener_->ctx, options_.certificate_file.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(listener_->ctx, options_.key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
            free_context(listener_);
            listener_ = nullptr;
            return errno = EPROTO, -1;
        }
    }
    if (!soap_valid_socket(soap_bind(listener_, options_.address.c_str(), options_.port, 16))) {
        const int error = listener_->errnum != 0 ? listener_->errnum : EADDRINUSE;
        free_context(listener_);
        listener_ = nullptr;
        return errno = error, -1;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(listener_->master, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
    stopping_.store(false);
    acceptor_ = std::thread([this] { accept_loop(); });
    return 0;
}

void WebFront::stop() {
    stopping_.store(true);
    if (acceptor_.joinable()) acceptor_.join();
    connections_.for_each([](Connection& c) { shutdown(c.fd, SHUT_RDWR); });
    reap(true);
    if (listener_ != nullptr) free_context(listener_);
    listener_ = nullptr;
}

std::string WebFront::url(const std::string& path, const std::string& credentials) const {
    const std::string scheme = options_.certificate_file.empty() ? "http" : "https";
    return scheme + "://" + (credentials.empty() ? "" : credentials + "@") + options_.address + ":" +
           std::to_string(port_) + path;
}

void WebFront::script_http_status(int status) {
    std::lock_guard lock(mutex_);
    http_statuses_.push_back(status);
}

void WebFront::script_soap_fault(std::string reason) {
    std::lock_guard lock(mutex_);
    soap_faults_.push_back(std::move(reason));
}

std::vector<WebCall> WebFront::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void WebFront::reap(bool all) {
    connections_.reap(all, [](Connection& c) {
        if (c.ctx != nullptr) free_context(c.ctx);
        if (c.fd >= 0) ::close(c.fd);
    });
}

void WebFront::accept_loop() {
    const auto end_of_life = platform::Deadline::after_ms(options_.lifetime_ms);
    while (!stopping_.load() && !end_of_life.expired()) {
        reap(false);
        const SOAP_SOCKET fd = soap_accept(listener_);
        if (!soap_valid_socket(fd)) continue;  // the slice ended
        accepted_.fetch_add(1);
        auto connection = std::make_unique<Connection>();
        connection->ctx = soap_copy(listener_);
        listener_->socket = SOAP_INVALID_SOCKET;  // the copy owns the connection
        connection->fd = fd;
        if (connection->ctx == nullptr) {
            ::close(fd);
            continue;
        }
        connection->ctx->fclosesocket = shutdown_only;
        connections_.start(std::move(connection), [this](Connection& c) { serve(c); });
    }
}

void WebFront::serve(Connection& connection) {
    soap* ctx = connection.ctx;
    if (options_.certificate_file.empty() || soap_ssl_accept(ctx) == SOAP_OK) soap_serve(ctx);
    soap_destroy(ctx);
    soap_end(ctx);
    connection.done.store(true);
}

int WebFront::handle_call(soap* ctx, const char* host, const unsigned char* request, int length, int result_size,
                          const unsigned char** reply, int* reply_length) {
    WebCall call;
    const std::string path = ctx->path;
    const size_t query = path.find('?');
    call.path = path.substr(0, query);
    if (query != std::string::npos) call.query = path.substr(query);
    call.user = text_or_empty(ctx->userid);
    call.password = text_or_empty(ctx->passwd);
    call.encoding = t_content_encoding.empty() ? "identity" : t_content_encoding;
    call.accepted = t_accept_encoding;
    choose_reply_encoding(ctx);
    t_content_encoding.clear();
    t_accept_encoding.clear();
    call.host = text_or_empty(host);
    call.result_size = result_size;
    int status = 0;
    std::string fault;
    bool faulted = false;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        if (!http_statuses_.empty()) {
            status = http_statuses_.front();
            http_statuses_.pop_front();
        } else if (!soap_faults_.empty()) {
            fault = std::move(soap_faults_.front());
            soap_faults_.pop_front();
            faulted = true;
        }
    }
    if (status != 0) {
        if (status == 401) ctx->authrealm = "Quorvane";
        ctx->keep_alive = 0;
        soap_send_empty_response(ctx, status);
        return SOAP_STOP;
    }
    if (faulted) return soap_receiver_fault(ctx, soap_strdup(ctx, fault.c_str()), nullptr);

    const std::string_view bytes(reinterpret_cast<const char*>(request), length > 0 ? static_cast<size_t>(length) : 0);
    Answer answer = dispatcher_.handle(bytes, "web", result_size > 0 ? static_cast<uint32_t>(result_size) : 0);
    const Fault& f = answer.fault;
    if (f.milliseconds != 0) {
        const auto until = platform::Deadline::after_ms(f.milliseconds);
        while (!until.expired() && !stopping_.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kPollSliceMs, until.remaining_ms())));
    }
    if (f.kind != Fault::Kind::none && f.kind != Fault::Kind::delay) {
        // Nothing comes back: the connection just ends.
        ctx->keep_alive = 0;
        shutdown(ctx->socket, SHUT_RDWR);
        return SOAP_STOP;
    }
    if (options_.enforce_result_size && answer.reply.size() > static_cast<size_t>(result_size > 0 ? result_size : 0))
        return soap_receiver_fault(ctx, "Result longer than ResultSize", nullptr);
    auto* copy = static_cast<unsigned char*>(soap_malloc(ctx, answer.reply.size() + 1));
    if (copy == nullptr) return SOAP_EOM;
    std::memcpy(copy, answer.reply.data(), answer.reply.size());
    *reply = copy;
    *reply_length = static_cast<int>(answer.reply.size());
    return SOAP_OK;
}

}  // namespace sim_server

// The operation of the skeleton: the front end that accepted the connection answers it.
int ns__SendRequest(soap* ctx, char* Host, xsd__base64Binary Request, int ResultSize, xsd__base64Binary* result) {
    auto* front = static_cast<sim_server::WebFront*>(ctx->user);
    const unsigned char* reply = nullptr;
    int length = 0;
    const int rc = front->handle_call(ctx, Host, Request.__ptr, Request.__size, ResultSize, &reply, &length);
    if (rc != SOAP_OK) return rc;
    result->__ptr = const_cast<unsigned char*>(reply);
    result->__size = length;
    return SOAP_OK;
}
