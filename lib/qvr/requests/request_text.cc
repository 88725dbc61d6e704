// Request fields, sending, and reading replies within their length.
#include "qvr/requests/request_text.h"

#include <charconv>
#include <cstdint>
#include <cstring>

#include "platform/host_identity.h"
#include "platform/last_error.h"
#include "qvr/link/link.h"

namespace qvr::requests {

bool field_ok(std::string_view field, char separator) {
    return list_ok(field) && field.find(separator) == std::string_view::npos;
}

bool list_ok(std::string_view list) {
    return list.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

bool selector_ok(std::string_view selector) {
    if (selector.starts_with("*,")) {
        const auto n = number_of(selector.substr(2));
        return n && *n >= 0 && *n <= INT32_MAX && selector.find_first_of(" \t", 2) == std::string_view::npos;
    }
    return !selector.empty() && field_ok(selector, ',') && field_ok(selector, ';');
}

int refuse() {
    return platform::fail(platform::kErrorInvalidParameter);
}

std::string_view Reply::text() const {
    const std::string_view arrived = all();
    return arrived.substr(0, arrived.find('\0'));
}

int send_bytes(const char* server, std::string_view request, uint32_t capacity, Reply& reply) {
    reply.bytes.assign(capacity, '\0');
    reply.received = capacity;
    const int result = link_SendRequest(server, request.data(), static_cast<uint32_t>(request.size()),
                                        reply.bytes.data(), &reply.received);
    if (reply.received > capacity) reply.received = capacity;
    return result;
}

int send_text(const char* server, const std::string& text, uint32_t capacity, Reply& reply) {
    return send_bytes(server, std::string_view(text.c_str(), text.size() + 1), capacity, reply);
}

std::optional<long long> number_of(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> split(std::string_view text, char separator, std::size_t max_fields) {
    std::vector<std::string_view> out;
    while (out.size() + 1 < max_fields) {
        const std::size_t at = text.find(separator);
        if (at == std::string_view::npos) break;
        out.push_back(text.substr(0, at));
        text.remove_prefix(at + 1);
    }
    out.push_back(text);
    return out;
}

bool copy_text(std::string_view text, char* out, std::size_t size) {
    if (text.size() >= size) return false;
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return true;
}

std::string cut(std::string_view text, std::size_t max) {
    return std::string(text.substr(0, max));
}

std::string computer_name_cut(std::size_t max) {
    return cut(platform::computer_name(), max);
}

std::string user_name_cut(std::size_t max) {
    return cut(platform::user_name(), max);
}

}  // namespace qvr::requests
