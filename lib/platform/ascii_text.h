#pragma once
// Letters compared and converted as ASCII, whatever the process locale: names, keys and
// words in files, registry values and records are bytes, and a byte from 0x80 up equals
// only itself (the C library's case functions follow the locale).
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

constexpr char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char ascii_upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

constexpr bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}

constexpr bool ends_with_ignoring_case(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           equal_ignoring_case(text.substr(text.size() - suffix.size()), suffix);
}

// The first `n` characters of each (fewer where a text is shorter) agree ignoring case, and
// both reach `n` or end together: a bounded compare of two names.
constexpr bool prefix_equal_ignoring_case(std::string_view a, std::string_view b, std::size_t n) {
    return equal_ignoring_case(a.substr(0, n), b.substr(0, n));
}

inline std::string ascii_lower_copy(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ascii_lower(c);
    return out;
}

inline std::string ascii_upper_copy(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ascii_upper(c);
    return out;
}

}  // namespace platform
