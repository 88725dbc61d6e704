#pragma once
// The runtime library's operations on typed records: the fixed-length string's equal and
// text operations, and comparing one field of two instances.
#include "tslib/structs.h"

// 1 when a and b hold the same text within the type's size (no terminating zero needed).
int util_FixedStringEqual(const StructsType* type, const void* a, const void* b);
// The text of a fixed-length string (at most the type's size characters, up to its first
// zero) in a new zero-terminated block allocated under `mtype`; null with errno.
char* util_FixedStringText(const StructsType* type, const char* mtype, const void* value);

// The field type's equal result for the field at `path` of both instances, or -1 with errno
// when the path is found in neither (or only one) of them.
int structs_equal_field(const StructsType* type, const char* path, const void* a, const void* b);
