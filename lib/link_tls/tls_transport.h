#pragma once
// The TLS socket transport (server kind 2): "tcp://host:port" links over TLS 1.2 or newer,
// the server's chain and host name always verified against the system trust store plus the
// product settings "TlsCAFile" and "TlsCAPath". One exchange writes the request and reads
// the length-prefixed reply on a non-blocking socket under one deadline; connect and
// handshake are bounded by the same time-out.
//
// Error numbers: 10060 a time-out; 10054 the stream ended or was reset; EKEYREJECTED a
// certificate that fails verification (reason in the trace); EPROTO another handshake
// failure; 234 a reply longer than the caller's buffer; socket failures the Linux errno.
#include <cstdint>

#include "qvr/link/link.h"

// Nothing to start on Linux: 1.
int sock_Startup();
void sock_Cleanup();
int sock_Open(ServerConnection* entry);
int sock_Transfer(ServerConnection* entry, const void* request, uint32_t length, void* reply, uint32_t* reply_length);
// The exchange itself (sock_Transfer calls it; no thread of its own).
int sock_Exchange(ServerConnection* entry, const void* request, uint32_t length, void* reply, uint32_t* reply_length);
void sock_Close(ServerConnection* entry);

// Registers the transport with the server link (kind 2). Repeated calls are harmless.
int tls_RegisterTransport();

// The port a "tcp" link uses when the URL names none and the service table knows no service
// named like the scheme.
inline constexpr uint16_t kSockDefaultPort = 11234;

namespace link_tls::testing {
// Drops the process's client context, so the next open reads the CA settings again.
void reset_context();
}  // namespace link_tls::testing
