#include "link_web/web_endpoint.h"

#include <cctype>

#include "qvr/util/url.h"

namespace link_web {
namespace {

constexpr std::string_view kModule = "/BIN/mod_gsoap.dll";

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

uint16_t default_port(std::string_view scheme) {
    if (scheme == "http") return 80;
    if (scheme == "https") return 443;
    return 0;
}

std::string path_of(std::string_view given, std::string_view product) {
    std::string path = given.empty() || given == "/" ? "/" + std::string(product) + "/" : std::string(given);
    const size_t slash = path.find('/', 1);
    if (slash == std::string::npos) return path + std::string(kModule);
    const std::string_view rest = std::string_view(path).substr(slash);
    if (rest == "/") return path.substr(0, slash) + std::string(kModule);
    return path;
}

}  // namespace

std::string build_endpoint(const EndpointParts& parts, std::string_view product) {
    const std::string scheme = lower(parts.scheme);
    std::string endpoint = scheme + "://";
    const bool ipv6 = !parts.host.empty() && parts.host.find(':') != std::string_view::npos && parts.host.front() != '[';
    endpoint += ipv6 ? "[" + std::string(parts.host) + "]" : std::string(parts.host);
    if (parts.port_given && parts.port != default_port(scheme)) endpoint += ":" + std::to_string(parts.port);
    endpoint += path_of(parts.path, product);
    endpoint += parts.query.empty() ? std::string("?Service") : std::string(parts.query);
    return endpoint;
}

std::optional<std::string> endpoint_of(const char* server, std::string_view product) {
    UrlBuffers buffers;
    UrlComponents c = buffers.components();
    if (server == nullptr || url_Split(server, 0, 0, &c) == 0) return std::nullopt;
    EndpointParts parts;
    parts.scheme = std::string_view(buffers.scheme, c.scheme_length);
    parts.host = std::string_view(buffers.host, c.host_length);
    parts.port = c.port;
    parts.port_given = c.port_given != 0;
    parts.path = std::string_view(buffers.path, c.path_length);
    parts.query = std::string_view(buffers.extra, c.extra_length);
    return build_endpoint(parts, product);
}

}  // namespace link_web
