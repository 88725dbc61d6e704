// Operations on a field found by path.
#include "tslib/structs.h"

#include <cerrno>
#include <cstring>

#include "tslib/invariant.h"
#include "tslib/structs_internal.h"
#include "tslib/structs_path.h"

using tslib::detail::fail;
using tslib::detail::find_field;
using tslib::detail::is_read_only;
using tslib::detail::require;
using tslib::detail::Scratch;

namespace {

const StructsType* resolve(const StructsType* type, const char* path, const void* data, void** at,
                           bool set_union) {
    *at = const_cast<void*>(data);
    return find_field(type, path != nullptr ? path : "", at, set_union);
}

void clear_error(char* ebuf, std::size_t emax) {
    if (ebuf != nullptr && emax != 0) ebuf[0] = '\0';
}

// A failure that left no message gets the errno text.
void fill_error(char* ebuf, std::size_t emax) {
    if (ebuf == nullptr || emax == 0 || ebuf[0] != '\0') return;
    const int saved = errno;
    char buf[128];
    structs_write_error(ebuf, emax, "%s", strerror_r(saved, buf, sizeof buf));
    errno = saved;
}

}  // namespace

char* structs_get_field_text(const StructsType* type, const char* path, const void* data, const char* mtype) {
    void* at = nullptr;
    const StructsType* ft = resolve(type, path, data, &at, false);
    if (ft == nullptr) return nullptr;
    return ft->ascify(ft, mtype, at);
}

int structs_set_field_text(const StructsType* type, const char* path, const char* text, void* data,
                           char* ebuf, std::size_t emax) {
    clear_error(ebuf, emax);
    void* at = nullptr;
    const StructsType* ft = resolve(type, path, data, &at, true);
    if (ft == nullptr || ft->binify(ft, text != nullptr ? text : "", at, ebuf, emax) == -1) {
        fill_error(ebuf, emax);
        return -1;
    }
    return 0;
}

int structs_get_field(const StructsType* type, const char* path, const void* from, void* to) {
    void* at = nullptr;
    const StructsType* ft = resolve(type, path, from, &at, false);
    if (ft == nullptr) return -1;
    return ft->copy(ft, at, to);
}

int structs_set_field(const StructsType* type, const void* from, const char* path, void* data) {
    void* at = nullptr;
    const StructsType* ft = resolve(type, path, data, &at, false);
    if (ft == nullptr) return -1;
    if (is_read_only(ft)) return fail(ENOSYS);
    Scratch scratch;
    if (!scratch.allocate(ft->size) || ft->copy(ft, from, scratch.get()) == -1) return -1;
    ft->uninit(ft, at);
    std::memcpy(at, scratch.get(), ft->size);
    return 0;
}

int structs_init_field(const StructsType* type, const char* path, void* data) {
    void* at = nullptr;
    const StructsType* ft = resolve(type, path, data, &at, false);
    if (ft == nullptr) return -1;
    return ft->init(ft, at);
}

int structs_reset_field(const StructsType* type, const char* path, void* data) {
    void* at = nullptr;
    const StructsType* ft = resolve(type, path, data, &at, false);
    if (ft == nullptr) return -1;
    Scratch scratch;
    if (!scratch.allocate(ft->size) || ft->init(ft, scratch.get()) == -1) return -1;
    ft->uninit(ft, at);
    std::memcpy(at, scratch.get(), ft->size);
    return 0;
}

int structs_free_field(const StructsType* type, const char* path, void* data) {
    const int saved = errno;
    void* at = nullptr;
    const StructsType* ft = resolve(type, path, data, &at, false);
    if (ft != nullptr) ft->uninit(ft, at);
    errno = saved;
    return ft != nullptr ? 0 : -1;
}

int structs_get_field_binary(const StructsType* type, const char* path, const void* data, const char* mtype,
                             StructsBuffer* code) {
    *code = StructsBuffer{0, nullptr};
    void* at = nullptr;
    const StructsType* ft = resolve(type, path, data, &at, false);
    if (ft == nullptr || ft->encode(ft, mtype, code, at) == -1) {
        *code = StructsBuffer{0, nullptr};
        return -1;
    }
    return 0;
}

ssize_t structs_set_field_binary(const StructsType* type, const char* path, const StructsBuffer* code,
                                 void* data, char* ebuf, std::size_t emax) {
    clear_error(ebuf, emax);
    const tslib::detail::ArrayDecodeBudget budget;
    void* at = nullptr;
    const StructsType* ft = resolve(type, path, data, &at, false);
    Scratch scratch;
    if (ft == nullptr || !scratch.allocate(ft->size)) {
        fill_error(ebuf, emax);
        return -1;
    }
    static const std::uint8_t kNoBytes[1] = {0};
    const std::uint8_t* bytes = code->data != nullptr ? code->data : kNoBytes;
    const std::size_t length = code->data != nullptr ? code->length : 0;
    const ssize_t used = ft->decode(ft, bytes, length, scratch.get(), ebuf, emax);
    if (used == -1) {
        fill_error(ebuf, emax);
        return -1;
    }
    require(static_cast<std::size_t>(used) <= length, "decoded no more than the input");
    ft->uninit(ft, at);
    std::memcpy(at, scratch.get(), ft->size);
    return used;
}
