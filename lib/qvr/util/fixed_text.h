#pragma once
// Text fields of fixed width in shared records: they may fill their field with no
// terminator, so they are read only up to the field's end.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/ascii_text.h"

namespace qvr {

// The text of a field of `size` bytes, up to its first NUL.
inline std::string_view field_text(const char* field, size_t size) {
    return {field, static_cast<size_t>(std::find(field, field + size, '\0') - field)};
}
template <size_t N>
std::string_view field_text(const char (&field)[N]) {
    return field_text(field, N);
}

// Two-character module codes, compared on both bytes ignoring case.
inline bool code_equal(const char* a, const char* b) {
    return platform::ascii_upper(a[0]) == platform::ascii_upper(b[0]) &&
           platform::ascii_upper(a[1]) == platform::ascii_upper(b[1]);
}

// Copies `text` into a field of `size` bytes, cut to size - 1 and zero-filled.
inline void set_field_text(char* field, size_t size, std::string_view text) {
    const size_t n = std::min(text.size(), size - 1);
    if (n > 0) std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, size - n);
}

}  // namespace qvr
