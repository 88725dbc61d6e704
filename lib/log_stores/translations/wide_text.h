#pragma once
// Conversions between the texts the translations meet: 8-bit texts in the Windows-1252
// code page (how stored channel texts are kept), UTF-8 and UTF-16, and simple Unicode case
// folding for comparing texts whatever their letter case.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace log_stores::translations {

// Windows-1252: byte for byte except 0x80..0x9F, which hold the euro sign and other
// characters there; its five unassigned bytes stand for the code points of the same value.
char16_t widen_1252(unsigned char byte);
std::u16string widen_1252(std::string_view text);
// The byte of a code point in Windows-1252, if it has one.
std::optional<unsigned char> narrow_1252(char32_t code_point);

// UTF-8 to UTF-16; each byte of a malformed sequence (bad lead or continuation, overlong
// form, surrogate, beyond U+10FFFF, cut short) becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);
// Little-endian UTF-16 bytes (a last odd byte is dropped).
std::u16string utf16le_to_utf16(std::span<const std::byte> bytes);
// Bytes of the UTF-8 form of a code point (1..4).
std::size_t utf8_length(char32_t code_point);
void append_utf8(std::string& out, char32_t code_point);

// The code point starting at `text[at]` and the units it takes (1 or 2); a lone surrogate
// stands for itself.
struct CodePoint {
    char32_t value;
    std::size_t units;
};
CodePoint code_point_at(std::u16string_view text, std::size_t at);

// Simple case folding of one code point, and of a text (code point by code point, lone
// surrogates kept).
char32_t fold_case(char32_t code_point);
std::u16string fold_case(std::u16string_view text);
bool equal_folded(std::u16string_view a, std::u16string_view b);

// The longest start of `text` of at most `units` code units that does not end inside a
// surrogate pair.
std::size_t cut_at_character(std::u16string_view text, std::size_t units);

}  // namespace log_stores::translations
