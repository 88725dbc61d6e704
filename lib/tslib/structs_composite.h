#pragma once
// Building blocks shared by the composite families: the binary form of a run of members
// (structure fields or array elements) behind a bitmap of the non-default ones.
#include <cstddef>
#include <cstdint>

#include "tslib/structs_type.h"

namespace tslib::detail {

// The i-th member of a composite: its type and its address.
struct Member {
    const StructsType* type;
    void* data;
};

class MemberSource {
  public:
    virtual std::size_t count() const = 0;
    virtual Member at(std::size_t i) const = 0;

  protected:
    ~MemberSource() = default;
};

// Writes head (head_len bytes, already filled by the caller), the bitmap and the encodings of
// every member that differs from a fresh instance of its type, into one block under mtype.
int encode_members(const MemberSource& members, const std::uint8_t* head, std::size_t head_len,
                   const char* mtype, StructsBuffer* code);

// Decodes the members after the bitmap at code[0 .. bitmap bytes); set bits decode, clear
// bits initialise. On failure the members done are uninitialised in reverse order. Returns
// the bytes consumed after the bitmap, or -1.
ssize_t decode_members(const MemberSource& members, const std::uint8_t* bitmap, const std::uint8_t* code,
                       std::size_t cmax, char* ebuf, std::size_t emax);

// Uninitialises members [0, done) in reverse order, keeping errno.
void uninit_members_reverse(const MemberSource& members, std::size_t done);

}  // namespace tslib::detail
