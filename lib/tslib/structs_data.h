#pragma once
// Binary data types: "data" (a StructsBuffer whose bytes are a separate block) and
// "fixeddata" (a byte array inside the record).
#include "tslib/structs_generic.h"
#include "tslib/structs_type.h"

inline constexpr const char* kStructsDataMtype = "structs_data";

int structs_data_copy(const StructsType* type, const void* from, void* to);
int structs_data_equal(const StructsType* type, const void* a, const void* b);
char* structs_data_ascify(const StructsType* type, const char* mtype, const void* data);
int structs_data_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax);
// u32 length, most significant byte first, then the bytes.
int structs_data_encode(const StructsType* type, const char* mtype, StructsBuffer* code, const void* data);
ssize_t structs_data_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax, void* data,
                            char* ebuf, std::size_t emax);
void structs_data_uninit(const StructsType* type, void* data);

char* structs_fixeddata_ascify(const StructsType* type, const char* mtype, const void* data);
int structs_fixeddata_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                             std::size_t emax);

// args[0] the character set of the text form: null base64 (standard alphabet), "" two
// hexadecimal digits per byte, otherwise a 64-symbol base64 alphabet (a 65th character is
// the pad). args[1] the typed-memory name of the byte block.
constexpr StructsType structs_data_type(const char* charset, const char* mtype) {
    return StructsType{
        .size = sizeof(StructsBuffer),
        .name = "data",
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_zero_init,
        .copy = structs_data_copy,
        .equal = structs_data_equal,
        .ascify = structs_data_ascify,
        .binify = structs_data_binify,
        .encode = structs_data_encode,
        .decode = structs_data_decode,
        .uninit = structs_data_uninit,
        .args = {charset, mtype, 0},
    };
}

// size bytes, shown as two lower-case hexadecimal digits each.
constexpr StructsType structs_fixeddata_type(std::uint32_t size) {
    return StructsType{
        .size = size,
        .name = "fixeddata",
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_zero_init,
        .copy = structs_byte_copy,
        .equal = structs_byte_equal,
        .ascify = structs_fixeddata_ascify,
        .binify = structs_fixeddata_binify,
        .encode = structs_plain_encode,
        .decode = structs_plain_decode,
        .uninit = structs_noop_uninit,
        .args = {0, 0, 0},
    };
}

inline constexpr StructsType structs_type_data = structs_data_type(nullptr, kStructsDataMtype);
inline constexpr StructsType structs_type_hexdata = structs_data_type("", kStructsDataMtype);
