#include "tslib/structs_generic.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tslib/structs_internal.h"
#include "tslib/typed_mem.h"

using tslib::detail::EncodedBlock;
using tslib::detail::fail;

namespace tslib::detail {

void bad_description(const char* why) {
    std::fprintf(stderr, "invalid type description: %s\n", why);
    std::fflush(stderr);
    std::abort();
}

char* dup_text(const char* mtype, std::string_view text) {
    auto* out = static_cast<char*>(typed_mem_alloc(mtype, text.size() + 1));
    if (out == nullptr) return nullptr;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return out;
}

}  // namespace tslib::detail

void structs_write_error(char* ebuf, std::size_t emax, const char* fmt, ...) {
    if (ebuf == nullptr || emax == 0) return;
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(ebuf, emax, fmt, args);
    va_end(args);
}

int structs_zero_init(const StructsType* type, void* data) {
    std::memset(data, 0, type->size);
    return 0;
}

int structs_byte_copy(const StructsType* type, const void* from, void* to) {
    std::memcpy(to, from, type->size);
    return 0;
}

int structs_byte_equal(const StructsType* type, const void* a, const void* b) {
    return std::memcmp(a, b, type->size) == 0 ? 1 : 0;
}

void structs_noop_uninit(const StructsType*, void*) {}

int structs_text_copy(const StructsType* type, const void* from, void* to) {
    char* text = type->ascify(type, kStructsTemporary, from);
    if (text == nullptr) return -1;
    // Binify replaces an initialised value; zeroed storage is the empty value of every type
    // that owns memory.
    std::memset(to, 0, type->size);
    const int r = type->binify(type, text, to, nullptr, 0);
    typed_mem_release(kStructsTemporary, text);
    return r;
}

int structs_unsupported_init(const StructsType*, void*) {
    return fail(ENOSYS);
}

int structs_unsupported_copy(const StructsType*, const void*, void*) {
    return fail(ENOSYS);
}

int structs_unsupported_equal(const StructsType*, const void*, const void*) {
    return fail(ENOSYS);
}

char* structs_unsupported_ascify(const StructsType*, const char*, const void*) {
    errno = ENOSYS;
    return nullptr;
}

int structs_unsupported_binify(const StructsType*, const char*, void*, char* ebuf, std::size_t emax) {
    structs_write_error(ebuf, emax, "parsing from ASCII is not supported by this structs type");
    return fail(ENOSYS);
}

int structs_unsupported_encode(const StructsType*, const char*, StructsBuffer*, const void*) {
    return fail(ENOSYS);
}

ssize_t structs_unsupported_decode(const StructsType*, const std::uint8_t*, std::size_t, void*, char* ebuf,
                                   std::size_t emax) {
    structs_write_error(ebuf, emax, "binary decoding is not supported by this structs type");
    return fail(ENOSYS);
}

int structs_reversed_encode(const StructsType* type, const char* mtype, StructsBuffer* code,
                            const void* data) {
    EncodedBlock block(mtype);
    if (!block.allocate(type->size)) return -1;
    const auto* in = static_cast<const std::uint8_t*>(data);
    for (std::uint32_t i = 0; i < type->size; ++i) block.data()[i] = in[type->size - 1 - i];
    block.hand_to(code);
    return 0;
}

ssize_t structs_reversed_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax,
                                void* data, char* ebuf, std::size_t emax) {
    if (type->size > 16) return fail(ERANGE);
    if (cmax < type->size) {
        structs_write_error(ebuf, emax, "encoded data is truncated");
        return fail(EINVAL);
    }
    auto* out = static_cast<std::uint8_t*>(data);
    for (std::uint32_t i = 0; i < type->size; ++i) out[i] = code[type->size - 1 - i];
    return type->size;
}

int structs_plain_encode(const StructsType* type, const char* mtype, StructsBuffer* code, const void* data) {
    EncodedBlock block(mtype);
    if (!block.allocate(type->size)) return -1;
    if (type->size != 0) std::memcpy(block.data(), data, type->size);
    block.hand_to(code);
    return 0;
}

ssize_t structs_plain_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax, void* data,
                             char* ebuf, std::size_t emax) {
    if (cmax < type->size) {
        structs_write_error(ebuf, emax, "encoded data is truncated");
        return fail(EINVAL);
    }
    if (type->size != 0) std::memcpy(data, code, type->size);
    return type->size;
}
