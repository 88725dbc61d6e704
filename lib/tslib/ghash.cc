#include "tslib/ghash.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tslib/ghash_layout.h"
#include "tslib/invariant.h"
#include "tslib/typed_mem.h"

using tslib::detail::require;

namespace {

constexpr std::uint32_t kMinBuckets = 31;
constexpr std::uint32_t kDefaultLoadFactor = 75;

std::uint32_t default_hash(const ghash*, const void* item) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(item));
}
int default_equal(const ghash*, const void* a, const void* b) {
    return a == b ? 1 : 0;
}
void default_add_del(ghash*, void*) {}

class TableLock {
  public:
    explicit TableLock(ghash* g) : g_(g) { g_->locked = true; }
    ~TableLock() { g_->locked = false; }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

  private:
    ghash* g_;
};

const char* name(const ghash* g, const char* buf) {
    return g->named ? buf : nullptr;
}
const char* entry_name(const ghash* g) {
    return name(g, g->entry_mtype);
}
const char* iter_name(const ghash* g) {
    return name(g, g->iter_mtype);
}
const char* bucket_name(const ghash* g) {
    return name(g, g->bucket_mtype);
}

void make_name(char (&out)[kTypedMemNameMax + 1], const char* base, const char* suffix) {
    std::snprintf(out, sizeof out, "%s%s", base, suffix);
}

void set_thresholds(ghash* g) {
    const std::uint64_t grow = static_cast<std::uint64_t>(g->nbuckets) * g->load_factor / 100;
    g->grow_at = static_cast<std::size_t>(std::max<std::uint64_t>(grow, 1));
    g->shrink_at = g->nbuckets / 20;
}

std::uint32_t bucket_of(const ghash* g, const void* item, std::uint32_t nbuckets) {
    return g->hash(g, item) % nbuckets;
}

// Link that holds the entry matching item, or null.
ghash_entry** find_link(const ghash* g, const void* item) {
    ghash_entry** link = &g->buckets[bucket_of(g, item, g->nbuckets)];
    for (; *link != nullptr; link = &(*link)->next) {
        if ((*link)->item == item || g->equal(g, item, (*link)->item) != 0) return link;
    }
    return nullptr;
}

// Moves every entry to a new bucket array; on allocation failure nothing changes.
void rebucket(ghash* g, std::uint32_t new_nbuckets) {
    require(new_nbuckets > 0, "new_nbuckets > 0");
    auto* buckets =
        static_cast<ghash_entry**>(typed_mem_zeroed(bucket_name(g), new_nbuckets, sizeof(ghash_entry*)));
    if (buckets == nullptr) return;
    for (std::uint32_t b = 0; b < g->nbuckets; ++b) {
        while (ghash_entry* e = g->buckets[b]) {
            g->buckets[b] = e->next;
            const std::uint32_t nb = bucket_of(g, e->item, new_nbuckets);
            e->next = buckets[nb];
            buckets[nb] = e;
        }
    }
    typed_mem_release(bucket_name(g), g->buckets);
    g->buckets = buckets;
    g->nbuckets = new_nbuckets;
    set_thresholds(g);
    // Positions held by cursors no longer mean anything.
    ++g->mods;
}

void maybe_shrink(ghash* g) {
    if (g->iter_count > 0) return;  // an open iterator's position must survive
    if (g->size >= g->shrink_at || g->nbuckets <= kMinBuckets) return;
    const std::uint64_t wanted = static_cast<std::uint64_t>(g->size) * g->load_factor / 200;
    const auto target =
        static_cast<std::uint32_t>(std::clamp<std::uint64_t>(wanted, kMinBuckets, UINT32_MAX));
    if (target < g->nbuckets) rebucket(g, target);
}

// Unlinks and releases the entry held by link.
void remove_entry(ghash* g, ghash_entry** link) {
    TableLock lock(g);
    ghash_entry* e = *link;
    *link = e->next;
    --g->size;
    g->del(g, e->item);
    typed_mem_release(entry_name(g), e);
    ++g->mods;
}

}  // namespace

