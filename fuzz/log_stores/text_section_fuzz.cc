// Text files anyone may edit: any bytes, 8-bit or UTF-16, are read section by section
// without writing past the caller's buffer, and what is handed out ends with its NUL.
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
        }
    }
    return 0;
}
