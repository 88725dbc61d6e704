#pragma once
// Typed description of the typed-memory statistics (typed_mem_collect_stats): a variable
// array of rows {type, allocs, bytes} whose element name is "type".
#include <cstddef>

#include "tslib/structs.h"
#include "tslib/typed_mem.h"

inline constexpr StructsType typed_mem_stats_type_name = structs_fixedstring_type(kTypedMemNameMax + 1);

inline constexpr StructsField typed_mem_stats_row_fields[] = {
    structs_field("type", typed_mem_stats_type_name, offsetof(TypedMemStatsRow, type)),
    structs_field("allocs", structs_type_uint, offsetof(TypedMemStatsRow, allocs)),
    structs_field("bytes", structs_type_uint, offsetof(TypedMemStatsRow, bytes)),
    structs_field_end(),
};

inline constexpr StructsType typed_mem_stats_row_type =
    structs_struct_type(sizeof(TypedMemStatsRow), typed_mem_stats_row_fields);

inline constexpr StructsType typed_mem_stats_type =
    structs_array_type(&typed_mem_stats_row_type, "typed_mem_stats", "type");
