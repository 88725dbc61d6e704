// The 32-byte text fields: any field decodes into at most 32 code units, and any text
// stores into 32 bytes that decode back to a start of that text cut between characters.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "log_stores/translations/text_field.h"

namespace {

bool is_low_surrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

void check_read(const char16_t* text) {
    std::size_t n = 0;
    while (text[n] != u'\0') {
        if (++n > 32) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char field[kTextFieldSize] = {};
    std::memcpy(field, data, std::min(size, kTextFieldSize));
    check_read(TextFieldToWideUtf8(1, std::span<const char, kTextFieldSize>(field)));
    check_read(TextFieldToWide(1, std::span<const char, kTextFieldSize>(field)));

    // The same bytes as a UTF-16 text to store.
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == u'\0') break;
        text.push_back(unit);
    }
    for (const bool utf8 : {true, false}) {
        char out[kTextFieldSize];
        std::uint32_t flags = 0;
        if (utf8)
            TextFieldFromWideUtf8(&flags, out, text.c_str());
        else
            TextFieldFromWide(&flags, out, text.c_str());
        if (((flags & kTextFieldSetBit) != 0) != !text.empty()) __builtin_trap();
        const std::u16string back(utf8 ? TextFieldToWideUtf8(flags, std::span<const char, kTextFieldSize>(out))
                                       : TextFieldToWide(flags, std::span<const char, kTextFieldSize>(out)));
        if (back.size() > text.size()) __builtin_trap();
        const bool wide = out[0] == '\0' && static_cast<unsigned char>(out[1]) == 0xFF;
        // A stored UTF-16 form is an exact start of the text, never ending before a pair's
        // second half.
        if (wide) {
            if (text.compare(0, back.size(), back) != 0) __builtin_trap();
            if (back.size() < text.size() && is_low_surrogate(text[back.size()]) && !back.empty() &&
                back.back() >= 0xD800 && back.back() <= 0xDBFF)
                __builtin_trap();
        }
    }
    return 0;
}
