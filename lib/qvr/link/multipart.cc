#include "qvr/link/multipart.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "platform/event.h"
#include "platform/last_error.h"
#include "platform/monotonic_clock.h"
#include "qvr/ipc/slot.h"

namespace {

constexpr uint32_t kWaitTickMs = 10;
constexpr std::byte kAckByte{0x20};

void put_u32(std::byte* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::byte>((value >> (8 * i)) & 0xFFu);
}

uint32_t get_u32(const std::byte* in) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(in[i]) << (8 * i);
    return value;
}

// The size of the next waiting part, waiting in steps of 10 ms (so that the process slot's
// commands are served meanwhile) until the deadline. -1 with the last error on failure.
ssize_t wait_for_part(const platform::MailslotReceiver& mailslot, const platform::Deadline& deadline) {
    for (;;) {
        const ssize_t size = mailslot.next_message_size();
        if (size >= 0) return size;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return platform::fail_from_errno();
        if (deadline.expired()) return platform::fail(platform::kErrorWsaTimedOut);
        slot_Wait(kWaitTickMs);
    }
}

int failed(int code) {
    platform::set_last_error(code);
    return 0;
}

int acknowledge(const platform::MailslotSender& ack) {
    const std::byte byte[1] = {kAckByte};
    return ack.send(byte) == 0 ? 1 : 0;
}

}  // namespace

std::string link_ReplyMailslotName(uint32_t process_id, uint32_t thread_id) {
    char name[32];
    std::snprintf(name, sizeof name, "%X\\%X", process_id, thread_id);
    return name;
}

int ReadMailslotReply(const platform::MailslotReceiver& mailslot, void* reply, uint32_t capacity,
                      uint32_t* reply_length, uint32_t timeout_ms) {
    if (reply_length == nullptr || (reply == nullptr && capacity != 0)) return failed(platform::kErrorInvalidParameter);
    *reply_length = 0;
    auto ack = platform::MailslotSender::open(kAckMailslotName);
    if (!ack) return failed(errno == ENOENT ? platform::kErrorFileNotFound : errno);
    const auto deadline = platform::Deadline::after_ms(timeout_ms != 0 ? timeout_ms : kLinkDefaultTimeoutMs);
    auto* out = static_cast<std::byte*>(reply);

    std::array<std::byte, kMultipartPartMax> first;
    if (wait_for_part(mailslot, deadline) < 0) return 0;
    const ssize_t size = mailslot.receive(first);
    if (size < 0) return 0;
    if (size < 4 || size > static_cast<ssize_t>(kMultipartPartMax)) return failed(platform::kErrorInvalidData);
    if (!acknowledge(*ack)) return 0;
    const uint32_t total = get_u32(first.data());
    const uint32_t payload = static_cast<uint32_t>(size) - 4;
    if (total > capacity) return failed(platform::kErrorMoreData);
    if (payload > total) return failed(platform::kErrorInvalidData);
    std::memcpy(out, first.data() + 4, payload);
    uint32_t got = payload;

    while (got < total) {
        const ssize_t next = wait_for_part(mailslot, deadline);
        if (next < 0) return 0;
        // A part may bring no more than the bytes still missing; an empty one brings nothing.
        if (next == 0 || next > static_cast<ssize_t>(kMultipartPartMax) || static_cast<uint32_t>(next) > total - got) {
            std::array<std::byte, kMultipartPartMax> discard;
            mailslot.receive(discard);
            return failed(platform::kErrorInvalidData);
        }
        const ssize_t n = mailslot.receive(std::span(out + got, total - got));
        if (n < 0) return 0;
        if (n != next) return failed(platform::kErrorInvalidData);
        if (!acknowledge(*ack)) return 0;
        got += static_cast<uint32_t>(n);
        *reply_length = got;
    }
    *reply_length = got;
    return 1;
}

namespace {

// Waits for one acknowledgement byte.
int await_ack(const platform::MailslotReceiver& ack_source, const platform::Deadline& deadline) {
    const int fds[1] = {ack_source.fd()};
    for (;;) {
        std::byte byte[2];
        const ssize_t n = ack_source.receive(byte);
        if (n == 1) return 1;
        if (n >= 0) return failed(platform::kErrorInvalidData);
        if (errno != EAGAIN && errno != EWOULDBLOCK) return 0;
        if (deadline.expired()) return failed(platform::kErrorWsaTimedOut);
        if (platform::wait_any_readable(fds, deadline.remaining_ms()) < 0 && errno != ETIMEDOUT) return 0;
    }
}

int send_part(int target, std::span<const std::byte> part) {
    return platform::mailslot_send_on(target, part) == 0 ? 1 : 0;
}

}  // namespace

int WriteMultipartMessage(int target, const platform::MailslotReceiver& ack_source, const void* data,
                          uint32_t length, uint32_t* sent, uint32_t timeout_ms) {
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) slot_CloseMailslot(fd);
        }
    } closer{target};
    if (sent != nullptr) *sent = 0;
    if (target < 0 || (data == nullptr && length != 0)) return failed(platform::kErrorInvalidParameter);
    const auto deadline = platform::Deadline::after_ms(timeout_ms != 0 ? timeout_ms : kLinkDefaultTimeoutMs);
    const auto* bytes = static_cast<const std::byte*>(data);

    const uint32_t first_payload = std::min(length, kMultipartFirstPayloadMax);
    std::vector<std::byte> first(4 + first_payload);
    put_u32(first.data(), length);
    if (first_payload != 0) std::memcpy(first.data() + 4, bytes, first_payload);
    if (!send_part(target, first) || !await_ack(ack_source, deadline)) return 0;
    uint32_t done = first_payload;
    if (sent != nullptr) *sent = done;

    while (done < length) {
        const uint32_t n = std::min(length - done, kMultipartPartMax);
        if (!send_part(target, std::span(bytes + done, n)) || !await_ack(ack_source, deadline)) return 0;
        done += n;
        if (sent != nullptr) *sent = done;
    }
    return 1;
}
