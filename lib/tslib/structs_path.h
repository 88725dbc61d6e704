#pragma once
// Path resolution behind structs_find_field; not part of the public interface.
#include <string_view>

#include "tslib/structs_type.h"

namespace tslib::detail {

const StructsType* find_field(const StructsType* type, std::string_view path, void** datap, bool set_union);

// True for the pseudo-field types ("length", "field_name"): their values are views of the
// array or union and must never be written.
bool is_read_only(const StructsType* type);

// Reads a path component that must be wholly a decimal index. Sets ENOENT for a malformed
// one; a well-formed index above 2^32 - 1 reads as UINT64_MAX.
bool parse_index(std::string_view component, std::uint64_t* index);

}  // namespace tslib::detail
