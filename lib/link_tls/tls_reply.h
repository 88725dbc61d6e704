#pragma once
// Reading one reply of the TLS socket transport: a u32 little-endian total, then that many
// payload bytes. The length bytes are read first, then never more than is still missing
// (at most 4,093 per read), so nothing beyond the reply is consumed and nothing lands past
// the caller's buffer. A total above the buffer fails with 234 before anything is copied.
#include <cstddef>
#include <functional>
#include <span>

namespace link_tls {

inline constexpr size_t kReplyPiece = 4093;

// Reads at least one byte into the span: the count, or -1 with the error number set.
using ReadSome = std::function<long(std::span<std::byte>)>;

// 0 with `received` the payload length, or -1 (error set by `read`, or 234).
int read_reply(const ReadSome& read, std::span<std::byte> reply, size_t& received);

}  // namespace link_tls
