#pragma once
// Integer types: "uint" (unsigned decimal), "int" (signed decimal), "hint" (hexadecimal), in
// eight storage size codes. args[0] is the size code, args[1] the kind.
#include <cstdint>

#include "tslib/structs_generic.h"
#include "tslib/structs_type.h"

// Kinds (args[1]).
inline constexpr int kStructsIntUnsigned = 0;
inline constexpr int kStructsIntSigned = 1;
inline constexpr int kStructsIntHex = 2;

// Size codes (args[0]). Code 3 is a fixed 4-byte integer on every host.
inline constexpr int kStructsIntChar = 0;   // 1 byte
inline constexpr int kStructsIntShort = 1;  // 2 bytes
inline constexpr int kStructsIntInt = 2;    // 4 bytes
inline constexpr int kStructsIntLong = 3;   // 4 bytes
inline constexpr int kStructsInt8 = 4;
inline constexpr int kStructsInt16 = 5;
inline constexpr int kStructsInt32 = 6;
inline constexpr int kStructsInt64 = 7;

char* structs_int_ascify(const StructsType* type, const char* mtype, const void* data);
int structs_int_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax);

// Storage bytes of a size code; 0 for an unknown code.
constexpr std::uint32_t structs_int_storage(int size_code) {
    switch (size_code) {
        case kStructsIntChar:
        case kStructsInt8:
            return 1;
        case kStructsIntShort:
        case kStructsInt16:
            return 2;
        case kStructsIntInt:
        case kStructsIntLong:
        case kStructsInt32:
            return 4;
        case kStructsInt64:
            return 8;
        default:
            return 0;
    }
}

constexpr StructsType structs_int_type(int size_code, int kind) {
    if (structs_int_storage(size_code) == 0) tslib::detail::bad_description("unknown integer size code");
    if (kind < kStructsIntUnsigned || kind > kStructsIntHex)
        tslib::detail::bad_description("unknown integer kind");
    return StructsType{
        .size = structs_int_storage(size_code),
        .name = kind == kStructsIntSigned     ? "int"
                : kind == kStructsIntUnsigned ? "uint"
                                              : "hint",
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_zero_init,
        .copy = structs_byte_copy,
        .equal = structs_byte_equal,
        .ascify = structs_int_ascify,
        .binify = structs_int_binify,
        .encode = structs_reversed_encode,
        .decode = structs_reversed_decode,
        .uninit = structs_noop_uninit,
        .args = {size_code, kind, 0},
    };
}

inline constexpr StructsType structs_type_uchar = structs_int_type(kStructsIntChar, kStructsIntUnsigned);
inline constexpr StructsType structs_type_char = structs_int_type(kStructsIntChar, kStructsIntSigned);
inline constexpr StructsType structs_type_hchar = structs_int_type(kStructsIntChar, kStructsIntHex);
inline constexpr StructsType structs_type_ushort = structs_int_type(kStructsIntShort, kStructsIntUnsigned);
inline constexpr StructsType structs_type_short = structs_int_type(kStructsIntShort, kStructsIntSigned);
inline constexpr StructsType structs_type_hshort = structs_int_type(kStructsIntShort, kStructsIntHex);
inline constexpr StructsType structs_type_uint = structs_int_type(kStructsIntInt, kStructsIntUnsigned);
inline constexpr StructsType structs_type_int = structs_int_type(kStructsIntInt, kStructsIntSigned);
inline constexpr StructsType structs_type_hint = structs_int_type(kStructsIntInt, kStructsIntHex);
inline constexpr StructsType structs_type_ulong = structs_int_type(kStructsIntLong, kStructsIntUnsigned);
inline constexpr StructsType structs_type_long = structs_int_type(kStructsIntLong, kStructsIntSigned);
inline constexpr StructsType structs_type_hlong = structs_int_type(kStructsIntLong, kStructsIntHex);
inline constexpr StructsType structs_type_uint8 = structs_int_type(kStructsInt8, kStructsIntUnsigned);
inline constexpr StructsType structs_type_int8 = structs_int_type(kStructsInt8, kStructsIntSigned);
inline constexpr StructsType structs_type_hint8 = structs_int_type(kStructsInt8, kStructsIntHex);
inline constexpr StructsType structs_type_uint16 = structs_int_type(kStructsInt16, kStructsIntUnsigned);
inline constexpr StructsType structs_type_int16 = structs_int_type(kStructsInt16, kStructsIntSigned);
inline constexpr StructsType structs_type_hint16 = structs_int_type(kStructsInt16, kStructsIntHex);
inline constexpr StructsType structs_type_uint32 = structs_int_type(kStructsInt32, kStructsIntUnsigned);
inline constexpr StructsType structs_type_int32 = structs_int_type(kStructsInt32, kStructsIntSigned);
inline constexpr StructsType structs_type_hint32 = structs_int_type(kStructsInt32, kStructsIntHex);
inline constexpr StructsType structs_type_uint64 = structs_int_type(kStructsInt64, kStructsIntUnsigned);
inline constexpr StructsType structs_type_int64 = structs_int_type(kStructsInt64, kStructsIntSigned);
inline constexpr StructsType structs_type_hint64 = structs_int_type(kStructsInt64, kStructsIntHex);
