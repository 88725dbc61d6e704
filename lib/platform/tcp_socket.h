#pragma once
// IPv4 stream sockets for the host transports: name resolution, a connect bounded by a
// deadline, and complete writes and reads on a non-blocking socket under one deadline.
// Writes never raise SIGPIPE (MSG_NOSIGNAL), so no signal disposition is ever changed.
//
// Error numbers: 10060 a time-out; 10054 the peer ended or reset the stream during an
// exchange; 11001 a host name that does not resolve; other failures the Linux errno.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/monotonic_clock.h"
#include "platform/unique_fd.h"

namespace platform {

inline constexpr int kErrorWsaHostNotFound = 11001;

// The IPv4 address of `host` (a dotted literal or a name; "." is this machine, "localhost").
// 0, or -1 with 11001 (no such host) or 87 (empty host).
int tcp_resolve_ipv4(std::string_view host, in_addr& address);

// The TCP port the system's service table gives `service` ("http" 80), or nullopt.
std::optional<uint16_t> tcp_service_port(std::string_view service);

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT) or the deadline passes (10060).
int tcp_wait(int fd, short events, const Deadline& deadline);

// A non-blocking, close-on-exec IPv4 stream socket connected to `address`:`port`, waiting
// at most until `deadline`. An invalid descriptor with the error number set on failure.
UniqueFd tcp_connect(const in_addr& address, uint16_t port, const Deadline& deadline);

// One send without SIGPIPE: the bytes the socket took, or -1 with errno as send sets it.
long tcp_send_some(int fd, std::span<const std::byte> bytes) noexcept;

// All of `bytes` out before `deadline`. 0, or -1 with 10060, 10054 or the socket's error.
int tcp_write_all(int fd, std::span<const std::byte> bytes, const Deadline& deadline);

// Whatever is there (at least one byte, at most bytes.size()) before `deadline`: the count,
// or -1 with 10060, or 10054 when the stream ended or was reset.
long tcp_read_some(int fd, std::span<std::byte> bytes, const Deadline& deadline);

}  // namespace platform
