#include "tslib/structs_array.h"

#include <atomic>
#include <cerrno>
#include <cstring>

#include "tslib/structs_composite.h"
#include "tslib/structs_internal.h"
#include "tslib/typed_mem.h"

using tslib::detail::decode_members;
using tslib::detail::encode_members;
using tslib::detail::fail;
using tslib::detail::Member;
using tslib::detail::MemberSource;
using tslib::detail::read_be32;
using tslib::detail::uninit_members_reverse;
using tslib::detail::write_be32;

namespace {

std::atomic<std::size_t> g_decode_limit{kStructsArrayDecodeLimit};

struct DecodeBudgetState {
    bool open = false;
    std::uint64_t left = 0;
};
thread_local DecodeBudgetState t_budget;

const StructsType* elem_type(const StructsType* type) {
    return static_cast<const StructsType*>(type->args[0].v);
}

const char* block_mtype(const StructsType* type) {
    return type->args[1].s;
}

std::size_t fixed_length(const StructsType* type) {
    return static_cast<std::size_t>(type->args[2].i);
}

class Elements final : public MemberSource {
  public:
    Elements(const StructsType* elem, void* first, std::size_t n)
        : elem_(elem), first_(static_cast<char*>(first)), n_(n) {}
    std::size_t count() const override { return n_; }
    Member at(std::size_t i) const override { return {elem_, first_ + i * elem_->size}; }

  private:
    const StructsType* elem_;
    char* first_;
    std::size_t n_;
};

Elements elements_of(const StructsType* type, const void* data) {
    if (type->tclass == StructsTypeClass::kArray) {
        const auto* a = static_cast<const StructsArray*>(data);
        return Elements(elem_type(type), a->elems, a->length);
    }
    return Elements(elem_type(type), const_cast<void*>(data), fixed_length(type));
}

int copy_elements(const Elements& from, const Elements& to) {
    for (std::size_t i = 0; i < to.count(); ++i) {
        const Member m = to.at(i);
        if (m.type->copy(m.type, from.at(i).data, m.data) == -1) {
            uninit_members_reverse(to, i);
            return -1;
        }
    }
    return 0;
}

int equal_elements(const Elements& a, const Elements& b) {
    if (a.count() != b.count()) return 0;
    for (std::size_t i = 0; i < a.count(); ++i) {
        const Member m = a.at(i);
        if (m.type->equal(m.type, m.data, b.at(i).data) != 1) return 0;
    }
    return 1;
}

void uninit_elements(const Elements& e) {
    for (std::size_t i = 0; i < e.count(); ++i) {
        const Member m = e.at(i);
        m.type->uninit(m.type, m.data);
    }
}

}  // namespace

namespace tslib::detail {

ArrayDecodeBudget::ArrayDecodeBudget() : outermost_(!t_budget.open) {
    if (outermost_) t_budget = DecodeBudgetState{true, g_decode_limit.load()};
}

ArrayDecodeBudget::~ArrayDecodeBudget() {
    if (outermost_) t_budget = DecodeBudgetState{};
}

bool ArrayDecodeBudget::take(std::uint64_t bytes) {
    if (!t_budget.open) return bytes <= g_decode_limit.load();
    if (bytes > t_budget.left) return false;
    t_budget.left -= bytes;
    return true;
}

}  // namespace tslib::detail

std::size_t structs_array_set_decode_limit(std::size_t max_bytes) {
    return g_decode_limit.exchange(max_bytes);
}

int structs_array_copy(const StructsType* type, const void* from, void* to) {
    if (type->tclass != StructsTypeClass::kArray) return fail(EINVAL);
    const auto* src = static_cast<const StructsArray*>(from);
    auto* dst = static_cast<StructsArray*>(to);
    *dst = StructsArray{0, nullptr};
    if (src->length == 0) return 0;
    const StructsType* et = elem_type(type);
    void* block = typed_mem_zeroed(block_mtype(type), src->length, et->size);
    if (block == nullptr) return -1;
    if (copy_elements(Elements(et, src->elems, src->length), Elements(et, block, src->length)) == -1) {
        typed_mem_release(block_mtype(type), block);
        return -1;
    }
    *dst = StructsArray{src->length, block};
    return 0;
}

int structs_array_equal(const StructsType* type, const void* a, const void* b) {
    if (type->tclass != StructsTypeClass::kArray) return 0;
    return equal_elements(elements_of(type, a), elements_of(type, b));
}

