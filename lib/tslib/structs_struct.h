#pragma once
// Structure type "structure": a record described by its field list (args[0]). List order is
// the order of traversal, of leaf names and of the binary form.
#include "tslib/structs_generic.h"
#include "tslib/structs_type.h"

int structs_struct_init(const StructsType* type, void* data);
int structs_struct_copy(const StructsType* type, const void* from, void* to);
int structs_struct_equal(const StructsType* type, const void* a, const void* b);
// A bitmap of (field count + 7) / 8 bytes, then the encodings of the fields whose value is
// not the default.
int structs_struct_encode(const StructsType* type, const char* mtype, StructsBuffer* code, const void* data);
ssize_t structs_struct_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax, void* data,
                              char* ebuf, std::size_t emax);
void structs_struct_uninit(const StructsType* type, void* data);

constexpr StructsType structs_struct_type(std::uint32_t size, const StructsField* fields) {
    return StructsType{
        .size = size,
        .name = "structure",
        .tclass = StructsTypeClass::kStructure,
        .init = structs_struct_init,
        .copy = structs_struct_copy,
        .equal = structs_struct_equal,
        .ascify = structs_unsupported_ascify,
        .binify = structs_unsupported_binify,
        .encode = structs_struct_encode,
        .decode = structs_struct_decode,
        .uninit = structs_struct_uninit,
        .args = {static_cast<const void*>(fields), 0, 0},
    };
}
