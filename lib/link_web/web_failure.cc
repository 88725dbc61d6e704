#include "link_web/web_failure.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/last_error.h"
#include "qvr/link/link_backend.h"
#include "soapH.h"

namespace link_web {
namespace {

constexpr size_t kLocationBack = 1024;
constexpr size_t kTracePiece = 1024;

const char* text_or_empty(const char* text) { return text != nullptr ? text : ""; }

bool network_level(int error) {
    return error == SOAP_TCP_ERROR || error == SOAP_HTTP_ERROR || error == SOAP_SSL_ERROR || error == SOAP_EOF ||
           error == SOAP_UDP_ERROR;
}

bool mentions_certificate(const char* text) {
    return text != nullptr && (std::strstr(text, "certificate") != nullptr || std::strstr(text, "host name") != nullptr);
}

// Long texts go to the trace in pieces that fit one trace line; bytes that are not text
// (a compressed body) show as '.'.
void trace_text(std::string_view text) {
    for (size_t at = 0; at < text.size(); at += kTracePiece) {
        std::string piece(text.substr(at, kTracePiece));
        for (char& c : piece) {
            const auto u = static_cast<unsigned char>(c);
            if ((u < 0x20 && c != '\n' && c != '\r' && c != '\t') || u >= 0x7F) c = '.';
        }
        qvr::link_internal::trace_line("%s", piece.c_str());
    }
}

void trace_fault(soap* ctx) {
    const char** code = soap_faultcode(ctx);
    if (code == nullptr || *code == nullptr) soap_set_fault(ctx);
    const char* subcode = ctx->version == 2 ? soap_fault_subcode(ctx) : nullptr;
    const char* reason = soap_fault_string(ctx);
    const char* detail = soap_fault_detail(ctx);
    code = soap_faultcode(ctx);
    qvr::link_internal::trace_line("%s%d fault: %s [%s]\n\"%s\"\nDetail: %s\n", ctx->version ? "SOAP 1." : "Error ",
                                   ctx->version ? static_cast<int>(ctx->version) : ctx->error,
                                   code != nullptr && *code != nullptr ? *code : "",
                                   subcode != nullptr ? subcode : "no subcode", reason != nullptr ? reason : "[no reason]",
                                   detail != nullptr ? detail : "[no detail]");
    // Where in the received text the call failed.
    if (ctx->buflen == 0 || ctx->buflen > sizeof ctx->buf || ctx->bufidx > ctx->buflen) return;
    const size_t failing = ctx->bufidx > 0 ? ctx->bufidx - 1 : 0;
    const size_t from = failing > kLocationBack ? failing - kLocationBack : 0;
    const std::string_view received(ctx->buf, ctx->buflen);
    std::string location(received.substr(from, failing - from));
    location += received[failing];
    location += "\n<!-- ** HERE ** -->\n";
    trace_text(location);
    if (ctx->bufidx < ctx->buflen) trace_text(std::string(received.substr(ctx->bufidx, kLocationBack)) + "\n");
}

}  // namespace

int http_status_of(const soap* ctx) {
    return ctx->error >= 300 && ctx->error < 600 ? ctx->error : 0;
}

int report_failure(soap* ctx, int recorded, bool timed_out) {
    const int status = http_status_of(ctx);
    if (status != 0) {
        qvr::link_internal::trace_line("HTTP Error %d\n", status);
        return recorded != 0 ? recorded : status;
    }
    trace_fault(ctx);
    if (recorded != 0) return recorded;
    // The receive limit set from the caller's capacity cut the reply off.
    if ((ctx->recv_maxlength != 0 && ctx->count > ctx->recv_maxlength) ||
        (ctx->error == SOAP_EOF && std::strstr(text_or_empty(soap_fault_string(ctx)), "max message length") != nullptr))
        return platform::kErrorMoreData;
    // A success status where a SOAP reply should have been: the reply was cut off.
    if (ctx->error >= 100 && ctx->error < 300) return platform::kErrorWsaConnReset;
    if (!network_level(ctx->error)) return ctx->error;
    const int os_error = ctx->errnum;
    if (timed_out && (os_error == 0 || os_error == ETIMEDOUT || os_error == EAGAIN || os_error == EINPROGRESS))
        return platform::kErrorWsaTimedOut;
    if (ctx->error == SOAP_SSL_ERROR &&
        (mentions_certificate(soap_fault_string(ctx)) || mentions_certificate(soap_fault_detail(ctx))))
        return EKEYREJECTED;
    if (os_error != 0) return os_error;
    if (ctx->error == SOAP_SSL_ERROR) return EPROTO;
    return platform::kErrorWsaConnReset;
}

}  // namespace link_web
