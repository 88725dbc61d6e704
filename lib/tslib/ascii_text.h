#pragma once
// Letters compared as ASCII, whatever the process locale: words and names of typed values
// are bytes, and a byte from 0x80 up equals only itself. The library keeps its own copy, so
// that it depends on nothing of the product above it.
#include <cstddef>
#include <string_view>

namespace tslib {

constexpr char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

}  // namespace tslib
