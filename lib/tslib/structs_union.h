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
    return StructsType{sizeof(StructsUnion),       "union",
                       StructsTypeClass::kUnion,   structs_union_init,
                       structs_union_copy,         structs_union_equal,
                       structs_unsupported_ascify, structs_unsupported_binify,
                       structs_unsupported_encode, structs_unsupported_decode,
                       structs_union_uninit,       {static_cast<const void*>(members), mtype, 0}};
}
