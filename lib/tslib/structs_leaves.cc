// Leaf traversal: the dotted names of every leaf field.
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

#include "tslib/structs.h"
#include "tslib/structs_internal.h"
#include "tslib/structs_union_members.h"
#include "tslib/typed_mem.h"

using tslib::detail::fail;
using tslib::detail::fields_of;
using tslib::detail::find_member;

namespace {

// A child name: prefix, "." unless the prefix is empty, then the child's own name.
class ChildName {
  public:
    ChildName(const char* mtype, std::string_view prefix, std::string_view child) : mtype_(mtype) {
        const std::size_t sep = prefix.empty() ? 0 : 1;
        name_ = static_cast<char*>(typed_mem_alloc(mtype, prefix.size() + sep + child.size() + 1));
        if (name_ == nullptr) return;
        std::memcpy(name_, prefix.data(), prefix.size());
        if (sep != 0) name_[prefix.size()] = '.';
        std::memcpy(name_ + prefix.size() + sep, child.data(), child.size());
        name_[prefix.size() + sep + child.size()] = '\0';
    }
    ~ChildName() { typed_mem_release(mtype_, name_); }
    ChildName(const ChildName&) = delete;
    ChildName& operator=(const ChildName&) = delete;
    const char* get() const { return name_; }

  private:
    const char* mtype_;
    char* name_ = nullptr;
};

int add_leaf(StructsLeafList* acc, const char* name) {
    if (acc->length == acc->capacity) {
        const std::uint64_t grown = 2 * std::uint64_t{acc->capacity} + 64;
        if (grown > UINT32_MAX) return fail(ENOMEM);
        void* p = typed_mem_resize(acc->mtype, acc->names, grown * sizeof(char*));
        if (p == nullptr) return -1;
        acc->names = static_cast<char**>(p);
        acc->capacity = static_cast<std::uint32_t>(grown);
    }
    char* copy = typed_mem_dup_string(acc->mtype, name);
    if (copy == nullptr) return -1;
    acc->names[acc->length++] = copy;
    return 0;
}

int walk_child(StructsLeafList* acc, const char* prefix, std::string_view child, const StructsType* type,
               const void* data) {
    const ChildName name(acc->mtype, prefix, child);
    if (name.get() == nullptr) return -1;
    return structs_walk_leaves(acc, name.get(), type, data);
}

int walk_elements(StructsLeafList* acc, const char* prefix, const StructsType* elem, const void* first,
                  std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, i);
        const void* at = static_cast<const char*>(first) + i * elem->size;
        if (walk_child(acc, prefix, std::string_view(digits, static_cast<std::size_t>(r.ptr - digits)), elem,
                       at) == -1) {
            return -1;
        }
    }
    return 0;
}

}  // namespace

int structs_walk_leaves(StructsLeafList* acc, const char* prefix, const StructsType* type, const void* data) {
    if (prefix == nullptr) prefix = "";
    while (type->tclass == StructsTypeClass::kPointer) {
        data = *static_cast<const void* const*>(data);
        type = static_cast<const StructsType*>(type->args[0].v);
        if (data == nullptr) return fail(EINVAL);
    }
    switch (type->tclass) {
        case StructsTypeClass::kPrimitive:
            return add_leaf(acc, prefix);
        case StructsTypeClass::kArray: {
            const auto* arr = static_cast<const StructsArray*>(data);
            return walk_elements(acc, prefix, static_cast<const StructsType*>(type->args[0].v), arr->elems,
                                 arr->length);
        }
        case StructsTypeClass::kFixedArray:
            return walk_elements(acc, prefix, static_cast<const StructsType*>(type->args[0].v), data,
                                 static_cast<std::uint64_t>(type->args[2].i));
        case StructsTypeClass::kStructure:
            for (const StructsField* f = fields_of(type); f != nullptr && f->name != nullptr; ++f) {
                if (walk_child(acc, prefix, f->name, f->type, static_cast<const char*>(data) + f->offset) ==
                    -1) {
                    return -1;
                }
            }
            return 0;
        case StructsTypeClass::kUnion: {
            const auto* u = static_cast<const StructsUnion*>(data);
            const StructsField* member = find_member(type, u->field_name);
            if (member == nullptr) return fail(EINVAL);
            return walk_child(acc, prefix, member->name, member->type, u->un);
        }
        default:
            return fail(EDOM);
    }
}

int structs_list_leaf_names(const StructsType* type, const void* data, char*** listp, const char* mtype) {
    StructsLeafList acc{mtype, nullptr, 0, 0};
    if (structs_walk_leaves(&acc, "", type, data) == -1) {
        const int saved = errno;
        for (std::uint32_t i = 0; i < acc.length; ++i) typed_mem_release(mtype, acc.names[i]);
        typed_mem_release(mtype, acc.names);
        errno = saved;
        *listp = nullptr;
        return -1;
    }
    *listp = acc.names;
    return static_cast<int>(acc.length);
}
