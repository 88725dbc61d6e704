#pragma once
// Password type "password": a 257-byte text held in clear in the record and written as
// "enc:" and the 256-byte padded block enciphered with the password phrase, two lower-case
// hexadecimal digits per byte. The padding is blanks, or zeros after a password that ends in
// a blank (a 256-character one gets a 257th byte, its zero). Where the cipher cannot be used
// the text form is the password itself.
#include "tslib/structs_generic.h"
#include "tslib/structs_string.h"
#include "tslib/structs_type.h"

inline constexpr std::uint32_t kStructsPasswordSize = 257;

char* structs_password_ascify(const StructsType* type, const char* mtype, const void* data);
// A text "enc:" (any case) followed by 2 to 514 hexadecimal digits in pairs is deciphered
// with either key variant, and the reading that makes sense (a plausible password, else
// clearly longer padding, else the write key's) gives the password: up to its zero padding, else without trailing blanks
// (the first character stays). A whole block gives its password whatever characters it
// holds; a shorter one that reads as control characters under both keys, and a block no
// writer makes (a zero with more after it), keep their text. Any other text is kept as it
// is. The text kept must fit the field.
int structs_password_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                            std::size_t emax);

inline constexpr StructsType structs_type_password = StructsType{
    .size = kStructsPasswordSize,
    .name = "password",
    .tclass = StructsTypeClass::kPrimitive,
    .init = structs_zero_init,
    .copy = structs_byte_copy,
    .equal = structs_fixedstring_equal,
    .ascify = structs_password_ascify,
    .binify = structs_password_binify,
    .encode = structs_string_encode,
    .decode = structs_string_decode,
    .uninit = structs_noop_uninit,
    .args = {0, 0, 0},
};
