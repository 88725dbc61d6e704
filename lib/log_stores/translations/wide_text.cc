#include "log_stores/translations/wide_text.h"

#include <algorithm>

#include "log_stores/translations/case_fold_table.h"
#include "platform/windows_1252.h"

namespace log_stores::translations {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool is_high_surrogate(char32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(char32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

char16_t widen_1252(unsigned char byte) {
    return static_cast<char16_t>(platform::from_windows_1252(byte));
}

std::u16string widen_1252(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char c : text) out.push_back(widen_1252(static_cast<unsigned char>(c)));
    return out;
}

std::optional<unsigned char> narrow_1252(char32_t cp) {
    return platform::windows_1252_byte(cp);
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07, minimum = 0x10000;
        }
        bool good = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; good && k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) good = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (good && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) good = false;
        if (!good) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        platform::append_utf16(out, cp);
        i += length;
    }
    return out;
}

std::u16string utf16le_to_utf16(std::span<const std::byte> bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<char16_t>(std::to_integer<unsigned>(bytes[i]) |
                                            std::to_integer<unsigned>(bytes[i + 1]) << 8));
    return out;
}

std::size_t utf8_length(char32_t cp) {
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

void append_utf8(std::string& out, char32_t cp) {
    platform::append_utf8(out, cp);
}

CodePoint code_point_at(std::u16string_view text, std::size_t at) {
    const char32_t u = text[at];
    if (is_high_surrogate(u) && at + 1 < text.size() && is_low_surrogate(text[at + 1]))
        return {0x10000 + ((u - 0xD800) << 10) + (text[at + 1] - 0xDC00), 2};
    return {u, 1};
}

char32_t fold_case(char32_t cp) {
    if (cp < 0x80) return cp >= 'A' && cp <= 'Z' ? cp + 0x20 : cp;
    const auto it = std::lower_bound(kCaseFoldPairs.begin(), kCaseFoldPairs.end(), cp,
                                     [](const CaseFoldPair& p, char32_t v) { return p.from < v; });
    return it != kCaseFoldPairs.end() && it->from == cp ? it->to : cp;
}

std::u16string fold_case(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const CodePoint p = code_point_at(text, i);
        const bool lone_surrogate = p.units == 1 && p.value >= 0xD800 && p.value <= 0xDFFF;
        platform::append_utf16(out, lone_surrogate ? p.value : fold_case(p.value));
        i += p.units;
    }
    return out;
}

bool equal_folded(std::u16string_view a, std::u16string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const CodePoint p = code_point_at(a, i);
        const CodePoint q = code_point_at(b, j);
        if (fold_case(p.value) != fold_case(q.value)) return false;
        i += p.units;
        j += q.units;
    }
    return i == a.size() && j == b.size();
}

std::size_t cut_at_character(std::u16string_view text, std::size_t units) {
    if (units >= text.size()) return text.size();
    if (units > 0 && is_high_surrogate(text[units - 1]) && is_low_surrogate(text[units])) return units - 1;
    return units;
}

}  // namespace log_stores::translations
