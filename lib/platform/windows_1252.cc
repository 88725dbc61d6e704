#include "platform/windows_1252.h"

#include <array>

namespace platform {
namespace {

// Code points of the bytes 0x80..0x9F; the unassigned ones hold their own value.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

char32_t from_windows_1252(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? kHigh[byte - 0x80] : byte;
}

std::optional<unsigned char> windows_1252_byte(char32_t code_point) {
    if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF))
        return static_cast<unsigned char>(code_point);
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == code_point) return static_cast<unsigned char>(0x80 + i);
    return std::nullopt;
}

char to_windows_1252(char32_t code_point) {
    return static_cast<char>(windows_1252_byte(code_point).value_or('?'));
}

void append_utf8(std::string& out, char32_t u) {
    if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (u >> 18));
        out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

void append_utf16(std::u16string& out, char32_t u) {
    if (u < 0x10000) {
        out += static_cast<char16_t>(u);
    } else {
        u -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (u >> 10));
        out += static_cast<char16_t>(0xDC00 | (u & 0x3FF));
    }
}

char32_t next_utf8(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80) return lead;
    int extra = 0;
    char32_t u = 0;
    char32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, u = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, u = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, u = lead & 0x07, min = 0x10000;
    } else {
        return kReplacementCharacter;
    }
    for (int k = 0; k < extra; ++k) {
        if (at >= text.size()) return kReplacementCharacter;
        const auto c = static_cast<unsigned char>(text[at]);
        if ((c & 0xC0) != 0x80) return kReplacementCharacter;
        u = (u << 6) | (c & 0x3F);
        ++at;
    }
    if (u < min || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) return kReplacementCharacter;
    return u;
}

char32_t next_utf16(std::u16string_view text, std::size_t& at) {
    const char32_t c = text[at++];
    if (c < 0xD800 || c > 0xDFFF) return c;
    if (c >= 0xDC00 || at >= text.size()) return kReplacementCharacter;
    const char32_t low = text[at];
    if (low < 0xDC00 || low > 0xDFFF) return kReplacementCharacter;
    ++at;
    return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
}

std::string utf8_from_windows_1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) append_utf8(out, from_windows_1252(static_cast<unsigned char>(c)));
    return out;
}

std::string windows_1252_from_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) out += to_windows_1252(next_utf8(text, i));
    return out;
}

std::u16string utf16_from_windows_1252(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char c : text) append_utf16(out, from_windows_1252(static_cast<unsigned char>(c)));
    return out;
}

std::string windows_1252_from_utf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) out += to_windows_1252(next_utf16(text, i));
    return out;
}

}  // namespace platform
