#include "link_tls/tls_reply.h"

#include <algorithm>
#include <cstdint>

#include "platform/last_error.h"

namespace link_tls {
namespace {

// A reader that reports nothing read without a reason has lost the stream.
int stream_failure(long n) {
    return n < 0 ? -1 : platform::fail(platform::kErrorWsaConnReset);
}

}  // namespace

int read_reply(const ReadSome& read, std::span<std::byte> reply, size_t& received) {
    received = 0;
    std::byte header[4];
    size_t have = 0;
    while (have < sizeof header) {
        const long n = read(std::span(header).subspan(have));
        if (n <= 0 || static_cast<size_t>(n) > sizeof header - have) return stream_failure(n);
        have += static_cast<size_t>(n);
    }
    uint32_t total = 0;
    for (int i = 3; i >= 0; --i) total = (total << 8) | static_cast<uint8_t>(header[i]);
    if (total > reply.size()) return platform::fail(platform::kErrorMoreData);
    while (received < total) {
        const size_t want = std::min<size_t>(kReplyPiece, total - received);
        const long n = read(reply.subspan(received, want));
        if (n <= 0 || static_cast<size_t>(n) > want) return stream_failure(n);
        received += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace link_tls
