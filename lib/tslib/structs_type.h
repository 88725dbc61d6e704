#pragma once
// The description records: one StructsType per type (static, read-only data), the field
// lists of structure types and the instance layouts the families share.
//
// A description is constant data: declare it constexpr (or constinit) so that it is
// complete before any code runs, for example
//
//   struct Comm { std::uint32_t Port; std::uint32_t Baud; };
//   constexpr StructsField kCommFields[] = {
//       structs_field("Port", structs_type_uint32, offsetof(Comm, Port)),
//       structs_field("Baud", structs_type_uint32, offsetof(Comm, Baud)),
//       structs_field_end(),
//   };
//   constexpr StructsType kCommType = structs_struct_type(sizeof(Comm), kCommFields);
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "tslib/structs_records.h"

struct StructsType;

// A block of bytes: binary encodings and the values of the data type.
struct StructsBuffer {
    std::uint32_t length;
    std::uint8_t* data;
};

// Instance of a union: the current member's name, then its separately allocated data.
struct StructsUnion {
    const char* field_name;
    void* un;
};

enum class StructsTypeClass : std::uint32_t {
    kPrimitive = 0,
    kPointer = 1,
    kArray = 2,
    kFixedArray = 3,
    kStructure = 4,
    kUnion = 5,
};

// The eight operations of a type. "data" is the instance; for a leaf inside a record it is
// the field's own address within the whole record, so a type may reach neighbouring bytes.
//
// init: default value into uninitialised storage. 0 / -1.
using StructsInitFn = int (*)(const StructsType* type, void* data);
// copy: deep copy into uninitialised storage. 0 / -1.
using StructsCopyFn = int (*)(const StructsType* type, const void* from, void* to);
// equal: 1 when equal, else 0 (or -1 with errno when the type cannot compare).
using StructsEqualFn = int (*)(const StructsType* type, const void* a, const void* b);
// ascify: text form in a new block allocated under mtype; null with errno.
using StructsAscifyFn = char* (*)(const StructsType* type, const char* mtype, const void* data);
// binify: parses text into an initialised instance (releasing what the old value owned once
// the new one is in place). 0; -1 with errno and, when ebuf is given, a message in it.
using StructsBinifyFn = int (*)(const StructsType* type, const char* text, void* data, char* ebuf,
                                std::size_t emax);
// encode: binary form in a new block allocated under mtype. 0 / -1.
using StructsEncodeFn = int (*)(const StructsType* type, const char* mtype, StructsBuffer* code,
                                const void* data);
// decode: reads the binary form from code[0 .. cmax) into uninitialised storage; bytes
// consumed, or -1 with errno and a message.
using StructsDecodeFn = ssize_t (*)(const StructsType* type, const std::uint8_t* code, std::size_t cmax,
                                    void* data, char* ebuf, std::size_t emax);
// uninit: releases what the instance owns.
using StructsUninitFn = void (*)(const StructsType* type, void* data);

// One argument word: an integer or a pointer, by the family's convention.
union StructsArg {
    std::intptr_t i;
    const void* v;
    const char* s;

    constexpr StructsArg() : i(0) {}
    template <typename Int>
    requires(std::is_integral_v<Int> || std::is_enum_v<Int>) constexpr StructsArg(Int n)
        : i(static_cast<std::intptr_t>(n)) {}
    constexpr StructsArg(std::nullptr_t) : v(nullptr) {}
    constexpr StructsArg(const void* p) : v(p) {}
    constexpr StructsArg(const char* p) : s(p) {}
};

struct StructsType {
    std::uint32_t size;  // bytes of one instance
    const char* name;    // family name ("uint", "fixedstring", "structure", ...)
    StructsTypeClass tclass;
    StructsInitFn init;
    StructsCopyFn copy;
    StructsEqualFn equal;
    StructsAscifyFn ascify;
    StructsBinifyFn binify;
    StructsEncodeFn encode;
    StructsDecodeFn decode;
    StructsUninitFn uninit;
    StructsArg args[3];
};

// One field of a structure type. The list ends with an entry whose name is null.
struct StructsField {
    const char* name;
    const StructsType* type;
    std::uint16_t size;    // always the field type's size
    std::uint16_t offset;  // byte offset inside the structure
};

namespace tslib::detail {
// Not constexpr on purpose: reaching it while a description is evaluated at compile time
// makes the description ill-formed; at run time it ends the process.
[[noreturn]] void bad_description(const char* why);

constexpr std::uint16_t narrow_u16(std::size_t value, const char* why) {
    if (value > 0xFFFF) bad_description(why);
    return static_cast<std::uint16_t>(value);
}
}  // namespace tslib::detail

// A field whose size is its type's size.
constexpr StructsField structs_field(const char* name, const StructsType& type, std::size_t offset) {
    return StructsField{name, &type, tslib::detail::narrow_u16(type.size, "field size above 65535"),
                        tslib::detail::narrow_u16(offset, "field offset above 65535")};
}

// A field whose type is not visible at compile time (defined in another source file): the
// size is given; structure init checks it against the type.
constexpr StructsField structs_field(const char* name, const StructsType* type, std::size_t size,
                                     std::size_t offset) {
    return StructsField{name, type, tslib::detail::narrow_u16(size, "field size above 65535"),
                        tslib::detail::narrow_u16(offset, "field offset above 65535")};
}

constexpr StructsField structs_field_end() {
    return StructsField{nullptr, nullptr, 0, 0};
}

// Writes a message for the caller's error buffer (truncated to emax, always terminated);
// nothing when ebuf is null or emax is 0.
void structs_write_error(char* ebuf, std::size_t emax, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
