#pragma once
// Memory blocks allocated under a type name. Without accounting (the normal case) every call
// passes straight to the heap; with accounting on, each block is guarded at both ends and
// checked against its type name on release, and per-name counts can be listed.
//
// A null type name always means an unaccounted heap block.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "tslib/structs_records.h"

// Longest type name that is told apart; longer names are cut to this many characters.
inline constexpr std::size_t kTypedMemNameMax = 23;

// One row of typed_mem_collect_stats.
struct TypedMemStatsRow {
    char type[kTypedMemNameMax + 1];
    std::uint32_t allocs;  // live blocks
    std::uint32_t bytes;   // live bytes (clamped to the largest 32-bit value)
};
static_assert(sizeof(TypedMemStatsRow) == 32);

// Switches accounting on. 0; -1 with EBUSY once any block was allocated or released.
// A second call returns 0.
int typed_mem_turn_on();

// Allocates (block null) or resizes a block. Null with errno on failure; the block is then
// unchanged.
void* typed_mem_resize(const char* mtype, void* mem, std::size_t size);

// As typed_mem_resize, but on failure the old block is released.
void* typed_mem_resize_or_release(const char* mtype, void* mem, std::size_t size);

// Releases a block (null is ignored). errno is the same after the call as before it.
void typed_mem_release(const char* mtype, void* mem);

// Zero-filled block of count x size bytes; null with ENOMEM when the product overflows.
void* typed_mem_zeroed(const char* mtype, std::size_t count, std::size_t size);

// Copy of a zero-terminated text.
char* typed_mem_dup_string(const char* mtype, const char* text);

// Formats into a new text; returns its length, or -1 with *out null.
int typed_mem_print_to(const char* mtype, char** out, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
int typed_mem_vprint_to(const char* mtype, char** out, const char* fmt, va_list args)
    __attribute__((format(printf, 3, 0)));

// The block's type name in typebuf; null with ENXIO when accounting is off, ENOENT for a
// block it does not know.
char* typed_mem_type_of(const void* mem, char typebuf[kTypedMemNameMax + 1]);

// One TypedMemStatsRow per type name, in name order, in a block allocated under
// "typed_mem_stats". 0; -1 with ENXIO when accounting is off.
int typed_mem_collect_stats(StructsArray* stats);

// Prints the per-name table (or a note that accounting is off).
void typed_mem_print_stats(std::FILE* out);

// Short form of typed_mem_resize for a new block.
inline void* typed_mem_alloc(const char* mtype, std::size_t size) {
    return typed_mem_resize(mtype, nullptr, size);
}
