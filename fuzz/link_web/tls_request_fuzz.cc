// The stand-in's TLS request delimiter on arbitrary bytes: a complete request lies within the
// bytes and the limit, and stays complete, with the same length, as more bytes arrive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "server/tls/request_delimiter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t limit = static_cast<size_t>(data[0]) * 16;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    using State = sim_server::RequestExtent::State;
    const auto extent = sim_server::delimit_request(bytes, limit);
    if (extent.state == State::complete) {
        if (extent.length == 0 || extent.length > bytes.size() || extent.length > limit) std::abort();
        const auto prefix = sim_server::delimit_request(bytes.substr(0, extent.length), limit);
        if (prefix.state != State::complete || prefix.length != extent.length) std::abort();
    }
    return 0;
}
