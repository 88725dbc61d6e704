#pragma once
// Member lookup and member blocks of union types, shared by the union family and path
// resolution.
#include <string_view>

#include "tslib/structs_type.h"

namespace tslib::detail {

// The member named name, or null.
const StructsField* find_member(const StructsType* type, std::string_view name);
inline const StructsField* find_member(const StructsType* type, const char* name) {
    return name != nullptr ? find_member(type, std::string_view(name)) : nullptr;
}

// A new block under the union's typed-memory name holding the member's default value (from
// null) or a copy of from; null with errno.
void* new_member_block(const StructsType* type, const StructsField* member, const void* from);

// Uninitialises and releases a member block.
void drop_member_block(const StructsType* type, const StructsField* member, void* block);

}  // namespace tslib::detail