ghash* ghash_make(void* arg, std::uint32_t buckets, std::uint32_t load_factor, const char* mtype,
                  ghash_hash_t hash, ghash_equal_t equal, ghash_add_t add, ghash_del_t del) {
    auto* g = static_cast<ghash*>(typed_mem_zeroed(mtype, 1, sizeof(ghash)));
    if (g == nullptr) return nullptr;
    g->arg = arg;
    g->nbuckets = std::max(buckets, kMinBuckets);
    g->load_factor = load_factor != 0 ? load_factor : kDefaultLoadFactor;
    g->hash = hash != nullptr ? hash : default_hash;
    g->equal = equal != nullptr ? equal : default_equal;
    g->add = add != nullptr ? add : default_add_del;
    g->del = del != nullptr ? del : default_add_del;
    g->named = mtype != nullptr;
    if (g->named) {
        make_name(g->mtype, mtype, "");
        make_name(g->entry_mtype, mtype, ".gent");
        make_name(g->iter_mtype, mtype, ".iter");
        make_name(g->bucket_mtype, mtype, ".buckets");
    }
    set_thresholds(g);
    g->buckets =
        static_cast<ghash_entry**>(typed_mem_zeroed(bucket_name(g), g->nbuckets, sizeof(ghash_entry*)));
    if (g->buckets == nullptr) {
        const int saved = errno;
        typed_mem_release(mtype, g);
        errno = saved;
        return nullptr;
    }
    return g;
}

void ghash_drop(ghash** gp) {
    if (gp == nullptr || *gp == nullptr) return;
    ghash* g = *gp;
    require(!g->locked, "!g->locked");
    require(g->iter_count == 0, "g->iter_count == 0");
    for (std::uint32_t b = 0; b < g->nbuckets; ++b) {
        while (g->buckets[b] != nullptr) remove_entry(g, &g->buckets[b]);
    }
    typed_mem_release(bucket_name(g), g->buckets);
    char mtype[kTypedMemNameMax + 1];
    std::memcpy(mtype, g->mtype, sizeof mtype);
    typed_mem_release(g->named ? mtype : nullptr, g);
    *gp = nullptr;
}

void* ghash_arg(const ghash* g) {
    return g->arg;
}

