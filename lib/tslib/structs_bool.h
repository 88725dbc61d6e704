#pragma once
// Boolean type "boolean": one or four bytes (args[0] 0 / 1) and the word pair it prints
// (args[1]). Parsing accepts the words of every pair.
#include "tslib/structs_generic.h"
#include "tslib/structs_type.h"

// Word pairs (args[1]): false word, then true word.
inline constexpr int kStructsBoolTrueFalse = 0;  // "False" / "True"
inline constexpr int kStructsBoolYesNo = 1;      // "No" / "Yes"
inline constexpr int kStructsBoolOnOff = 2;      // "Off" / "On"
inline constexpr int kStructsBoolEnabled = 3;    // "Disabled" / "Enabled"
inline constexpr int kStructsBoolZeroOne = 4;    // "0" / "1"

char* structs_bool_ascify(const StructsType* type, const char* mtype, const void* data);
int structs_bool_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax);

constexpr StructsType structs_bool_type(bool four_bytes, int pair) {
    if (pair < kStructsBoolTrueFalse || pair > kStructsBoolZeroOne)
        tslib::detail::bad_description("unknown Boolean word pair");
    return StructsType{
        .size = four_bytes ? 4u : 1u,
        .name = "boolean",
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_zero_init,
        .copy = structs_byte_copy,
        .equal = structs_byte_equal,
        .ascify = structs_bool_ascify,
        .binify = structs_bool_binify,
        .encode = structs_reversed_encode,
        .decode = structs_reversed_decode,
        .uninit = structs_noop_uninit,
        .args = {four_bytes ? 1 : 0, pair, 0},
    };
}

inline constexpr StructsType structs_type_boolean_char = structs_bool_type(false, kStructsBoolTrueFalse);
inline constexpr StructsType structs_type_boolean_int = structs_bool_type(true, kStructsBoolTrueFalse);
inline constexpr StructsType structs_type_boolean_char_01 = structs_bool_type(false, kStructsBoolZeroOne);
inline constexpr StructsType structs_type_boolean_int_01 = structs_bool_type(true, kStructsBoolZeroOne);
inline constexpr StructsType structs_type_boolean_char_onoff = structs_bool_type(false, kStructsBoolOnOff);
inline constexpr StructsType structs_type_boolean_int_onoff = structs_bool_type(true, kStructsBoolOnOff);
