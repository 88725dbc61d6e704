#include "tslib/structs_struct.h"

#include <cerrno>
#include <cstring>

#include "tslib/invariant.h"
#include "tslib/structs_composite.h"
#include "tslib/structs_internal.h"

using tslib::detail::decode_members;
using tslib::detail::encode_members;
using tslib::detail::fail;
using tslib::detail::fields_of;
using tslib::detail::Member;
using tslib::detail::MemberSource;
using tslib::detail::require;
using tslib::detail::uninit_members_reverse;

namespace {

class Fields final : public MemberSource {
  public:
    Fields(const StructsType* type, void* data) : list_(fields_of(type)), data_(static_cast<char*>(data)) {
        while (list_ != nullptr && list_[n_].name != nullptr) ++n_;
    }
    Fields(const StructsType* type, const void* data) : Fields(type, const_cast<void*>(data)) {}

    std::size_t count() const override { return n_; }
    Member at(std::size_t i) const override { return {list_[i].type, data_ + list_[i].offset}; }
    const StructsField& field(std::size_t i) const { return list_[i]; }

  private:
    const StructsField* list_;
    char* data_;
    std::size_t n_ = 0;
};

bool is_structure(const StructsType* type) {
    return type->tclass == StructsTypeClass::kStructure;
}

void zero_record(const StructsType* type, void* data) {
    std::memset(data, 0, type->size);
}

}  // namespace

int structs_struct_init(const StructsType* type, void* data) {
    if (!is_structure(type)) return fail(EINVAL);
    const Fields fields(type, data);
    zero_record(type, data);
    for (std::size_t i = 0; i < fields.count(); ++i) {
        const StructsField& f = fields.field(i);
        require(f.size == f.type->size, "field size equals its type's size");
        if (f.type->init(f.type, fields.at(i).data) == -1) {
            uninit_members_reverse(fields, i);
            zero_record(type, data);
            return -1;
        }
    }
    return 0;
}

int structs_struct_copy(const StructsType* type, const void* from, void* to) {
    if (!is_structure(type)) return fail(EINVAL);
    const Fields src(type, from);
    const Fields dst(type, to);
    zero_record(type, to);
    for (std::size_t i = 0; i < dst.count(); ++i) {
        const StructsType* ft = dst.field(i).type;
        if (ft->copy(ft, src.at(i).data, dst.at(i).data) == -1) {
            uninit_members_reverse(dst, i);
            zero_record(type, to);
            return -1;
        }
    }
    return 0;
}

int structs_struct_equal(const StructsType* type, const void* a, const void* b) {
    if (!is_structure(type)) return 0;
    const Fields x(type, a);
    const Fields y(type, b);
    for (std::size_t i = 0; i < x.count(); ++i) {
        const StructsType* ft = x.field(i).type;
        if (ft->equal(ft, x.at(i).data, y.at(i).data) != 1) return 0;
    }
    return 1;
}

int structs_struct_encode(const StructsType* type, const char* mtype, StructsBuffer* code, const void* data) {
    if (!is_structure(type)) return fail(EINVAL);
    return encode_members(Fields(type, data), nullptr, 0, mtype, code);
}

ssize_t structs_struct_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax, void* data,
                              char* ebuf, std::size_t emax) {
    if (!is_structure(type)) return fail(EINVAL);
    const Fields fields(type, data);
    const std::size_t bitmap_len = (fields.count() + 7) / 8;
    if (cmax < bitmap_len) {
        structs_write_error(ebuf, emax, "encoded structure is truncated");
        return fail(EINVAL);
    }
    zero_record(type, data);
    const ssize_t used = decode_members(fields, code, code + bitmap_len, cmax - bitmap_len, ebuf, emax);
    if (used == -1) {
        zero_record(type, data);
        return -1;
    }
    return static_cast<ssize_t>(bitmap_len) + used;
}

void structs_struct_uninit(const StructsType* type, void* data) {
    if (!is_structure(type)) return;
    const Fields fields(type, data);
    for (std::size_t i = 0; i < fields.count(); ++i) {
        const Member m = fields.at(i);
        m.type->uninit(m.type, m.data);
    }
    zero_record(type, data);
}
