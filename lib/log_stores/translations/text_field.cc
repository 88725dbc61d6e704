#include "log_stores/translations/text_field.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "log_stores/translations/wide_text.h"

namespace {

using namespace log_stores::translations;

constexpr unsigned char kWideMarker = 0xFF;
constexpr std::size_t kStoredUnits = 32;

bool is_wide(std::span<const char, kTextFieldSize> field) {
    return field[0] == '\0' && static_cast<unsigned char>(field[1]) == kWideMarker;
}

const char16_t* into_buffer(char16_t (&buffer)[kTextFieldWideSize], std::u16string_view text) {
    const std::size_t n = cut_at_character(text, kTextFieldWideSize - 1);
    std::copy_n(text.begin(), n, buffer);
    buffer[n] = u'\0';
    return buffer;
}

std::u16string wide_part(std::span<const char, kTextFieldSize> field) {
    std::u16string out;
    for (std::size_t i = 0; i < kTextFieldWideUnits; ++i) {
        const auto lo = static_cast<unsigned char>(field[2 + 2 * i]);
        const auto hi = static_cast<unsigned char>(field[3 + 2 * i]);
        const auto unit = static_cast<char16_t>(lo | hi << 8);
        if (unit == u'\0') break;
        out.push_back(unit);
    }
    return out;
}

std::string_view narrow_part(std::span<const char, kTextFieldSize> field) {
    return {field.data(), strnlen(field.data(), kTextFieldSize)};
}

std::u16string_view stored_units(const char16_t* text) {
    if (text == nullptr) return {};
    std::size_t n = 0;
    while (n < kStoredUnits && text[n] != u'\0') ++n;
    return {text, n};
}

bool needs_wide(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t u) { return u >= 256; });
}

void store_wide(std::span<char, kTextFieldSize> field, std::u16string_view text) {
    std::memset(field.data(), 0, kTextFieldSize);
    field[1] = static_cast<char>(kWideMarker);
    const std::size_t n = cut_at_character(text, kTextFieldWideUnits);
    for (std::size_t i = 0; i < n; ++i) {
        field[2 + 2 * i] = static_cast<char>(text[i] & 0xFF);
        field[3 + 2 * i] = static_cast<char>(text[i] >> 8);
    }
}

void store_narrow(std::span<char, kTextFieldSize> field, std::string_view bytes) {
    std::memset(field.data(), 0, kTextFieldSize);
    std::memcpy(field.data(), bytes.data(), std::min(bytes.size(), kTextFieldSize));
}

void set_flag(std::uint32_t* flags, bool set) {
    if (flags == nullptr) return;
    *flags = set ? (*flags | kTextFieldSetBit) : (*flags & ~kTextFieldSetBit);
}

}  // namespace

const char16_t* TextFieldToWideUtf8(std::uint32_t flags, std::span<const char, kTextFieldSize> field) {
    thread_local char16_t buffer[kTextFieldWideSize];
    if ((flags & kTextFieldSetBit) == 0) return into_buffer(buffer, {});
    if (is_wide(field)) return into_buffer(buffer, wide_part(field));
    return into_buffer(buffer, utf8_to_utf16(narrow_part(field)));
}

const char16_t* TextFieldToWide(std::uint32_t flags, std::span<const char, kTextFieldSize> field) {
    thread_local char16_t buffer[kTextFieldWideSize];
    if ((flags & kTextFieldSetBit) == 0) return into_buffer(buffer, {});
    if (is_wide(field)) return into_buffer(buffer, wide_part(field));
    return into_buffer(buffer, widen_1252(narrow_part(field)));
}

void TextFieldFromWideUtf8(std::uint32_t* flags, std::span<char, kTextFieldSize> field, const char16_t* text) {
    const std::u16string_view units = stored_units(text);
    set_flag(flags, !units.empty());
    if (needs_wide(units)) return store_wide(field, units);
    // Characters below 256 take one or two bytes: only whole ones fit.
    std::string bytes;
    for (const char16_t u : units) {
        if (bytes.size() + utf8_length(u) > kTextFieldSize) break;
        append_utf8(bytes, u);
    }
    store_narrow(field, bytes);
}

void TextFieldFromWide(std::uint32_t* flags, std::span<char, kTextFieldSize> field, const char16_t* text) {
    const std::u16string_view units = stored_units(text);
    set_flag(flags, !units.empty());
    if (needs_wide(units)) return store_wide(field, units);
    std::string bytes;
    for (const char16_t u : units) bytes.push_back(static_cast<char>(narrow_1252(u).value_or('?')));
    store_narrow(field, bytes);
}
