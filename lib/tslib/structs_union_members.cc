#include "tslib/structs_union_members.h"

#include "tslib/structs_internal.h"
#include "tslib/typed_mem.h"

namespace tslib::detail {

const StructsField* find_member(const StructsType* type, std::string_view name) {
    for (const StructsField* f = fields_of(type); f != nullptr && f->name != nullptr; ++f) {
        if (name == f->name) return f;
    }
    return nullptr;
}

void* new_member_block(const StructsType* type, const StructsField* member, const void* from) {
    const char* mtype = type->args[1].s;
    void* block = typed_mem_zeroed(mtype, 1, member->type->size);
    if (block == nullptr) return nullptr;
    const int r = from == nullptr ? member->type->init(member->type, block)
                                  : member->type->copy(member->type, from, block);
    if (r == -1) {
        typed_mem_release(mtype, block);
        return nullptr;
    }
    return block;
}

void drop_member_block(const StructsType* type, const StructsField* member, void* block) {
    const int saved = errno;
    member->type->uninit(member->type, block);
    typed_mem_release(type->args[1].s, block);
    errno = saved;
}

}  // namespace tslib::detail
