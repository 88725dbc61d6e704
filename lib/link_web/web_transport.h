#pragma once
// The web-service transport (server kind 4): every request is one call of the SendRequest
// operation at the link's endpoint (http or https), its reply the call's result. The link keeps
// its connection open between calls (keep-alive), compresses at zlib level 9, bounds connect,
// send and receive by the entry's time-out and what it accepts by the caller's capacity. The
// URL's user name and password, percent-decoded, go with every call as HTTP Basic
// credentials. https verifies the server's chain and host name (TLS 1.2 or newer) against the
// system trust store plus the product settings "TlsCAFile" and "TlsCAPath".
//
// Error numbers of a failed call: an HTTP status that status; 10060 a time-out; EKEYREJECTED a
// certificate that fails verification; another network failure the system's error (10054
// when the stream ended without one); 234 a result longer than the caller's buffer; 13 a
// reply whose body arrived whole (by its length or its last chunk) with its XML cut short,
// at once and not at the time-out; a SOAP fault gSOAP's error number.
#include <cstdint>

#include "qvr/link/link.h"

int web_Open(ServerConnection* entry);
int web_Transfer(ServerConnection* entry, const void* request, uint32_t length, void* reply, uint32_t* reply_length);
void web_Close(ServerConnection* entry);

// Web links opened from now on pass the HTTP status of a failed call to web_OnServerError
// before the failure is reported. Nothing in the library switches it on.
void web_EnableErrorHook();
// Records `error_code` in the web link whose context is `request_handle`; always 0 (no
// retry).
int web_OnServerError(void* request_handle, int error_code);

// Registers the transport with the server link (kind 4). Repeated calls are harmless.
int web_RegisterTransport();

struct soap;

namespace link_web::testing {
// Called with the context of every web link opened from now on (null: none), so that a
// test can put its own I/O callbacks in place of the network.
void set_context_hook(void (*hook)(soap* ctx));
// The zlib level of web links opened from now on (9 unless changed here; for benchmarks).
void set_compression_level(int level);
// Switches the error hook off again.
void disable_error_hook();
// The error code recorded in the link of `entry` (0: none; -1: not a web link).
int recorded_error(const ServerConnection* entry);
}  // namespace link_web::testing
