#include "tslib/structs_id.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "tslib/ascii_text.h"
#include "tslib/invariant.h"
#include "tslib/structs_internal.h"

using tslib::detail::dup_text;
using tslib::equal_ignoring_case;
using tslib::detail::fail;
using tslib::detail::require;

namespace {

const StructsId* list_of(const StructsType* type) {
    return static_cast<const StructsId*>(type->args[0].v);
}

void require_size(const StructsType* type) {
    require(type->size == 1 || type->size == 2 || type->size == 4, "enumeration size is 1, 2 or 4");
}

// The stored value, as the unsigned pattern of its width.
std::uint32_t read_value(const StructsType* type, const void* data) {
    require_size(type);
    std::uint32_t v = 0;
    if (type->size == 1) {
        v = *static_cast<const std::uint8_t*>(data);
    } else if (type->size == 2) {
        std::uint16_t h;
        std::memcpy(&h, data, sizeof h);
        v = h;
    } else {
        std::memcpy(&v, data, sizeof v);
    }
    return v;
}

// An entry's value cut to the storage width, so that negative values match what was stored.
std::uint32_t pattern_of(const StructsType* type, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    if (type->size == 1) return u & 0xFFu;
    if (type->size == 2) return u & 0xFFFFu;
    return u;
}

void store_value(const StructsType* type, void* data, std::int32_t value) {
    require_size(type);
    if (type->size == 1) {
        *static_cast<std::uint8_t*>(data) = static_cast<std::uint8_t>(value);
    } else if (type->size == 2) {
        const auto h = static_cast<std::uint16_t>(value);
        std::memcpy(data, &h, sizeof h);
    } else {
        std::memcpy(data, &value, sizeof value);
    }
}

}  // namespace

int structs_id_init(const StructsType* type, void* data) {
    const StructsId* list = list_of(type);
    store_value(type, data, list != nullptr && list[0].id != nullptr ? list[0].value : 0);
    return 0;
}

char* structs_id_ascify(const StructsType* type, const char* mtype, const void* data) {
    const std::uint32_t v = read_value(type, data);
    for (const StructsId* e = list_of(type); e != nullptr && e->id != nullptr; ++e) {
        if (pattern_of(type, e->value) == v) return dup_text(mtype, e->id);
    }
    return dup_text(mtype, "INVALID");
}

int structs_id_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax) {
    if (text == nullptr) text = "";
    for (const StructsId* e = list_of(type); e != nullptr && e->id != nullptr; ++e) {
        const bool match = e->imode != 0 ? equal_ignoring_case(text, e->id) : std::strcmp(text, e->id) == 0;
        if (match) {
            store_value(type, data, e->value);
            return 0;
        }
    }
    structs_write_error(ebuf, emax, "invalid value \"%s\"", text);
    return fail(EINVAL);
}
