#pragma once
// Union type "union": one member at a time, named in the instance (a StructsUnion) and held
// in a block of its own. args[0] the member list (StructsField entries; their offsets are
// unused), args[1] the typed-memory name of member blocks.
#include "tslib/structs_generic.h"
#include "tslib/structs_type.h"

// The first member, initialised.
int structs_union_init(const StructsType* type, void* data);
int structs_union_copy(const StructsType* type, const void* from, void* to);
int structs_union_equal(const StructsType* type, const void* a, const void* b);
void structs_union_uninit(const StructsType* type, void* data);

constexpr StructsType structs_union_type(const StructsField* members, const char* mtype) {
    return StructsType{
        .size = sizeof(StructsUnion),
        .name = "union",
        .tclass = StructsTypeClass::kUnion,
        .init = structs_union_init,
        .copy = structs_union_copy,
        .equal = structs_union_equal,
        .ascify = structs_unsupported_ascify,
        .binify = structs_unsupported_binify,
        .encode = structs_unsupported_encode,
        .decode = structs_unsupported_decode,
        .uninit = structs_union_uninit,
        .args = {static_cast<const void*>(members), mtype, 0},
    };
}
