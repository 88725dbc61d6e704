#pragma once
// Records of ghash. Only the table itself and its invariant checks in the tests read them.
#include <cstddef>
#include <cstdint>

#include "tslib/ghash.h"
#include "tslib/typed_mem.h"

struct ghash_entry {
    void* item;
    ghash_entry* next;
};

struct ghash {
    void* arg;
    std::uint32_t nbuckets;
    std::uint32_t load_factor;
    ghash_hash_t hash;
    ghash_equal_t equal;
    ghash_add_t add;
    ghash_del_t del;
    std::uint64_t mods;
    std::size_t size;
    std::size_t grow_at;
    std::size_t shrink_at;
    ghash_entry** buckets;
    std::uint32_t iter_count;
    bool locked;
    bool named;
    char mtype[kTypedMemNameMax + 1];
    char entry_mtype[kTypedMemNameMax + 1];
    char iter_mtype[kTypedMemNameMax + 1];
    char bucket_mtype[kTypedMemNameMax + 1];
};

struct ghash_iter {
    ghash* g;
    std::uint64_t mods;
    std::uint32_t bucket;
    std::size_t count;   // items returned and still stored
    ghash_entry** link;  // link that holds the entry last returned; null before the first
    bool removed;        // that entry was removed through this iterator
};
