#pragma once
// Text at the driver boundary: every driver here speaks UTF-8, the system's 8-bit texts are
// Windows-1252 and its wide texts UTF-16. Malformed input never stops a conversion: an
// invalid UTF-8 or UTF-16 sequence becomes U+FFFD, a character Windows-1252 lacks becomes '?'.
#include <string>
#include <string_view>

namespace ado {

std::string utf8_from_cp1252(std::string_view text);
std::string cp1252_from_utf8(std::string_view text);
std::string utf8_from_utf16(std::u16string_view text);
std::u16string utf16_from_utf8(std::string_view text);
std::u16string utf16_from_cp1252(std::string_view text);
std::string cp1252_from_utf16(std::u16string_view text);

}  // namespace ado
