#pragma once
// Array types: "array" (a StructsArray: a count and a separately allocated element block)
// and "fixedarray" (a fixed number of elements inside the record), and the operations on a
// variable array found by a dotted path.
#include <cstddef>
#include <cstdint>

#include "tslib/structs_generic.h"
#include "tslib/structs_type.h"

int structs_array_copy(const StructsType* type, const void* from, void* to);
int structs_array_equal(const StructsType* type, const void* a, const void* b);
// u32 count (most significant byte first), a bitmap of (count + 7) / 8 bytes, then the
// encodings of the elements that are not the default.
int structs_array_encode(const StructsType* type, const char* mtype, StructsBuffer* code, const void* data);
// Refuses a count whose bitmap does not fit the input and an element block above what is
// left of the decode limit.
ssize_t structs_array_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax, void* data,
                             char* ebuf, std::size_t emax);
void structs_array_uninit(const StructsType* type, void* data);

int structs_fixedarray_init(const StructsType* type, void* data);
int structs_fixedarray_copy(const StructsType* type, const void* from, void* to);
int structs_fixedarray_equal(const StructsType* type, const void* a, const void* b);
int structs_fixedarray_encode(const StructsType* type, const char* mtype, StructsBuffer* code,
                              const void* data);
ssize_t structs_fixedarray_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax,
                                  void* data, char* ebuf, std::size_t emax);
void structs_fixedarray_uninit(const StructsType* type, void* data);

// Largest total of element blocks the variable arrays of one decoding may allocate between
// them, nested arrays included (64 MiB at start), so a few input bytes cannot ask for
// gigabytes. Returns the previous limit.
inline constexpr std::size_t kStructsArrayDecodeLimit = std::size_t{64} << 20;
std::size_t structs_array_set_decode_limit(std::size_t max_bytes);

// args[0] element type, args[1] typed-memory name of the element block, args[2] the name of
// one element for writers that name elements.
constexpr StructsType structs_array_type(const StructsType* elem, const char* mtype, const char* elem_name) {
    return StructsType{
        .size = sizeof(StructsArray),
        .name = "array",
        .tclass = StructsTypeClass::kArray,
        .init = structs_zero_init,
        .copy = structs_array_copy,
        .equal = structs_array_equal,
        .ascify = structs_unsupported_ascify,
        .binify = structs_unsupported_binify,
        .encode = structs_array_encode,
        .decode = structs_array_decode,
        .uninit = structs_array_uninit,
        .args = {static_cast<const void*>(elem), mtype, elem_name},
    };
}

// args[0] element type, args[1] element name, args[2] length. The element size is given
// when the element type is not visible at compile time.
constexpr StructsType structs_fixedarray_type(const StructsType* elem, std::uint32_t elem_size,
                                              const char* elem_name, std::uint32_t length) {
    if (elem_size != 0 && length > UINT32_MAX / elem_size)
        tslib::detail::bad_description("fixed array too large");
    return StructsType{
        .size = elem_size * length,
        .name = "fixedarray",
        .tclass = StructsTypeClass::kFixedArray,
        .init = structs_fixedarray_init,
        .copy = structs_fixedarray_copy,
        .equal = structs_fixedarray_equal,
        .ascify = structs_unsupported_ascify,
        .binify = structs_unsupported_binify,
        .encode = structs_fixedarray_encode,
        .decode = structs_fixedarray_decode,
        .uninit = structs_fixedarray_uninit,
        .args = {static_cast<const void*>(elem), elem_name, length},
    };
}

constexpr StructsType structs_fixedarray_type(const StructsType& elem, const char* elem_name,
                                              std::uint32_t length) {
    return structs_fixedarray_type(&elem, elem.size, elem_name, length);
}

// Operations on the variable array at path inside data (type describes data). All return 0,
// or -1 with errno: EINVAL when the path is not a variable array, EDOM for a bad index.

// The length; -1 with EINVAL when the path is not a variable array.
int structs_array_length_of(const StructsType* type, const char* path, const void* data);
// Inserts a default element before index (index = length appends).
int structs_array_insert_at(const StructsType* type, const char* path, std::uint32_t index, void* data);
int structs_array_delete_at(const StructsType* type, const char* path, std::uint32_t index, void* data);
// Grows (zero-filled elements, initialised when do_init is set) or shrinks (the dropped
// elements are released, last first).
int structs_array_set_length(const StructsType* type, const char* path, std::uint32_t length, void* data,
                             int do_init);
int structs_array_clear(const StructsType* type, const char* path, void* data);
// Appends the elements the path needs: each array index on the way may be at most the
// array's length, which appends one default element.
int structs_array_prepare_path(const StructsType* type, const char* path, void* data);
