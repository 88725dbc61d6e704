#include "log_stores/db_schema/sql_text.h"

#include <cstdint>

namespace log_stores::db_schema {
namespace {

std::string_view up_to_nul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// Length of the UTF-8 sequence that starts with `lead`; 1 for a byte that starts none, so a
// malformed text is still walked one byte at a time.
std::size_t sequence_length(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

bool is_continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// The length of the whole sequence at `at`, or 1 when it is cut short or malformed.
std::size_t character_at(std::string_view text, std::size_t at) {
    const std::size_t n = sequence_length(static_cast<unsigned char>(text[at]));
    if (n == 1 || at + n > text.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
        if (!is_continuation(static_cast<unsigned char>(text[at + k]))) return 1;
    return n;
}

char32_t decode(std::string_view seq) {
    const auto b = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(seq[i])); };
    switch (seq.size()) {
        case 2:
            return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
        case 3:
            return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
        case 4:
            return (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 | (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
        default:
            return b(0);
    }
}

void encode(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char32_t fold(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    switch (c) {
        case 0x160:  // S caron
        case 0x152:  // OE
        case 0x17D:  // Z caron
            return c + 1;
        case 0x178:  // Y diaeresis
            return 0xFF;
        default:
            return c;
    }
}

}  // namespace

std::string quoted_name(const ado::Dialect& dialect, std::string_view name) {
    return dialect.quote_identifier(up_to_nul(name));
}

std::string run_table(const ado::Dialect& dialect, std::string_view prefix, std::string_view suffix) {
    std::string name(up_to_nul(prefix));
    name += suffix;
    return dialect.quote_identifier(name);
}

std::string text_literal(const ado::Dialect& dialect, std::string_view text) {
    return dialect.quote_literal(up_to_nul(text));
}

std::string cut_to_characters(std::string_view utf8, std::size_t characters) {
    std::size_t at = 0;
    for (std::size_t counted = 0; at < utf8.size() && counted < characters; ++counted)
        at += character_at(utf8, at);
    return std::string(utf8.substr(0, at));
}

std::u16string cut_to_characters(std::u16string_view utf16, std::size_t characters) {
    std::size_t at = 0;
    for (std::size_t counted = 0; at < utf16.size() && counted < characters; ++counted) {
        const bool pair = utf16[at] >= 0xD800 && utf16[at] <= 0xDBFF && at + 1 < utf16.size() &&
                          utf16[at + 1] >= 0xDC00 && utf16[at + 1] <= 0xDFFF;
        at += pair ? 2 : 1;
    }
    return std::u16string(utf16.substr(0, at));
}

std::string folded_column_name(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t n = character_at(name, at);
        const std::string_view seq = name.substr(at, n);
        if (n == 1 && static_cast<unsigned char>(seq[0]) >= 0x80)
            out += seq[0];  // a stray byte stays as it is
        else
            encode(fold(decode(seq)), out);
        at += n;
    }
    return out;
}

bool same_column_name(std::string_view a, std::string_view b) {
    return folded_column_name(a) == folded_column_name(b);
}

}  // namespace log_stores::db_schema
