// The reply reader over an arbitrary stream: the first byte picks the read size (1..256) and
// the capacity, the rest is the stream. Nothing may be written past the reply buffer nor
// read past the stream, and a success holds exactly the announced total.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link_tls/tls_reply.h"
#include "platform/last_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t piece = static_cast<size_t>(data[0]) + 1;
    const size_t capacity = static_cast<size_t>(data[1]) * 64;
    const uint8_t* stream = data + 2;
    const size_t stream_size = size - 2;
    size_t at = 0;
    std::vector<std::byte> reply(capacity);
    const link_tls::ReadSome read = [&](std::span<std::byte> into) -> long {
        if (at == stream_size) return platform::fail(platform::kErrorWsaConnReset);
        const size_t n = std::min({piece, into.size(), stream_size - at});
        std::memcpy(into.data(), stream + at, n);
        at += n;
        return static_cast<long>(n);
    };
    size_t received = 0;
    if (link_tls::read_reply(read, reply, received) == 0) {
        const uint32_t total = static_cast<uint32_t>(stream[0]) | static_cast<uint32_t>(stream[1]) << 8 |
                               static_cast<uint32_t>(stream[2]) << 16 | static_cast<uint32_t>(stream[3]) << 24;
        if (received != total || received > capacity || at != 4 + received) std::abort();
    } else if (received > capacity) {
        std::abort();
    }
    return 0;
}
