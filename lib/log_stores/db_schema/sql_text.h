#pragma once
// How names and texts of the logger tables go into SQL text. Every text here is UTF-8, the
// drivers' form; the system's 8-bit texts are converted by the caller (ado::utf8_from_cp1252).
// Names never change on their way in: they are quoted, so a run's tables keep the names its
// row in LOGGERS gives them, whatever characters those hold.
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/ado/dialect.h"

namespace log_stores::db_schema {

// The size of the text columns sHeader, TX of TEXT and TX of DATA, in characters.
inline constexpr std::size_t kTextColumnSize = 255;

// A name in the engine's identifier quotes, the closing quote doubled inside; a NUL ends it.
std::string quoted_name(const ado::Dialect& dialect, std::string_view name);
// The table of a run: its prefix and the suffix ("CHANNELS", "DATA", "TEXT"), quoted as one.
std::string run_table(const ado::Dialect& dialect, std::string_view prefix, std::string_view suffix);
// A text literal escaped by the engine's rule; a NUL ends it.
std::string text_literal(const ado::Dialect& dialect, std::string_view text);

// The first `characters` characters (code points) of a UTF-8 text, never cutting a sequence.
std::string cut_to_characters(std::string_view utf8, std::size_t characters);
// The same for UTF-16; a surrogate pair counts as one character and stays whole.
std::u16string cut_to_characters(std::u16string_view utf16, std::size_t characters);

// Column names as the engines compare them: letter case ignored, for ASCII and for the
// letters of Windows-1252 (the system's own texts).
bool same_column_name(std::string_view a, std::string_view b);
std::string folded_column_name(std::string_view name);

}  // namespace log_stores::db_schema
