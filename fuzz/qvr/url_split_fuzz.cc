// Server strings come from configuration files and peers: split any text, with and without
// an explicit length and decoding, into buffers of exactly the callers' sizes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "qvr/util/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint32_t flags = (data[0] & 1) != 0 ? kUrlDecode : 0;
    const bool explicit_length = (data[0] & 2) != 0;
    const std::string url(reinterpret_cast<const char*>(data + 1), size - 1);

    UrlBuffers buffers;
    UrlComponents parts = buffers.components();
    const size_t length = explicit_length ? url.size() : 0;
    if (url_Split(url.c_str(), length, flags, &parts) == 1) {
        // Every component is terminated within its buffer and its length is right.
        if (std::strlen(buffers.host) != parts.host_length) __builtin_trap();
        if (std::strlen(buffers.password) != parts.password_length) __builtin_trap();
        if (parts.port_given == 0 && parts.port != url_DefaultPort(buffers.scheme, parts.scheme_length))
            __builtin_trap();
    }
    // The small host buffer of the server-kind test.
    char host[32];
    UrlComponents small;
    small.host = host;
    small.host_length = sizeof host;
    url_Split(url.c_str(), length, flags, &small);
    return 0;
}
