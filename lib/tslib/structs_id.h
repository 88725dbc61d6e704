#pragma once
// Enumeration type "id": a value of 1, 2 or 4 bytes shown as the name of its list entry.
// args[0] is the list, ended by an entry whose name is null.
#include <cstdint>

#include "tslib/structs_generic.h"
#include "tslib/structs_type.h"

struct StructsId {
    const char* id;
    std::int32_t value;
    std::int32_t imode;  // non-zero: the name is matched without regard to case
};

int structs_id_init(const StructsType* type, void* data);
char* structs_id_ascify(const StructsType* type, const char* mtype, const void* data);
int structs_id_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax);

constexpr StructsType structs_id_type(std::uint32_t size, const StructsId* list) {
    if (size != 1 && size != 2 && size != 4)
        tslib::detail::bad_description("enumeration size is not 1, 2 or 4");
    return StructsType{
        .size = size,
        .name = "id",
        .tclass = StructsTypeClass::kPrimitive,
        .init = structs_id_init,
        .copy = structs_byte_copy,
        .equal = structs_byte_equal,
        .ascify = structs_id_ascify,
        .binify = structs_id_binify,
        .encode = structs_reversed_encode,
        .decode = structs_reversed_decode,
        .uninit = structs_noop_uninit,
        .args = {static_cast<const void*>(list), 0, 0},
    };
}
