#pragma once
// Date-and-time pattern type "time", six bytes: year - 1900, month, day, hour, minute, and a
// byte the text forms neither show nor set. Text "YYYY-MM-DDThh:mm" (args[0] 1, a year
// byte) or "MM-DDThh:mm" (args[0] 0). With args[1] 1 the byte 255 is the wildcard "any",
// written as "****" for the year and "**" for the other parts; a run of one or more '*'
// reads as the wildcard.
#include "tslib/structs_generic.h"
#include "tslib/structs_type.h"

inline constexpr std::uint32_t kStructsTimeSize = 6;
inline constexpr std::uint8_t kStructsTimeAny = 255;

char* structs_time_ascify(const StructsType* type, const char* mtype, const void* data);
// Years 1900 to 2154 ("invalid year value"); months, days and hours read as up to two digits
// of 0 to 59 like the minutes, as stored files may hold ("invalid time value"). EINVAL.
int structs_time_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax);

constexpr StructsType structs_time_type(bool has_year, bool wildcards) {
    return StructsType{
        .size = kStructsTimeSize,
        .name = "time",
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_zero_init,
        .copy = structs_byte_copy,
        .equal = structs_byte_equal,
        .ascify = structs_time_ascify,
        .binify = structs_time_binify,
        .encode = structs_reversed_encode,
        .decode = structs_reversed_decode,
        .uninit = structs_noop_uninit,
        .args = {has_year ? 1 : 0, wildcards ? 1 : 0, 0},
    };
}

inline constexpr StructsType structs_type_time_with_year = structs_time_type(true, true);
inline constexpr StructsType structs_type_time_no_year = structs_time_type(false, false);
