#pragma once
// What every request of this folder does alike: refusing fields that would shift the
// server's reading of a request, sending a text, and reading a reply within its received
// length (the link does not terminate replies).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvr::requests {

inline constexpr uint32_t kListReplySize = 32768;
inline constexpr uint32_t kResultReplySize = 16;

// A field may go into a request whose fields `separator` divides: it holds neither the
// separator nor NUL, CR or LF.
bool field_ok(std::string_view field, char separator);
// Only NUL, CR and LF are refused (lists by design).
bool list_ok(std::string_view list);
// A selector: "*,<n>", or a number or a name without a comma.
bool selector_ok(std::string_view selector);
// -1 with 87: a field was refused before anything was sent.
int refuse();

// A reply buffer and what arrived in it.
struct Reply {
    std::vector<char> bytes;
    uint32_t received = 0;
    // The text up to its first NUL, within what arrived.
    std::string_view text() const;
    // Everything that arrived.
    std::string_view all() const { return {bytes.data(), received}; }
};

// Sends `text` and its NUL with a reply capacity of `capacity`: the link's result.
int send_text(const char* server, const std::string& text, uint32_t capacity, Reply& reply);
// Sends `request` as it is.
int send_bytes(const char* server, std::string_view request, uint32_t capacity, Reply& reply);

// A whole decimal number (blanks around it allowed), locale-independent.
std::optional<long long> number_of(std::string_view text);
// `text` cut at each `separator`, at most `max_fields` (the last keeps the rest).
std::vector<std::string_view> split(std::string_view text, char separator, std::size_t max_fields = SIZE_MAX);
// Copies `text` with its NUL into `out` of `size` bytes; false (and nothing copied) when it
// does not fit.
bool copy_text(std::string_view text, char* out, std::size_t size);
// `text` cut to `max` characters.
std::string cut(std::string_view text, std::size_t max);

// The names a request carries, cut to the request's limit.
std::string computer_name_cut(std::size_t max);
std::string user_name_cut(std::size_t max);

}  // namespace qvr::requests
