#include "tslib/structs_union.h"

#include <cerrno>
#include <cstring>

#include "tslib/structs_internal.h"
#include "tslib/structs_union_members.h"
#include "tslib/typed_mem.h"

using tslib::detail::fail;
using tslib::detail::fields_of;
using tslib::detail::find_member;
using tslib::detail::new_member_block;

namespace {

const char* block_mtype(const StructsType* type) {
    return type->args[1].s;
}

}  // namespace

int structs_union_init(const StructsType* type, void* data) {
    if (type->tclass != StructsTypeClass::kUnion) return fail(EINVAL);
    auto* u = static_cast<StructsUnion*>(data);
    *u = StructsUnion{nullptr, nullptr};
    const StructsField* first = fields_of(type);
    if (first == nullptr || first->name == nullptr) return fail(EINVAL);
    void* block = new_member_block(type, first, nullptr);
    if (block == nullptr) return -1;
    *u = StructsUnion{first->name, block};
    return 0;
}

int structs_union_copy(const StructsType* type, const void* from, void* to) {
    if (type->tclass != StructsTypeClass::kUnion) return fail(EINVAL);
    const auto* src = static_cast<const StructsUnion*>(from);
    auto* dst = static_cast<StructsUnion*>(to);
    *dst = StructsUnion{nullptr, nullptr};
    const StructsField* member = find_member(type, src->field_name);
    if (member == nullptr) return fail(EINVAL);
    void* block = new_member_block(type, member, src->un);
    if (block == nullptr) return -1;
    *dst = StructsUnion{member->name, block};
    return 0;
}

int structs_union_equal(const StructsType* type, const void* a, const void* b) {
    if (type->tclass != StructsTypeClass::kUnion) return 0;
    const auto* x = static_cast<const StructsUnion*>(a);
    const auto* y = static_cast<const StructsUnion*>(b);
    const StructsField* member = find_member(type, x->field_name);
    if (member == nullptr || member != find_member(type, y->field_name)) return 0;
    return member->type->equal(member->type, x->un, y->un) == 1 ? 1 : 0;
}

void structs_union_uninit(const StructsType* type, void* data) {
    if (type->tclass != StructsTypeClass::kUnion) return;
    auto* u = static_cast<StructsUnion*>(data);
    const StructsField* member = find_member(type, u->field_name);
    if (member != nullptr && u->un != nullptr) member->type->uninit(member->type, u->un);
    typed_mem_release(block_mtype(type), u->un);
    *u = StructsUnion{nullptr, nullptr};
}
