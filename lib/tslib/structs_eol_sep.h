#pragma once
// End-of-line type "eol" and separator type "sep": a text of at most two characters inside
// the record, shown by name ("CR/LF", "CR", "LF"; "TAB", "COMMA", "SPACE"). Names are read
// without regard to case, the empty text is the default sequence ("\r\n", ","), and any
// other text is kept as it is.
#include "tslib/structs_generic.h"
#include "tslib/structs_string.h"
#include "tslib/structs_type.h"

char* structs_eol_ascify(const StructsType* type, const char* mtype, const void* data);
int structs_eol_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax);
char* structs_sep_ascify(const StructsType* type, const char* mtype, const void* data);
int structs_sep_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax);

constexpr StructsType structs_named_text_type(const char* name, StructsAscifyFn ascify, StructsBinifyFn binify) {
    return StructsType{
        .size = 3,
        .name = name,
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_zero_init,
        .copy = structs_byte_copy,
        .equal = structs_fixedstring_equal,
        .ascify = ascify,
        .binify = binify,
        .encode = structs_string_encode,
        .decode = structs_string_decode,
        .uninit = structs_noop_uninit,
        .args = {0, 0, 0},
    };
}

inline constexpr StructsType structs_type_eol = structs_named_text_type("eol", structs_eol_ascify, structs_eol_binify);
inline constexpr StructsType structs_type_sep = structs_named_text_type("sep", structs_sep_ascify, structs_sep_binify);
