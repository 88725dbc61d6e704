// Operations on a variable array found by path.
#include <cerrno>
#include <cstring>
#include <string_view>

#include "tslib/structs.h"
#include "tslib/structs_internal.h"
#include "tslib/structs_path.h"
#include "tslib/typed_mem.h"

using tslib::detail::fail;
using tslib::detail::find_field;
using tslib::detail::parse_index;

namespace {

struct FoundArray {
    const StructsType* type = nullptr;
    StructsArray* arr = nullptr;
};

FoundArray find_array(const StructsType* type, const char* path, const void* data, bool set_union) {
    void* at = const_cast<void*>(data);
    const StructsType* ft = find_field(type, path != nullptr ? path : "", &at, set_union);
    if (ft == nullptr) return {};
    if (ft->tclass != StructsTypeClass::kArray) {
        errno = EINVAL;
        return {};
    }
    return {ft, static_cast<StructsArray*>(at)};
}

const StructsType* elem_type(const FoundArray& a) {
    return static_cast<const StructsType*>(a.type->args[0].v);
}

const char* block_mtype(const FoundArray& a) {
    return a.type->args[1].s;
}

char* element(const FoundArray& a, std::uint64_t i) {
    return static_cast<char*>(a.arr->elems) + i * elem_type(a)->size;
}

// Uninitialises elements [from, to) last first.
void uninit_range_reverse(const FoundArray& a, std::uint64_t from, std::uint64_t to) {
    const StructsType* et = elem_type(a);
    const int saved = errno;
    while (to > from) {
        --to;
        et->uninit(et, element(a, to));
    }
    errno = saved;
}

// After a failed growth: back to the old element count, so the array is as it was.
void shrink_back(const FoundArray& a, std::uint64_t length) {
    StructsArray* arr = a.arr;
    const int saved = errno;
    if (length == 0) {
        typed_mem_release(block_mtype(a), arr->elems);
        arr->elems = nullptr;
    } else if (void* block = typed_mem_resize(block_mtype(a), arr->elems, length * elem_type(a)->size)) {
        arr->elems = block;
    }
    errno = saved;
}

int insert_element(const FoundArray& a, std::uint32_t index) {
    StructsArray* arr = a.arr;
    if (index > arr->length) return fail(EDOM);
    if (arr->length == UINT32_MAX) return fail(EOVERFLOW);
    const StructsType* et = elem_type(a);
    const std::uint64_t len = arr->length;
    // Room for the new element and a spare: the default value is built in the spare first,
    // so a failing initialisation leaves the array as it was.
    void* block = typed_mem_resize(block_mtype(a), arr->elems, (len + 2) * et->size);
    if (block == nullptr) return -1;
    arr->elems = block;
    char* spare = element(a, len + 1);
    std::memset(spare, 0, et->size);
    if (et->init(et, spare) == -1) {
        shrink_back(a, len);
        return -1;
    }
    std::memmove(element(a, index + 1), element(a, index), (len - index) * et->size);
    std::memcpy(element(a, index), spare, et->size);
    ++arr->length;
    return 0;
}

}  // namespace

int structs_array_length_of(const StructsType* type, const char* path, const void* data) {
    const FoundArray a = find_array(type, path, data, false);
    if (a.arr == nullptr) return -1;
    return static_cast<int>(a.arr->length);
}

int structs_array_insert_at(const StructsType* type, const char* path, std::uint32_t index, void* data) {
    const FoundArray a = find_array(type, path, data, false);
    if (a.arr == nullptr) return -1;
    return insert_element(a, index);
}

int structs_array_delete_at(const StructsType* type, const char* path, std::uint32_t index, void* data) {
    const FoundArray a = find_array(type, path, data, false);
    if (a.arr == nullptr) return -1;
    StructsArray* arr = a.arr;
    if (index >= arr->length) return fail(EDOM);
    const StructsType* et = elem_type(a);
    et->uninit(et, element(a, index));
    --arr->length;
    std::memmove(element(a, index), element(a, index + 1), (std::uint64_t{arr->length} - index) * et->size);
    return 0;
}

int structs_array_set_length(const StructsType* type, const char* path, std::uint32_t length, void* data,
                             int do_init) {
    const FoundArray a = find_array(type, path, data, false);
    if (a.arr == nullptr) return -1;
    StructsArray* arr = a.arr;
    const std::uint32_t old = arr->length;
    if (length == old) return 0;
    const StructsType* et = elem_type(a);
    if (length < old) {
        // The dropped elements may own blocks of their own.
        uninit_range_reverse(a, length, old);
        arr->length = length;
        if (length == 0) {
            typed_mem_release(block_mtype(a), arr->elems);
            arr->elems = nullptr;
            return 0;
        }
        void* block = typed_mem_resize(block_mtype(a), arr->elems, std::uint64_t{length} * et->size);
        if (block != nullptr) arr->elems = block;
        return 0;
    }
    void* block = typed_mem_resize(block_mtype(a), arr->elems, std::uint64_t{length} * et->size);
    if (block == nullptr) return -1;
    arr->elems = block;
    std::memset(element(a, old), 0, (std::uint64_t{length} - old) * et->size);
    if (do_init != 0) {
        for (std::uint64_t i = old; i < length; ++i) {
            if (et->init(et, element(a, i)) == -1) {
                uninit_range_reverse(a, old, i);
                shrink_back(a, old);
                return -1;
            }
        }
    }
    arr->length = length;
    return 0;
}

int structs_array_clear(const StructsType* type, const char* path, void* data) {
    const FoundArray a = find_array(type, path, data, true);
    if (a.arr == nullptr) return -1;
    const StructsType* et = elem_type(a);
    for (std::uint64_t i = 0; i < a.arr->length; ++i) et->uninit(et, element(a, i));
    typed_mem_release(block_mtype(a), a.arr->elems);
    *a.arr = StructsArray{0, nullptr};
    return 0;
}

int structs_array_prepare_path(const StructsType* type, const char* path, void* data) {
    const std::string_view full = path != nullptr ? path : "";
    if (full.empty()) return 0;
    std::size_t prefix_end = 0;  // the prefix is full[0, prefix_end)
    std::size_t start = 0;       // where the component after the prefix begins
    for (;;) {
        const std::size_t dot = full.find('.', start);
        const std::string_view component =
            full.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        void* at = data;
        const StructsType* ft = find_field(type, full.substr(0, prefix_end), &at, true);
        if (ft == nullptr) return -1;
        if (ft->tclass == StructsTypeClass::kArray) {
            std::uint64_t index = 0;
            if (!parse_index(component, &index)) return -1;
            const FoundArray a{ft, static_cast<StructsArray*>(at)};
            if (index > a.arr->length) return fail(ENOENT);
            if (index == a.arr->length && insert_element(a, a.arr->length) == -1) return -1;
        }
        if (dot == std::string_view::npos) return 0;
        prefix_end = dot;
        start = dot + 1;
    }
}
