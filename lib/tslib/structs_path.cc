#include "tslib/structs_path.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "tslib/invariant.h"
#include "tslib/structs.h"
#include "tslib/structs_internal.h"
#include "tslib/structs_union_members.h"

using tslib::detail::fields_of;

namespace {

// The "length" pseudo-field of arrays: a 4-byte unsigned view of the count. It cannot be
// set, initialised or decoded: writing it would detach the count from the element block.
constexpr StructsType kLengthType{
    .size = 4,
    .name = "uint",
    .tclass = StructsTypeClass::kPrimitive,
    .init = structs_unsupported_init,
    .copy = structs_byte_copy,
    .equal = structs_byte_equal,
    .ascify = structs_int_ascify,
    .binify = structs_unsupported_binify,
    .encode = structs_reversed_encode,
    .decode = structs_unsupported_decode,
    .uninit = structs_noop_uninit,
    .args = {kStructsIntInt, kStructsIntUnsigned, 0},
};

// The "field_name" pseudo-field of unions: a view of the current member's name, which points
// into the static member list and is never released.
constexpr StructsType kFieldNameType{
    .size = sizeof(const char*),
    .name = "string",
    .tclass = StructsTypeClass::kPrimitive,
    .init = structs_unsupported_init,
    .copy = structs_unsupported_copy,
    .equal = structs_string_equal,
    .ascify = structs_string_ascify,
    .binify = structs_unsupported_binify,
    .encode = structs_string_encode,
    .decode = structs_unsupported_decode,
    .uninit = structs_noop_uninit,
    .args = {nullptr, 0, 0},
};

// The fixed-array count is read through the args word that holds it.
static_assert(std::endian::native == std::endian::little);

const StructsType* none(int code) {
    errno = code;
    return nullptr;
}

// True when name is exactly component; most fields differ at the first character, so this
// stops early instead of measuring every name.
bool name_is(const char* name, std::string_view component) {
    for (const char c : component) {
        if (*name != c) return false;
        ++name;
    }
    return *name == '\0';
}

const StructsType* elem_type(const StructsType* type) {
    return static_cast<const StructsType*>(type->args[0].v);
}

// Resolves an element index of an array of count elements.
const StructsType* index_into(const StructsType* type, std::string_view component, std::uint64_t count,
                              char* first, void** datap) {
    std::uint64_t index = 0;
    if (!tslib::detail::parse_index(component, &index)) return nullptr;
    if (index >= count) return none(EDOM);
    const StructsType* et = elem_type(type);
    *datap = first + index * et->size;
    return et;
}

}  // namespace

namespace tslib::detail {

bool is_read_only(const StructsType* type) {
    return type == &kLengthType || type == &kFieldNameType;
}

bool parse_index(std::string_view component, std::uint64_t* index) {
    if (component.empty() || component[0] < '0' || component[0] > '9') {
        errno = ENOENT;
        return false;
    }
    const auto r = std::from_chars(component.data(), component.data() + component.size(), *index, 10);
    if (r.ec == std::errc::result_out_of_range) {
        // All digits, but past any possible length.
        const char* p = r.ptr;
        if (p != component.data() + component.size()) {
            errno = ENOENT;
            return false;
        }
        *index = UINT64_MAX;
        return true;
    }
    if (r.ptr != component.data() + component.size()) {
        errno = ENOENT;
        return false;
    }
    return true;
}

const StructsType* find_field(const StructsType* type, std::string_view path, void** datap, bool set_union) {
    void* data = *datap;
    for (;;) {
        if (path.empty()) {
            *datap = data;
            return type;
        }
        if (type->tclass == StructsTypeClass::kPrimitive) return none(ENOENT);
        while (type->tclass == StructsTypeClass::kPointer) {
            data = *static_cast<void**>(data);
            type = elem_type(type);
            if (data == nullptr) return none(EINVAL);
        }
        if (type->tclass == StructsTypeClass::kPrimitive) return none(ENOENT);
        const std::size_t dot = path.find('.');
        const std::string_view component = path.substr(0, dot);
        const bool more = dot != std::string_view::npos;
        const std::string_view rest = more ? path.substr(dot + 1) : std::string_view();
        // "a..b", ".a" and "a." name no field.
        if (component.empty() || (more && rest.empty())) return none(ENOENT);

        switch (type->tclass) {
            case StructsTypeClass::kArray: {
                auto* arr = static_cast<StructsArray*>(data);
                if (path == "length") {
                    *datap = &arr->length;
                    return &kLengthType;
                }
                type = index_into(type, component, arr->length, static_cast<char*>(arr->elems), &data);
                if (type == nullptr) return nullptr;
                break;
            }
            case StructsTypeClass::kFixedArray: {
                if (path == "length") {
                    *datap = const_cast<std::intptr_t*>(&type->args[2].i);
                    return &kLengthType;
                }
                type = index_into(type, component, static_cast<std::uint64_t>(type->args[2].i),
                                  static_cast<char*>(data), &data);
                if (type == nullptr) return nullptr;
                break;
            }
            case StructsTypeClass::kStructure: {
                const StructsField* f = fields_of(type);
                while (f != nullptr && f->name != nullptr && !name_is(f->name, component)) ++f;
                if (f == nullptr || f->name == nullptr) return none(ENOENT);
                type = f->type;
                data = static_cast<char*>(data) + f->offset;
                break;
            }
            case StructsTypeClass::kUnion: {
                auto* u = static_cast<StructsUnion*>(data);
                if (path == "field_name") {
                    *datap = &u->field_name;
                    return &kFieldNameType;
                }
                const StructsField* current = find_member(type, u->field_name);
                if (current == nullptr) return none(EINVAL);
                if (component == current->name) {
                    type = current->type;
                    data = u->un;
                    break;
                }
                if (!set_union) return none(ENOENT);
                const StructsField* wanted = find_member(type, component);
                if (wanted == nullptr) return none(ENOENT);
                void* block = new_member_block(type, wanted, nullptr);
                if (block == nullptr) return nullptr;
                void* inner = block;
                const StructsType* found = find_field(wanted->type, rest, &inner, true);
                if (found == nullptr) {
                    drop_member_block(type, wanted, block);
                    return nullptr;
                }
                drop_member_block(type, current, u->un);
                *u = StructsUnion{wanted->name, block};
                *datap = inner;
                return found;
            }
            default:
                require(false, "known type class");
                return nullptr;
        }
        path = rest;
    }
}

}  // namespace tslib::detail

const StructsType* structs_find_field(const StructsType* type, const char* path, void** datap,
                                      int set_union) {
    return tslib::detail::find_field(type, path != nullptr ? path : "", datap, set_union != 0);
}
