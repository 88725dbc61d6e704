#pragma once
// Multi-part messages over mailslots: the reply path of the request mailslot pair. A message
// is cut into parts of at most 4,093 bytes; the first part is the u32 little-endian payload
// length and up to 4,089 payload bytes, every later part up to 4,093 payload bytes. The
// reader answers each part with one acknowledgement byte (a space) on the acknowledgement
// mailslot. Every wait is bounded by the time-out.
#include <cstdint>
#include <string>

#include "platform/mailslot.h"
#include "qvr/link/link.h"

inline constexpr const char* kRequestMailslotName = "brevmorr";
inline constexpr const char* kAckMailslotName = "brevmora";
inline constexpr uint32_t kMultipartPartMax = 4093;
inline constexpr uint32_t kMultipartFirstPayloadMax = 4089;
inline constexpr uint32_t kReplyMailslotCapacity = 65536;
inline constexpr uint32_t kMailslotRequestMax = 32768;

// The reply mailslot of a thread: "%X\%X" of process and thread id.
std::string link_ReplyMailslotName(uint32_t process_id, uint32_t thread_id);

// Reads one multi-part message from `mailslot` into `reply` (at most `capacity` bytes),
// acknowledging each part on the acknowledgement mailslot. 1 with *reply_length set, or 0
// with the last error: 2 no acknowledgement mailslot, 234 a total beyond the capacity, 13 a
// part that is too short, too long or passes the total, 10060 a part that does not come.
int ReadMailslotReply(const platform::MailslotReceiver& mailslot, void* reply, uint32_t capacity,
                      uint32_t* reply_length, uint32_t timeout_ms = kLinkDefaultTimeoutMs);

// Writes `length` bytes of `data` to the mailslot `target` (a handle of slot_OpenMailslot)
// as one multi-part message, waiting for each acknowledgement on `ack_source`; *sent is the
// payload written. `target` is closed in every case. 1, or 0 with the last error (10060 an
// acknowledgement that does not come, 13 one that is not one byte).
int WriteMultipartMessage(int target, const platform::MailslotReceiver& ack_source, const void* data,
                          uint32_t length, uint32_t* sent, uint32_t timeout_ms = kLinkDefaultTimeoutMs);
