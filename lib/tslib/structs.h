#pragma once
// Typed descriptions of records: from a description and a pointer to a record, fields are
// found by dotted path ("Comm.Port", "Channels.3.Tag", "Channels.length"), turned into text
// and back, listed leaf by leaf, initialised, copied, compared, released and encoded in a
// compact binary form.
//
// Every operation returns 0 (or a documented count) on success and -1 (or null) with errno
// set on failure: ENOENT unknown field or malformed index, EDOM index out of range, EINVAL
// wrong class or invalid text or encoding, ENOSYS operation not supported by the type.
// Results are released with typed_mem_release under the name they were allocated under.
//
// An absent or empty path selects the whole record. Only the text operations are valid on
// every type in place; a type may find its record from the field's address.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "tslib/structs_array.h"
#include "tslib/structs_bool.h"
#include "tslib/structs_data.h"
#include "tslib/structs_eol_sep.h"
#include "tslib/structs_float.h"
#include "tslib/structs_generic.h"
#include "tslib/structs_id.h"
#include "tslib/structs_int.h"
#include "tslib/structs_password.h"
#include "tslib/structs_records.h"
#include "tslib/structs_string.h"
#include "tslib/structs_struct.h"
#include "tslib/structs_time.h"
#include "tslib/structs_type.h"
#include "tslib/structs_union.h"

// Resolves path inside *datap (described by type): returns the sub-field's type and
// replaces *datap by its address; null with errno. With set_union 1 a path through a union
// member other than the current one switches the union to it (a new default member).
const StructsType* structs_find_field(const StructsType* type, const char* path, void** datap, int set_union);

// The field's text form, allocated under mtype; null with errno (ENOSYS for a structure or
// an array).
char* structs_get_field_text(const StructsType* type, const char* path, const void* data, const char* mtype);

// Parses text (null counts as empty) directly into the field. On failure ebuf (when given)
// holds the type's message, or the errno text when the type gave none.
int structs_set_field_text(const StructsType* type, const char* path, const char* text, void* data,
                           char* ebuf, std::size_t emax);

// Accumulator of structs_walk_leaves: names allocated under mtype.
struct StructsLeafList {
    const char* mtype;
    char** names;
    std::uint32_t length;
    std::uint32_t capacity;
};

// Dotted names of every leaf field, in list order, into *listp: the array and each name are
// allocated under mtype. Returns the count, or -1 with nothing left allocated.
int structs_list_leaf_names(const StructsType* type, const void* data, char*** listp, const char* mtype);

// Adds the leaves under prefix (the name of data) to acc. 0 / -1; on failure acc keeps the
// names added so far.
int structs_walk_leaves(StructsLeafList* acc, const char* prefix, const StructsType* type, const void* data);

// Deep copy of the field into uninitialised storage at to.
int structs_get_field(const StructsType* type, const char* path, const void* from, void* to);

// Replaces the field with a deep copy of from (an instance of the field's type). The old
// value stays when the copy fails.
int structs_set_field(const StructsType* type, const void* from, const char* path, void* data);

// Default value into the field's uninitialised storage.
int structs_init_field(const StructsType* type, const char* path, void* data);

// Replaces the field with its default value; the old value stays on failure.
int structs_reset_field(const StructsType* type, const char* path, void* data);

// Releases what the field owns. errno is the same after the call as before it.
int structs_free_field(const StructsType* type, const char* path, void* data);

// Binary form of the field in a new block under mtype; on failure *code is {0, null}.
int structs_get_field_binary(const StructsType* type, const char* path, const void* data, const char* mtype,
                             StructsBuffer* code);

// Decodes code into the field, replacing its value (the old value stays on failure).
// Returns the bytes consumed.
ssize_t structs_set_field_binary(const StructsType* type, const char* path, const StructsBuffer* code,
                                 void* data, char* ebuf, std::size_t emax);
