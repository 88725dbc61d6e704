#pragma once
// Floating-point types "float" (4 bytes) and "double" (8 bytes); args[0] 0 float / 1 double.
// Text forms never depend on the process locale.
#include "tslib/structs_generic.h"
#include "tslib/structs_type.h"

int structs_float_equal(const StructsType* type, const void* a, const void* b);
char* structs_float_ascify(const StructsType* type, const char* mtype, const void* data);
int structs_float_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax);

constexpr StructsType structs_float_type(bool is_double) {
    return StructsType{
        .size = is_double ? 8u : 4u,
        .name = is_double ? "double" : "float",
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_zero_init,
        .copy = structs_byte_copy,
        .equal = structs_float_equal,
        .ascify = structs_float_ascify,
        .binify = structs_float_binify,
        .encode = structs_reversed_encode,
        .decode = structs_reversed_decode,
        .uninit = structs_noop_uninit,
        .args = {is_double ? 1 : 0, 0, 0},
    };
}

inline constexpr StructsType structs_type_float = structs_float_type(false);
inline constexpr StructsType structs_type_double = structs_float_type(true);
