// The stand-in web front end's reading of a request's Accept-Encoding header, on arbitrary
// bytes: an empty item changes nothing, and neither does an "identity" coding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/web/accept_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string header(reinterpret_cast<const char*>(data), size);
    const bool gzip = sim_server::accepts_gzip(header);
    if (sim_server::accepts_gzip(header + ",") != gzip) std::abort();
    if (sim_server::accepts_gzip("identity, " + header) != gzip) std::abort();
    return 0;
}
