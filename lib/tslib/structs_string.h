#pragma once
// Text types: "string" (a text block owned through a pointer) and "fixedstring" (a bounded
// character buffer inside the record). Their binary form, the text and a zero byte, is
// shared with every type whose value is a text.
#include "tslib/structs_generic.h"
#include "tslib/structs_type.h"

inline constexpr const char* kStructsStringMtype = "structs_type_string";

int structs_string_init(const StructsType* type, void* data);
int structs_string_equal(const StructsType* type, const void* a, const void* b);
char* structs_string_ascify(const StructsType* type, const char* mtype, const void* data);
int structs_string_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                          std::size_t emax);
void structs_string_uninit(const StructsType* type, void* data);

// The text form (the type's ascify) and one zero byte.
int structs_string_encode(const StructsType* type, const char* mtype, StructsBuffer* code, const void* data);
// Reads up to the first zero byte ("encoded string is truncated" without one) and parses the
// text with the type's binify into the zeroed instance; returns the text length + 1.
ssize_t structs_string_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax, void* data,
                              char* ebuf, std::size_t emax);

// Bounded string operations: every read stops at the buffer's end even without a zero byte.
int structs_fixedstring_equal(const StructsType* type, const void* a, const void* b);
char* structs_fixedstring_ascify(const StructsType* type, const char* mtype, const void* data);
// Fails with "string is too long for bounded length buffer" (EINVAL) for a text of size
// characters or more; the bytes after the text are zeroed.
int structs_fixedstring_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                               std::size_t emax);

// args[0] the typed-memory name of the text block; args[1] 1 when the text may be absent
// (then an empty text is stored as none).
constexpr StructsType structs_string_type(const char* mtype, bool allow_null) {
    return StructsType{
        .size = sizeof(char*),
        .name = "string",
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_string_init,
        .copy = structs_text_copy,
        .equal = structs_string_equal,
        .ascify = structs_string_ascify,
        .binify = structs_string_binify,
        .encode = structs_string_encode,
        .decode = structs_string_decode,
        .uninit = structs_string_uninit,
        .args = {mtype, allow_null ? 1 : 0, 0},
    };
}

// A character buffer of size bytes, text and terminating zero.
constexpr StructsType structs_fixedstring_type(std::uint32_t size) {
    return StructsType{
        .size = size,
        .name = "fixedstring",
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_zero_init,
        .copy = structs_byte_copy,
        .equal = structs_fixedstring_equal,
        .ascify = structs_fixedstring_ascify,
        .binify = structs_fixedstring_binify,
        .encode = structs_string_encode,
        .decode = structs_string_decode,
        .uninit = structs_noop_uninit,
        .args = {0, 0, 0},
    };
}

inline constexpr StructsType structs_type_string = structs_string_type(kStructsStringMtype, false);
inline constexpr StructsType structs_type_string_null = structs_string_type(kStructsStringMtype, true);
