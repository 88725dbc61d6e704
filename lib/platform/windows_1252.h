#pragma once
// Windows-1252, the code page of the system's 8-bit texts, and the UTF-8 / UTF-16 forms
// they are converted to at the edges. The code page is byte for byte Unicode except
// 0x80..0x9F (the euro sign, curly quotes and others); its five unassigned bytes 0x81, 0x8D,
// 0x8F, 0x90 and 0x9D stand for the C1 code points of the same value, both ways, so every
// byte survives a round trip. Malformed input never stops a conversion: an invalid UTF-8 or
// UTF-16 sequence becomes U+FFFD, a character the code page lacks becomes '?'.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The code point of a Windows-1252 byte.
char32_t from_windows_1252(unsigned char byte);
// The Windows-1252 byte of a code point, if the code page has one.
std::optional<unsigned char> windows_1252_byte(char32_t code_point);
// The same, with '?' for a character the code page lacks.
char to_windows_1252(char32_t code_point);

void append_utf8(std::string& out, char32_t code_point);
void append_utf16(std::u16string& out, char32_t code_point);
// Decodes the code point at text[at] and moves `at` past what it used; never reads past the
// end. A malformed sequence gives U+FFFD and `at` stops at the first byte that does not fit.
// `at` must be below text.size().
char32_t next_utf8(std::string_view text, std::size_t& at);
// The same for UTF-16; a lone surrogate gives U+FFFD.
char32_t next_utf16(std::u16string_view text, std::size_t& at);

std::string utf8_from_windows_1252(std::string_view text);
std::string windows_1252_from_utf8(std::string_view text);
std::u16string utf16_from_windows_1252(std::string_view text);
std::string windows_1252_from_utf16(std::u16string_view text);

}  // namespace platform
