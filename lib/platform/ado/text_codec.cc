#include "platform/ado/text_codec.h"

#include <array>
#include <cstdint>

namespace ado {
namespace {

// 0x80..0x9F of Windows-1252; 0 marks the five undefined bytes, kept as the C1 control.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

char32_t from_cp1252(unsigned char c) {
    if (c < 0x80 || c >= 0xA0) return c;
    const char16_t u = kHigh[c - 0x80];
    return u != 0 ? u : c;
}

char to_cp1252(char32_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<char>(u);
    for (size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == u || (kHigh[i] == 0 && u == 0x80 + i)) return static_cast<char>(0x80 + i);
    return '?';
}

void put_utf8(std::string& out, char32_t u) {
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

void put_utf16(std::u16string& out, char32_t u) {
    if (u < 0x10000) {
        out += static_cast<char16_t>(u);
    } else {
        u -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (u >> 10));
        out += static_cast<char16_t>(0xDC00 | (u & 0x3FF));
    }
}

// Decodes one code point at text[i], advancing i; never reads past the end.
char32_t next_utf8(std::string_view text, size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
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
        return kReplacement;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size()) return kReplacement;
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80) return kReplacement;
        u = (u << 6) | (c & 0x3F);
        ++i;
    }
    if (u < min || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) return kReplacement;
    return u;
}

char32_t next_utf16(std::u16string_view text, size_t& i) {
    const char32_t c = text[i++];
    if (c < 0xD800 || c > 0xDFFF) return c;
    if (c >= 0xDC00 || i >= text.size()) return kReplacement;
    const char32_t low = text[i];
    if (low < 0xDC00 || low > 0xDFFF) return kReplacement;
    ++i;
    return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
}

}  // namespace

std::string utf8_from_cp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) put_utf8(out, from_cp1252(static_cast<unsigned char>(c)));
    return out;
}

std::string cp1252_from_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) out += to_cp1252(next_utf8(text, i));
    return out;
}

std::string utf8_from_utf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) put_utf8(out, next_utf16(text, i));
    return out;
}

std::u16string utf16_from_utf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) put_utf16(out, next_utf8(text, i));
    return out;
}

std::u16string utf16_from_cp1252(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char c : text) put_utf16(out, from_cp1252(static_cast<unsigned char>(c)));
    return out;
}

std::string cp1252_from_utf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) out += to_cp1252(next_utf16(text, i));
    return out;
}

}  // namespace ado
