#pragma once
// Hexadecimal pairs of the cipher's text forms; not part of the public interface.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tslib::detail {

constexpr int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A non-empty, even-length run of hexadecimal digits (either case).
constexpr bool is_hex_pairs(std::string_view text) {
    if (text.empty() || text.size() % 2 != 0) return false;
    for (char c : text) {
        if (hex_digit_value(c) < 0) return false;
    }
    return true;
}

// Bytes of a run that is_hex_pairs accepts; the count, or 0 when out is too small.
inline std::size_t read_hex_pairs(std::string_view digits, std::span<std::uint8_t> out) {
    const std::size_t n = digits.size() / 2;
    if (n > out.size()) return 0;
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(hex_digit_value(digits[2 * i]) * 16 + hex_digit_value(digits[2 * i + 1]));
    }
    return n;
}

// Two lower-case digits per byte; out must hold 2 x bytes.size() characters.
inline void write_hex_lower(std::span<const std::uint8_t> bytes, char* out) {
    constexpr char kDigits[] = "0123456789abcdef";
    for (std::uint8_t b : bytes) {
        *out++ = kDigits[b >> 4];
        *out++ = kDigits[b & 0x0F];
    }
}

}  // namespace tslib::detail
