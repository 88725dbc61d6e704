#pragma once
// Helpers shared by the type families; not part of the public interface.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "tslib/structs_generic.h"
#include "tslib/structs_type.h"
#include "tslib/typed_mem.h"

namespace tslib::detail {

inline int fail(int code) {
    errno = code;
    return -1;
}

// White space as the C locale knows it, whatever the process locale is.
constexpr bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr std::string_view trim_spaces(std::string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

inline std::uint32_t read_be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline void write_be32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

inline bool bit_is_set(const std::uint8_t* bitmap, std::size_t j) {
    return (bitmap[j / 8] & (1u << (j % 8))) != 0;
}

inline void set_bit(std::uint8_t* bitmap, std::size_t j) {
    bitmap[j / 8] = static_cast<std::uint8_t>(bitmap[j / 8] | (1u << (j % 8)));
}

// What the variable arrays of one decoding may allocate between them (the array decode
// limit). The outermost decoding on a thread opens it; decodings inside it share it.
class ArrayDecodeBudget {
  public:
    ArrayDecodeBudget();
    ~ArrayDecodeBudget();
    ArrayDecodeBudget(const ArrayDecodeBudget&) = delete;
    ArrayDecodeBudget& operator=(const ArrayDecodeBudget&) = delete;

    // Takes `bytes` from the open budget; false (nothing taken) when fewer are left.
    static bool take(std::uint64_t bytes);

  private:
    bool outermost_;
};

// A block under "TEMPORARY", released when it goes out of scope.
class Scratch {
  public:
    Scratch() = default;
    ~Scratch() { typed_mem_release(kStructsTemporary, p_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    // Zero-filled block of size bytes; false with errno.
    bool allocate(std::size_t size) {
        typed_mem_release(kStructsTemporary, p_);
        p_ = typed_mem_zeroed(kStructsTemporary, 1, size);
        return p_ != nullptr;
    }
    void* get() const { return p_; }
    std::uint8_t* bytes() const { return static_cast<std::uint8_t*>(p_); }

  private:
    void* p_ = nullptr;
};

// An encoding under construction: owns its block until handed to the caller.
class EncodedBlock {
  public:
    explicit EncodedBlock(const char* mtype) : mtype_(mtype) {}
    ~EncodedBlock() { typed_mem_release(mtype_, p_); }
    EncodedBlock(const EncodedBlock&) = delete;
    EncodedBlock& operator=(const EncodedBlock&) = delete;

    bool allocate(std::size_t size) {
        if (size > UINT32_MAX) {
            errno = EOVERFLOW;
            return false;
        }
        p_ = static_cast<std::uint8_t*>(typed_mem_zeroed(mtype_, 1, size));
        size_ = size;
        return p_ != nullptr;
    }
    std::uint8_t* data() const { return p_; }
    void hand_to(StructsBuffer* code) {
        code->length = static_cast<std::uint32_t>(size_);
        code->data = p_;
        p_ = nullptr;
    }

  private:
    const char* mtype_;
    std::uint8_t* p_ = nullptr;
    std::size_t size_ = 0;
};

// Returns a zero-terminated copy of text[0 .. len) under mtype, or null with errno.
char* dup_text(const char* mtype, std::string_view text);

// The fields of a structure type, in list order.
inline const StructsField* fields_of(const StructsType* type) {
    return static_cast<const StructsField*>(type->args[0].v);
}

}  // namespace tslib::detail
