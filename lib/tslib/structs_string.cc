#include "tslib/structs_string.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "tslib/structs_internal.h"
#include "tslib/typed_mem.h"

using tslib::detail::dup_text;
using tslib::detail::EncodedBlock;
using tslib::detail::fail;

namespace {

const char* mtype_of(const StructsType* type) {
    return type->args[0].s;
}

bool allows_null(const StructsType* type) {
    return type->args[1].i == 1;
}

char*& pointer_in(void* data) {
    return *static_cast<char**>(data);
}

const char* text_in(const void* data) {
    const char* p = *static_cast<const char* const*>(data);
    return p != nullptr ? p : "";
}

std::string_view bounded_text(const StructsType* type, const void* data) {
    const auto* chars = static_cast<const char*>(data);
    return std::string_view(chars, strnlen(chars, type->size));
}

}  // namespace

int structs_string_init(const StructsType* type, void* data) {
    if (allows_null(type)) {
        pointer_in(data) = nullptr;
        return 0;
    }
    char* text = dup_text(mtype_of(type), "");
    if (text == nullptr) return -1;
    pointer_in(data) = text;
    return 0;
}

int structs_string_equal(const StructsType*, const void* a, const void* b) {
    // An absent text reads as empty: zeroed storage must compare, not crash.
    return std::strcmp(text_in(a), text_in(b)) == 0 ? 1 : 0;
}

char* structs_string_ascify(const StructsType*, const char* mtype, const void* data) {
    return dup_text(mtype, text_in(data));
}

int structs_string_binify(const StructsType* type, const char* text, void* data, char*, std::size_t) {
    if (text == nullptr) text = "";
    char* copy = nullptr;
    if (!(allows_null(type) && *text == '\0')) {
        copy = dup_text(mtype_of(type), text);
        if (copy == nullptr) return -1;
    }
    char* old = pointer_in(data);
    pointer_in(data) = copy;
    typed_mem_release(mtype_of(type), old);
    return 0;
}

void structs_string_uninit(const StructsType* type, void* data) {
    typed_mem_release(mtype_of(type), pointer_in(data));
    pointer_in(data) = nullptr;
}

int structs_string_encode(const StructsType* type, const char* mtype, StructsBuffer* code, const void* data) {
    char* text = type->ascify(type, kStructsTemporary, data);
    if (text == nullptr) return -1;
    const std::size_t len = std::strlen(text);
    EncodedBlock block(mtype);
    const bool ok = block.allocate(len + 1);
    if (ok) std::memcpy(block.data(), text, len + 1);
    typed_mem_release(kStructsTemporary, text);
    if (!ok) return -1;
    block.hand_to(code);
    return 0;
}

ssize_t structs_string_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax, void* data,
                              char* ebuf, std::size_t emax) {
    const void* zero = cmax != 0 ? std::memchr(code, 0, cmax) : nullptr;
    if (zero == nullptr) {
        structs_write_error(ebuf, emax, "encoded string is truncated");
        return fail(EINVAL);
    }
    const auto len = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - code);
    std::memset(data, 0, type->size);
    if (type->binify(type, reinterpret_cast<const char*>(code), data, ebuf, emax) == -1) return -1;
    return static_cast<ssize_t>(len + 1);
}

int structs_fixedstring_equal(const StructsType* type, const void* a, const void* b) {
    return strncmp(static_cast<const char*>(a), static_cast<const char*>(b), type->size) == 0 ? 1 : 0;
}

char* structs_fixedstring_ascify(const StructsType* type, const char* mtype, const void* data) {
    return dup_text(mtype, bounded_text(type, data));
}

int structs_fixedstring_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                               std::size_t emax) {
    if (text == nullptr) text = "";
    const std::size_t len = std::strlen(text);
    if (len >= type->size) {
        structs_write_error(ebuf, emax, "string is too long for bounded length buffer");
        return fail(EINVAL);
    }
    // The whole buffer is written, so records compare and store byte for byte.
    auto* out = static_cast<char*>(data);
    std::memcpy(out, text, len);
    std::memset(out + len, 0, type->size - len);
    return 0;
}
