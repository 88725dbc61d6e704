// The parts of a multi-part reply come from the answering side: feed any sequence of parts
// to the reader, with any capacity, and check it never copies past the total or the buffer.
// Input: two bytes of capacity, then parts as a u16 length (little-endian) and its bytes,
// at most eight parts.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_temp_folder.h"
#include "platform/mailslot.h"
#include "qvr/link/multipart.h"

namespace {

constexpr size_t kPartsMax = 8;
constexpr size_t kGuard = 64;

void isolate() {
    static const bool done = [] {
        const std::string prefix = "qvrfz" + std::to_string(getpid()) + ".";
        setenv("QUORVANE_IPC_PREFIX", prefix.c_str(), 1);
        const std::string runtime = fuzz_support::process_folder("/tmp/qvr_fuzz_mailslot.XXXXXX");
        setenv("QUORVANE_RUNTIME_DIR", runtime.c_str(), 1);
        return true;
    }();
    (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    isolate();
    static auto reply_slot = platform::MailslotReceiver::create(link_ReplyMailslotName(1, 2));
    static auto ack_slot = platform::MailslotReceiver::create(kAckMailslotName);
    if (!reply_slot || !ack_slot) __builtin_trap();
    // Nothing left over from the last input.
    std::vector<std::byte> drain(70000);
    while (reply_slot->receive(drain) >= 0) {
    }
    while (ack_slot->receive(drain) >= 0) {
    }

    const uint32_t capacity = data[0] | static_cast<uint32_t>(data[1]) << 8;
    auto sender = platform::MailslotSender::open(link_ReplyMailslotName(1, 2));
    if (!sender) __builtin_trap();
    size_t pos = 2;
    for (size_t parts = 0; parts < kPartsMax && pos + 2 <= size; ++parts) {
        const size_t length = std::min<size_t>(data[pos] | static_cast<size_t>(data[pos + 1]) << 8, size - pos - 2);
        if (sender->send(std::as_bytes(std::span(data + pos + 2, length))) != 0) break;
        pos += 2 + length;
    }

    std::vector<uint8_t> reply(capacity + kGuard, 0xA5);
    uint32_t length = 0;
    const int ok = ReadMailslotReply(*reply_slot, reply.data(), capacity, &length, 1);
    if (length > capacity) __builtin_trap();
    for (size_t i = capacity; i < reply.size(); ++i)
        if (reply[i] != 0xA5) __builtin_trap();
    if (ok != 0 && ok != 1) __builtin_trap();
    return 0;
}
