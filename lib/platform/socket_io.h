#pragma once
// Deadline-bounded I/O on a non-blocking stream socket, shared by the pipe and TCP modules.
// `broken` is the error number of a stream that ended or was reset during an exchange (each
// caller keeps its own); a time-out is 10060; other failures the Linux errno. Writes never
// raise SIGPIPE.
#include <cstddef>
#include <span>

#include "platform/monotonic_clock.h"

namespace platform {

// Fails (-1) with `broken` for an ended or reset stream (EPIPE, ECONNRESET, ENOTCONN), else
// with `error`.
int socket_stream_failure(int error, int broken);

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT) or the deadline passes (10060).
int socket_wait(int fd, short events, const Deadline& deadline);

// All of `bytes` out before `deadline`. 0, or -1 with the error set.
int socket_write_all(int fd, std::span<const std::byte> bytes, const Deadline& deadline, int broken);

// Whatever is there (at least one byte) before `deadline`: the count, or -1 with the error.
long socket_read_some(int fd, std::span<std::byte> bytes, const Deadline& deadline, int broken);

// All of `bytes` before `deadline`. 0, or -1 with the error; `got` (may be null) receives the
// bytes read either way.
int socket_read_all(int fd, std::span<std::byte> bytes, const Deadline& deadline, int broken, size_t* got);

}  // namespace platform
