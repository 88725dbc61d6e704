#pragma once
// Whether a request's Accept-Encoding header lets the reply be gzip-compressed: a "gzip",
// "x-gzip" coding whose q-value is not zero, or else a "*" that is. No header, "identity" or
// a zero q-value means a plain reply.
#include <string_view>

namespace sim_server {

bool accepts_gzip(std::string_view header);

}  // namespace sim_server
