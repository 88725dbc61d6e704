#pragma once
// A character field of a stored record that holds a text of up to its full width: NUL-padded
// when shorter, without a NUL when full (alarm and state texts, port names). Shown in the
// schema and the files like any bounded string ("fixedstring", maximum length = the width),
// but a text that fills the field is accepted back, so every text the field can hold
// survives its text form. Header-only: the device plug-ins use it without the runtime
// library.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tslib/structs.h"

namespace qvr {

inline int full_width_text_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                                  std::size_t emax) {
    if (text == nullptr) text = "";
    const std::size_t len = std::strlen(text);
    if (len > type->size) {
        structs_write_error(ebuf, emax, "string is too long for bounded length buffer");
        errno = EINVAL;
        return -1;
    }
    // The whole field is written, so records compare and store byte for byte.
    auto* out = static_cast<char*>(data);
    std::memcpy(out, text, len);
    std::memset(out + len, 0, type->size - len);
    return 0;
}

constexpr StructsType full_width_text_type(std::uint32_t size) {
    StructsType type = structs_fixedstring_type(size);
    type.binify = full_width_text_binify;
    return type;
}

}  // namespace qvr
