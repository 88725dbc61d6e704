#include "platform/ado/text_codec.h"

#include "platform/windows_1252.h"

namespace ado {

std::string utf8_from_cp1252(std::string_view text) {
    return platform::utf8_from_windows_1252(text);
}

std::string cp1252_from_utf8(std::string_view text) {
    return platform::windows_1252_from_utf8(text);
}

std::string utf8_from_utf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) platform::append_utf8(out, platform::next_utf16(text, i));
    return out;
}

std::u16string utf16_from_utf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) platform::append_utf16(out, platform::next_utf8(text, i));
    return out;
}

std::u16string utf16_from_cp1252(std::string_view text) {
    return platform::utf16_from_windows_1252(text);
}

std::string cp1252_from_utf16(std::u16string_view text) {
    return platform::windows_1252_from_utf16(text);
}

}  // namespace ado
