#include <charconv>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/last_error.h"
#include "platform/ascii_text.h"
#include "qvr/util/url.h"

namespace {

bool is_scheme_char(char c, bool first) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (first) return letter;
    return letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// %xx escapes decoded; an escape of a zero byte or a malformed one stays as it is.
std::string decoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hex_value(text[i + 1]);
            const int low = hex_value(text[i + 2]);
            if (high >= 0 && low >= 0 && (high | low) != 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool store(std::string_view text, char* buffer, uint32_t& capacity) {
    if (buffer == nullptr) return true;
    if (text.size() >= capacity) return false;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = 0;
    capacity = static_cast<uint32_t>(text.size());
    return true;
}

int refuse(int code) {
    platform::set_last_error(code);
    return 0;
}

}  // namespace

UrlComponents UrlBuffers::components() {
    UrlComponents c;
    c.scheme = scheme;
    c.scheme_length = sizeof scheme;
    c.host = host;
    c.host_length = sizeof host;
    c.user = user;
    c.user_length = sizeof user;
    c.password = password;
    c.password_length = sizeof password;
    c.path = path;
    c.path_length = sizeof path;
    c.extra = extra;
    c.extra_length = sizeof extra;
    return c;
}

uint16_t url_DefaultPort(const char* scheme, size_t length) {
    if (scheme == nullptr) return 0;
    const std::string_view name(scheme, length);
    if (platform::equal_ignoring_case(name, "http")) return 80;
    if (platform::equal_ignoring_case(name, "https")) return 443;
    if (platform::equal_ignoring_case(name, "ftp")) return 21;
    return 0;
}

int url_Split(const char* url, size_t length, uint32_t flags, UrlComponents* parts) {
    if (url == nullptr || parts == nullptr) return refuse(platform::kErrorInvalidParameter);
    const size_t real_length = length == 0 ? ::strnlen(url, kUrlLengthLimit) : ::strnlen(url, length);
    if (real_length >= kUrlLengthLimit) return refuse(platform::kErrorInvalidParameter);
    const std::string_view text(url, real_length);

    size_t colon = 0;
    while (colon < text.size() && is_scheme_char(text[colon], colon == 0)) ++colon;
    if (colon == 0 || colon >= text.size() || text.substr(colon, 3) != "://")
        return refuse(platform::kErrorInvalidParameter);
    const std::string_view scheme = text.substr(0, colon);
    const size_t authority_start = colon + 3;
    size_t authority_end = text.find_first_of("/?#", authority_start);
    if (authority_end == std::string_view::npos) authority_end = text.size();
    std::string_view authority = text.substr(authority_start, authority_end - authority_start);

    std::string_view user;
    std::string_view password;
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view info = authority.substr(0, at);
        const size_t split = info.find(':');
        user = info.substr(0, split);
        if (split != std::string_view::npos) password = info.substr(split + 1);
        authority.remove_prefix(at + 1);
    }

    std::string_view host = authority;
    std::string_view port_text;
    bool port_given = false;
    if (!authority.empty() && authority[0] == '[') {  // [v6 address]
        const size_t close = authority.find(']');
        if (close == std::string_view::npos) return refuse(platform::kErrorInvalidParameter);
        host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return refuse(platform::kErrorInvalidParameter);
            port_text = after.substr(1);
            port_given = true;
        }
    } else if (const size_t port_colon = authority.rfind(':'); port_colon != std::string_view::npos) {
        host = authority.substr(0, port_colon);
        port_text = authority.substr(port_colon + 1);
        port_given = true;
    }
    uint16_t port = url_DefaultPort(scheme.data(), scheme.size());
    if (port_given) {
        unsigned value = 0;
        const auto [end, error] =
            std::from_chars(port_text.data(), port_text.data() + port_text.size(), value);
        if (port_text.empty() || error != std::errc() || end != port_text.data() + port_text.size() ||
            value > 65535)
            return refuse(platform::kErrorInvalidParameter);
        port = static_cast<uint16_t>(value);
    }

    std::string_view rest = text.substr(authority_end);
    const size_t extra_start = rest.find_first_of("?#");
    const std::string_view path = rest.substr(0, extra_start);
    const std::string_view extra =
        extra_start == std::string_view::npos ? std::string_view() : rest.substr(extra_start);

    const bool decode = (flags & kUrlDecode) != 0;
    auto component = [&](std::string_view value) { return decode ? decoded(value) : std::string(value); };
    UrlComponents out = *parts;
    if (!store(scheme, out.scheme, out.scheme_length) || !store(component(host), out.host, out.host_length) ||
        !store(component(user), out.user, out.user_length) ||
        !store(component(password), out.password, out.password_length) ||
        !store(component(path), out.path, out.path_length) ||
        !store(component(extra), out.extra, out.extra_length))
        return refuse(platform::kErrorInsufficientBuffer);
    out.port = port;
    out.port_given = port_given ? 1 : 0;
    *parts = out;
    return 1;
}
