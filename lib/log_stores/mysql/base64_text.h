#pragma once
// Base64 (standard alphabet) of a text's bytes, as the MySQL connection string keeps its
// password. It only keeps the password out of plain sight: it hides nothing.
#include <string>
#include <string_view>

namespace log_stores {

// Decoding stops at the first '=' or at the first character outside the alphabet; a last
// group of a single character (no whole byte) is dropped.
std::string Base64DecodeText(std::string_view text);
std::string Base64EncodeText(std::string_view bytes);

}  // namespace log_stores