int ghash_store(ghash* g, void* item) {
    if (item == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (g->locked) {
        errno = EBUSY;
        return -1;
    }
    TableLock lock(g);
    if (ghash_entry** link = find_link(g, item)) {
        void* old = (*link)->item;
        g->del(g, old);
        (*link)->item = item;
        g->add(g, item);
        ++g->mods;
        return 1;
    }
    if (g->size + 1 > g->grow_at && g->nbuckets <= UINT32_MAX / 2) {
        rebucket(g, 2 * g->nbuckets - 1);
    }
    auto* e = static_cast<ghash_entry*>(typed_mem_alloc(entry_name(g), sizeof(ghash_entry)));
    if (e == nullptr) return -1;
    ghash_entry** head = &g->buckets[bucket_of(g, item, g->nbuckets)];
    *e = ghash_entry{item, *head};
    *head = e;
    ++g->size;
    g->add(g, item);
    ++g->mods;
    return 0;
}

int ghash_delete(ghash* g, const void* item) {
    if (item == nullptr) return 0;
    if (g->locked) {
        errno = EBUSY;
        return -1;
    }
    ghash_entry** link = nullptr;
    {
        TableLock lock(g);
        link = find_link(g, item);
    }
    if (link == nullptr) return 0;
    remove_entry(g, link);
    maybe_shrink(g);
    return 1;
}

void* ghash_lookup(const ghash* g, const void* item) {
    if (item == nullptr) return nullptr;
    ghash_entry** link = find_link(g, item);
    return link != nullptr ? (*link)->item : nullptr;
}

std::size_t ghash_count(const ghash* g) {
    return g->size;
}

ssize_t ghash_to_array(const ghash* g, const char* mtype, void*** listp) {
    const std::size_t slots = g->size > 0 ? g->size : 1;
    auto* list = static_cast<void**>(typed_mem_zeroed(mtype, slots, sizeof(void*)));
    if (list == nullptr) return -1;
    std::size_t num = 0;
    for (std::uint32_t b = 0; b < g->nbuckets; ++b) {
        for (const ghash_entry* e = g->buckets[b]; e != nullptr; e = e->next) {
            require(num < g->size, "num < g->size");
            list[num++] = e->item;
        }
    }
    require(num == g->size, "num == g->size");
    *listp = list;
    return static_cast<ssize_t>(num);
}

ghash_iter* ghash_iterator_open(ghash* g) {
    auto* iter = static_cast<ghash_iter*>(typed_mem_zeroed(iter_name(g), 1, sizeof(ghash_iter)));
    if (iter == nullptr) return nullptr;
    *iter = ghash_iter{g, g->mods, 0, 0, nullptr, false};
    ++g->iter_count;
    return iter;
}

int ghash_iterator_more(const ghash_iter* iter) {
    return iter->count < iter->g->size || iter->mods != iter->g->mods ? 1 : 0;
}

void* ghash_iterator_step(ghash_iter* iter) {
    ghash* g = iter->g;
    if (iter->mods != g->mods || iter->count >= g->size) {
        errno = EINVAL;
        return nullptr;
    }
    ghash_entry** link;
    if (iter->link == nullptr) {
        iter->bucket = 0;
        link = &g->buckets[0];
    } else if (iter->removed) {
        link = iter->link;
    } else {
        link = &(*iter->link)->next;
    }
    while (*link == nullptr) {
        ++iter->bucket;
        require(iter->bucket < g->nbuckets, "iter->bucket < g->nbuckets");
        link = &g->buckets[iter->bucket];
    }
    iter->link = link;
    iter->removed = false;
    ++iter->count;
    return (*link)->item;
}

int ghash_iterator_delete(ghash_iter* iter) {
    ghash* g = iter->g;
    if (iter->link == nullptr || iter->removed || iter->mods != g->mods) {
        errno = EINVAL;
        return -1;
    }
    if (g->locked) {
        errno = EBUSY;
        return -1;
    }
    remove_entry(g, iter->link);
    iter->removed = true;
    --iter->count;
    ++iter->mods;
    // Shrinking would move the entries under this iterator; it waits for the last close.
    return 0;
}

void ghash_iterator_close(ghash_iter** iterp) {
    if (iterp == nullptr || *iterp == nullptr) return;
    ghash* g = (*iterp)->g;
    require(g->iter_count > 0, "g->iter_count > 0");
    typed_mem_release(iter_name(g), *iterp);
    *iterp = nullptr;
    if (--g->iter_count == 0 && !g->locked) maybe_shrink(g);
}

void ghash_cursor_start(const ghash* g, ghash_cursor* cursor) {
    cursor->mods = g->mods;
    cursor->bucket = 0;
    cursor->next = nullptr;
    for (std::uint32_t b = 0; b < g->nbuckets; ++b) {
        if (g->buckets[b] != nullptr) {
            cursor->bucket = b;
            cursor->next = g->buckets[b];
            return;
        }
    }
}

void* ghash_cursor_next(const ghash* g, ghash_cursor* cursor) {
    if (cursor->mods != g->mods) {
        errno = EINVAL;
        return nullptr;
    }
    auto* e = static_cast<ghash_entry*>(cursor->next);
    if (e == nullptr) {
        errno = ENOENT;
        return nullptr;
    }
    ghash_entry* next = e->next;
    while (next == nullptr && cursor->bucket + 1 < g->nbuckets) {
        next = g->buckets[++cursor->bucket];
    }
    cursor->next = next;
    return e->item;
}
