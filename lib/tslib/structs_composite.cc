#include "tslib/structs_composite.h"

#include <cerrno>
#include <cstring>

#include "tslib/invariant.h"
#include "tslib/structs_internal.h"
#include "tslib/typed_mem.h"

namespace tslib::detail {

namespace {

// Encodings of the non-default members, kept until they are joined into one block.
class Pieces {
  public:
    explicit Pieces(std::size_t n) : n_(n) {}
    ~Pieces() {
        for (std::size_t i = 0; i < filled_; ++i) typed_mem_release(kStructsTemporary, list_[i].data);
        typed_mem_release(kStructsTemporary, list_);
    }
    Pieces(const Pieces&) = delete;
    Pieces& operator=(const Pieces&) = delete;

    bool allocate() {
        list_ = static_cast<StructsBuffer*>(
            typed_mem_zeroed(kStructsTemporary, n_ == 0 ? 1 : n_, sizeof(StructsBuffer)));
        return list_ != nullptr;
    }
    StructsBuffer& next() { return list_[filled_]; }
    void keep() { ++filled_; }
    std::size_t filled() const { return filled_; }
    const StructsBuffer& operator[](std::size_t i) const { return list_[i]; }

  private:
    std::size_t n_;
    std::size_t filled_ = 0;
    StructsBuffer* list_ = nullptr;
};

// 1 when the member holds its type's default value, 0 when not, -1 on failure.
int is_default(const Member& m, Scratch& scratch) {
    if (!scratch.allocate(m.type->size)) return -1;
    if (m.type->init(m.type, scratch.get()) == -1) return -1;
    const int eq = m.type->equal(m.type, scratch.get(), m.data);
    const int saved = errno;
    m.type->uninit(m.type, scratch.get());
    errno = saved;
    return eq == 1 ? 1 : eq == 0 ? 0 : -1;
}

}  // namespace

void uninit_members_reverse(const MemberSource& members, std::size_t done) {
    const int saved = errno;
    while (done > 0) {
        --done;
        const Member m = members.at(done);
        m.type->uninit(m.type, m.data);
    }
    errno = saved;
}

int encode_members(const MemberSource& members, const std::uint8_t* head, std::size_t head_len,
                   const char* mtype, StructsBuffer* code) {
    const std::size_t n = members.count();
    const std::size_t bitmap_len = n / 8 + (n % 8 != 0 ? 1 : 0);
    Scratch bitmap;
    if (!bitmap.allocate(bitmap_len)) return -1;
    Pieces pieces(n);
    if (!pieces.allocate()) return -1;
    Scratch scratch;
    std::size_t total = head_len + bitmap_len;
    for (std::size_t i = 0; i < n; ++i) {
        const Member m = members.at(i);
        const int def = is_default(m, scratch);
        if (def == -1) return -1;
        if (def == 1) continue;
        set_bit(bitmap.bytes(), i);
        if (m.type->encode(m.type, kStructsTemporary, &pieces.next(), m.data) == -1) return -1;
        total += pieces.next().length;
        pieces.keep();
    }
    EncodedBlock block(mtype);
    if (!block.allocate(total)) return -1;
    std::uint8_t* out = block.data();
    if (head_len != 0) std::memcpy(out, head, head_len);
    out += head_len;
    if (bitmap_len != 0) std::memcpy(out, bitmap.bytes(), bitmap_len);
    out += bitmap_len;
    for (std::size_t i = 0; i < pieces.filled(); ++i) {
        if (pieces[i].length != 0) std::memcpy(out, pieces[i].data, pieces[i].length);
        out += pieces[i].length;
    }
    block.hand_to(code);
    return 0;
}

ssize_t decode_members(const MemberSource& members, const std::uint8_t* bitmap, const std::uint8_t* code,
                       std::size_t cmax, char* ebuf, std::size_t emax) {
    const std::size_t n = members.count();
    std::size_t pos = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Member m = members.at(i);
        if (bit_is_set(bitmap, i)) {
            const ssize_t used = m.type->decode(m.type, code + pos, cmax - pos, m.data, ebuf, emax);
            if (used == -1) {
                uninit_members_reverse(members, i);
                return -1;
            }
            require(static_cast<std::size_t>(used) <= cmax - pos, "decoded no more than the input");
            pos += static_cast<std::size_t>(used);
        } else if (m.type->init(m.type, m.data) == -1) {
            uninit_members_reverse(members, i);
            return -1;
        }
    }
    return static_cast<ssize_t>(pos);
}

}  // namespace tslib::detail
