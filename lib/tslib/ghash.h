#pragma once
// Chained hash table of opaque items that grows and shrinks with its contents. Entries,
// iterators and the bucket array are allocated through typed memory under names made from
// the table's name. The table does not lock: callers serialise. Changing the table from
// inside one of its own callbacks fails with EBUSY.
#include <sys/types.h>
#include <cstddef>
#include <cstdint>

struct ghash;
struct ghash_iter;

using ghash_hash_t = std::uint32_t (*)(const ghash* g, const void* item);
// 1 when the two items are equal, else 0.
using ghash_equal_t = int (*)(const ghash* g, const void* item1, const void* item2);
using ghash_add_t = void (*)(ghash* g, void* item);
using ghash_del_t = void (*)(ghash* g, void* item);

// Walks a table without allocating; lives in the caller's storage.
struct ghash_cursor {
    std::uint64_t mods;
    std::uint32_t bucket;
    void* next;
};

// At least 31 buckets; a load factor of 0 means 75 percent. Absent callbacks take the
// defaults: hash and equality by address, add and delete do nothing.
ghash* ghash_make(void* arg, std::uint32_t buckets, std::uint32_t load_factor, const char* mtype,
                  ghash_hash_t hash, ghash_equal_t equal, ghash_add_t add, ghash_del_t del);
// Removes every item (delete callback for each), releases the table and clears *gp.
void ghash_drop(ghash** gp);
void* ghash_arg(const ghash* g);

// 0 for a new item, 1 when an equal item was replaced, -1 with errno (EINVAL for a null
// item, EBUSY from inside a callback, ENOMEM).
int ghash_store(ghash* g, void* item);
// 1 when removed, 0 when absent, -1 with EBUSY from inside a callback.
int ghash_delete(ghash* g, const void* item);
void* ghash_lookup(const ghash* g, const void* item);
std::size_t ghash_count(const ghash* g);
// Array of all items, allocated under mtype; returns the count or -1.
ssize_t ghash_to_array(const ghash* g, const char* mtype, void*** listp);

// Iterators stay valid across their own ghash_iterator_delete; any other change to the
// table makes ghash_iterator_more true and the next step fail with EINVAL.
ghash_iter* ghash_iterator_open(ghash* g);
int ghash_iterator_more(const ghash_iter* iter);
void* ghash_iterator_step(ghash_iter* iter);
// Removes the item last returned. 0; -1 with EINVAL (no such item, table changed) or EBUSY.
int ghash_iterator_delete(ghash_iter* iter);
void ghash_iterator_close(ghash_iter** iterp);

void ghash_cursor_start(const ghash* g, ghash_cursor* cursor);
// Next item; null with EINVAL when the table changed since the start, ENOENT at the end.
void* ghash_cursor_next(const ghash* g, ghash_cursor* cursor);