int structs_array_encode(const StructsType* type, const char* mtype, StructsBuffer* code, const void* data) {
    if (type->tclass != StructsTypeClass::kArray) return fail(EINVAL);
    std::uint8_t head[4];
    write_be32(head, static_cast<const StructsArray*>(data)->length);
    return encode_members(elements_of(type, data), head, sizeof head, mtype, code);
}

ssize_t structs_array_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax, void* data,
                             char* ebuf, std::size_t emax) {
    if (type->tclass != StructsTypeClass::kArray) return fail(EINVAL);
    auto* arr = static_cast<StructsArray*>(data);
    *arr = StructsArray{0, nullptr};
    // 64-bit arithmetic throughout: a count near 2^32 must not wrap the bitmap size.
    const std::uint64_t count = cmax >= 4 ? read_be32(code) : 0;
    const std::uint64_t bitmap_len = (count + 7) / 8;
    if (cmax < 4 || bitmap_len > cmax - 4) {
        structs_write_error(ebuf, emax, "encoded array is truncated");
        return fail(EINVAL);
    }
    const StructsType* et = elem_type(type);
    // Called as a type's own decoder it is the whole decoding; inside one it shares its budget.
    const tslib::detail::ArrayDecodeBudget budget;
    if (!tslib::detail::ArrayDecodeBudget::take(count * et->size)) {
        structs_write_error(ebuf, emax, "encoded array is too large");
        return fail(EINVAL);
    }
    void* block = nullptr;
    if (count != 0) {
        block = typed_mem_zeroed(block_mtype(type), count, et->size);
        if (block == nullptr) return -1;
    }
    const std::uint8_t* bitmap = code + 4;
    const ssize_t used = decode_members(Elements(et, block, count), bitmap, bitmap + bitmap_len,
                                        cmax - 4 - bitmap_len, ebuf, emax);
    if (used == -1) {
        typed_mem_release(block_mtype(type), block);
        return -1;
    }
    *arr = StructsArray{static_cast<std::uint32_t>(count), block};
    return static_cast<ssize_t>(4 + bitmap_len) + used;
}

void structs_array_uninit(const StructsType* type, void* data) {
    if (type->tclass != StructsTypeClass::kArray) return;
    auto* arr = static_cast<StructsArray*>(data);
    uninit_elements(elements_of(type, data));
    typed_mem_release(block_mtype(type), arr->elems);
    *arr = StructsArray{0, nullptr};
}

int structs_fixedarray_init(const StructsType* type, void* data) {
    if (type->tclass != StructsTypeClass::kFixedArray) return fail(EINVAL);
    const Elements e = elements_of(type, data);
    for (std::size_t i = 0; i < e.count(); ++i) {
        const Member m = e.at(i);
        if (m.type->init(m.type, m.data) == -1) {
            uninit_members_reverse(e, i);
            return -1;
        }
    }
    return 0;
}

int structs_fixedarray_copy(const StructsType* type, const void* from, void* to) {
    if (type->tclass != StructsTypeClass::kFixedArray) return fail(EINVAL);
    return copy_elements(elements_of(type, from), elements_of(type, to));
}

int structs_fixedarray_equal(const StructsType* type, const void* a, const void* b) {
    if (type->tclass != StructsTypeClass::kFixedArray) return 0;
    return equal_elements(elements_of(type, a), elements_of(type, b));
}

int structs_fixedarray_encode(const StructsType* type, const char* mtype, StructsBuffer* code,
                              const void* data) {
    if (type->tclass != StructsTypeClass::kFixedArray) return fail(EINVAL);
    return encode_members(elements_of(type, data), nullptr, 0, mtype, code);
}

ssize_t structs_fixedarray_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax,
                                  void* data, char* ebuf, std::size_t emax) {
    if (type->tclass != StructsTypeClass::kFixedArray) return fail(EINVAL);
    const Elements e = elements_of(type, data);
    const std::size_t bitmap_len = (e.count() + 7) / 8;
    if (cmax < bitmap_len) {
        structs_write_error(ebuf, emax, "encoded array is truncated");
        return fail(EINVAL);
    }
    const ssize_t used = decode_members(e, code, code + bitmap_len, cmax - bitmap_len, ebuf, emax);
    if (used == -1) return -1;
    return static_cast<ssize_t>(bitmap_len) + used;
}

void structs_fixedarray_uninit(const StructsType* type, void* data) {
    if (type->tclass != StructsTypeClass::kFixedArray) return;
    uninit_elements(elements_of(type, data));
}
