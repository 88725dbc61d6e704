// The endpoint builder on arbitrary server strings: an endpoint always starts with its scheme
// and "://", and always has a path and a query.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "link_web/web_endpoint.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string server(reinterpret_cast<const char*>(data), size);
    const auto endpoint = link_web::endpoint_of(server.c_str(), "Quorvane");
    if (!endpoint) return 0;
    const size_t scheme_end = endpoint->find("://");
    if (scheme_end == std::string::npos || scheme_end == 0) std::abort();
    if (endpoint->find('/', scheme_end + 3) == std::string::npos) std::abort();
    if (endpoint->find('?') == std::string::npos && endpoint->find('#') == std::string::npos) std::abort();
    return 0;
}
