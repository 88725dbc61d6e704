#pragma once
// Where a web link sends its calls: "scheme://host[:port]" and the path and query of the
// server string, with the product's defaults for what the string leaves out.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace link_web {

struct EndpointParts {
    std::string_view scheme;
    std::string_view host;
    uint16_t port = 0;
    bool port_given = false;
    std::string_view path;   // "" or "/..."
    std::string_view query;  // "" or "?..."
};

// The port is written only when given and not the scheme's default (80 http, 443 https). An
// empty path or "/" becomes "/<product>/"; a path whose part after its second '/' is empty
// or "/" (or that has no second '/') gets "/BIN/mod_gsoap.dll" there; an empty query becomes
// "?Service". The scheme is written in lower case, an IPv6 host in brackets.
std::string build_endpoint(const EndpointParts& parts, std::string_view product);

// The endpoint of a server string, or nothing when it does not split as a URL.
std::optional<std::string> endpoint_of(const char* server, std::string_view product);

}  // namespace link_web
