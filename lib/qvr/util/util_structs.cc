#include "qvr/util/util_structs.h"

#include <cerrno>
#include <cstring>

#include "tslib/typed_mem.h"

int util_FixedStringEqual(const StructsType* type, const void* a, const void* b) {
    if (type == nullptr || a == nullptr || b == nullptr) return 0;
    return std::strncmp(static_cast<const char*>(a), static_cast<const char*>(b), type->size) == 0 ? 1 : 0;
}

char* util_FixedStringText(const StructsType* type, const char* mtype, const void* value) {
    if (type == nullptr || value == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const char* text = static_cast<const char*>(value);
    const size_t length = ::strnlen(text, type->size);
    auto* copy = static_cast<char*>(typed_mem_alloc(mtype, length + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = 0;
    return copy;
}

int structs_equal_field(const StructsType* type, const char* path, const void* a, const void* b) {
    if (type == nullptr || a == nullptr || b == nullptr) {
        errno = EINVAL;
        return -1;
    }
    // Finding never switches a union: the instances are only read.
    void* field_a = const_cast<void*>(a);
    void* field_b = const_cast<void*>(b);
    const StructsType* type_a = structs_find_field(type, path, &field_a, 0);
    if (type_a == nullptr) return -1;
    const StructsType* type_b = structs_find_field(type, path, &field_b, 0);
    if (type_b == nullptr) return -1;
    // Union members may differ between the instances: different types are not equal.
    if (type_a != type_b) return 0;
    if (type_a->equal == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return type_a->equal(type_a, field_a, field_b);
}
