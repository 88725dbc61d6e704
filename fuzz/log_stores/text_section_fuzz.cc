// Text files anyone may edit: any bytes, 8-bit or UTF-16, are read section by section (as
// 8-bit or as UTF-16 text) without writing past the caller's buffer, and what is handed out
// ends with its NUL.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/text_files/text_section.h"

using namespace log_stores::text_files;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::size_t capacity = data[0];  // small buffers find the edge cases
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    bool utf16 = false;
    const std::string text = text_file_as_8bit(bytes, utf16);
    const std::u16string wide = text_file_as_utf16(bytes);
    for (const char* section : {"TEXT", "[HEADER]", "X"}) {
        for (const SectionOptions options : {SectionOptions{false, false}, SectionOptions{false, true},
                                             SectionOptions{true, true}}) {
            std::vector<char> out(capacity + 8, '\x7f');
            std::size_t out_size = capacity;
            const int lines = read_section(text, section, options, out.data(), &out_size);
            for (std::size_t i = capacity; i < out.size(); ++i)
                if (out[i] != '\x7f') __builtin_trap();
            if (lines > 0 && (out_size > capacity || out[out_size - 1] != '\0')) __builtin_trap();
            std::size_t counted = 0;
            if (read_section(text, section, options, nullptr, &counted) < lines) __builtin_trap();

            std::vector<char16_t> wide_out(capacity + 8, u'\x7f');
            std::size_t wide_size = capacity;
            const int wide_lines = read_section(wide, section, options, wide_out.data(), &wide_size);
            for (std::size_t i = capacity; i < wide_out.size(); ++i)
                if (wide_out[i] != u'\x7f') __builtin_trap();
            if (wide_lines > 0 && (wide_size > capacity || wide_out[wide_size - 1] != u'\0')) __builtin_trap();
        }
    }
    return 0;
}
