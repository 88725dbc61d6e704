// The web transport's view of where an HTTP response ends, on arbitrary bytes: the first
// byte picks the size of the pieces they arrive in. However the stream is cut into pieces,
// the response ends or does not end alike.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "link_web/http_response_end.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = static_cast<size_t>(data[0]) + 1;
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    link_web::HttpResponseEnd whole;
    whole.feed(stream);
    link_web::HttpResponseEnd pieces;
    for (size_t at = 0; at < stream.size(); at += piece) pieces.feed(stream.substr(at, piece));
    link_web::HttpResponseEnd bytes;
    bool ended_early = false;
    for (size_t at = 0; at < stream.size(); ++at) {
        if (bytes.complete()) ended_early = true;
        bytes.feed(stream.substr(at, 1));
    }
    if (whole.complete() != pieces.complete() || whole.complete() != bytes.complete()) std::abort();
    // A complete response stays complete: what follows it is not its own.
    if (ended_early && !bytes.complete()) std::abort();
    whole.reset();
    if (whole.complete()) std::abort();
    return 0;
}
