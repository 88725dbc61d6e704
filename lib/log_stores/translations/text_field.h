#pragma once
// A text of up to 32 characters kept in a 32-byte field of a record whose flags word says,
// by its bit 0, whether the text is set. A field that begins 00 FF holds UTF-16 (at most 15
// code units from its third byte, little-endian); any other holds an 8-bit text of at most
// 32 bytes, NUL-terminated when shorter: UTF-8 in one pair of codecs, the system code page
// (Windows-1252) in the other. The record's type decides which.
#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t kTextFieldSize = 32;
inline constexpr std::uint32_t kTextFieldSetBit = 0x1;
// Code units of a decoded text, with its terminator.
inline constexpr std::size_t kTextFieldWideSize = 33;
inline constexpr std::size_t kTextFieldWideUnits = 15;

// The text (empty when the set bit is clear), in a per-thread buffer of 33 code units valid
// until the thread's next call of the same function.
const char16_t* TextFieldToWideUtf8(std::uint32_t flags, std::span<const char, kTextFieldSize> field);
const char16_t* TextFieldToWide(std::uint32_t flags, std::span<const char, kTextFieldSize> field);

// Stores at most the first 32 code units of `text` (null: empty): the UTF-16 form when any of
// them is 256 or more, else converted. Every cut falls between characters, never inside a
// surrogate pair or a UTF-8 sequence. The set bit of `*flags` (when given) tells whether a
// text was stored.
void TextFieldFromWideUtf8(std::uint32_t* flags, std::span<char, kTextFieldSize> field, const char16_t* text);
void TextFieldFromWide(std::uint32_t* flags, std::span<char, kTextFieldSize> field, const char16_t* text);
