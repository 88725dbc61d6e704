#include "tslib/typed_mem.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tslib/gtree.h"
#include "tslib/invariant.h"
#include "tslib/stream.h"
#include "tslib/testing/typed_mem_testing.h"

using tslib::detail::require;

namespace {

constexpr std::size_t kGuardBytes = 8;
constexpr std::uint32_t kGuardWord = 0x9f718e34;

enum class State : int { kFresh, kPassThrough, kAccounting };

// Fresh until the first allocation or release; accounting can only start while fresh.
std::atomic<State> g_state{State::kFresh};

// Allocations left before the injected failure; 0 when none is pending.
std::atomic<std::uint32_t> g_fail_countdown{0};

// True when this call is the injected failure.
[[gnu::noinline]] bool injected_failure() {
    std::uint32_t left = g_fail_countdown.load(std::memory_order_relaxed);
    while (left != 0) {
        if (g_fail_countdown.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
            return left == 1;
        }
    }
    return false;
}

pthread_mutex_t g_mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

struct TypeRecord {
    char name[kTypedMemNameMax + 1];
    std::uint32_t count;  // live blocks
    std::uint64_t total;  // live bytes
};

struct BlockRecord {
    std::uintptr_t base;  // address of the underlying heap block
    std::size_t size;     // bytes the caller asked for
    TypeRecord* type;
};

// Both trees hold their nodes as plain heap blocks: accounting them would recurse.
gtree* g_blocks = nullptr;
gtree* g_types = nullptr;

class Guard {
  public:
    Guard() {
        const int r = pthread_mutex_lock(&g_mutex);
        require(r == 0, "r == 0");
    }
    ~Guard() {
        const int r = pthread_mutex_unlock(&g_mutex);
        require(r == 0, "r == 0");
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

// Marks the module in use; true when the call is accounted.
[[gnu::always_inline]] inline bool accounting(const char* mtype) {
    State state = g_state.load(std::memory_order_acquire);
    if (state == State::kFresh) {
        g_state.compare_exchange_strong(state, State::kPassThrough);
        state = g_state.load(std::memory_order_acquire);
    }
    return mtype != nullptr && state == State::kAccounting;
}

bool accounting_on() {
    return g_state.load() == State::kAccounting;
}

int compare_blocks(const gtree*, const void* a, const void* b) {
    const auto x = static_cast<const BlockRecord*>(a)->base;
    const auto y = static_cast<const BlockRecord*>(b)->base;
    return x < y ? -1 : x > y ? 1 : 0;
}

int compare_types(const gtree*, const void* a, const void* b) {
    return std::strcmp(static_cast<const TypeRecord*>(a)->name, static_cast<const TypeRecord*>(b)->name);
}

const char* print_type(const gtree*, const void* item) {
    return static_cast<const TypeRecord*>(item)->name;
}

bool make_trees() {
    if (g_blocks == nullptr) {
        g_blocks = gtree_make(nullptr, nullptr, compare_blocks, nullptr, nullptr, nullptr);
        if (g_blocks == nullptr) return false;
    }
    if (g_types == nullptr) {
        g_types = gtree_make(nullptr, nullptr, compare_types, nullptr, nullptr, print_type);
        if (g_types == nullptr) return false;
    }
    return true;
}

void cut_name(const char* mtype, char (&out)[kTypedMemNameMax + 1]) {
    std::strncpy(out, mtype, kTypedMemNameMax);
    out[kTypedMemNameMax] = '\0';
}

unsigned char* user_bytes(std::uintptr_t base) {
    return reinterpret_cast<unsigned char*>(base) + kGuardBytes;
}

void write_guards(const BlockRecord& rec) {
    const std::uint32_t pattern[2] = {kGuardWord, kGuardWord};
    unsigned char* user = user_bytes(rec.base);
    std::memcpy(user - kGuardBytes, pattern, kGuardBytes);
    std::memcpy(user + rec.size, pattern, kGuardBytes);
}

bool guard_intact(const unsigned char* at) {
    const std::uint32_t pattern[2] = {kGuardWord, kGuardWord};
    return std::memcmp(at, pattern, kGuardBytes) == 0;
}

[[noreturn]] void misuse() {
    std::fflush(stderr);
    std::abort();
}

// Finds the record of an accounted block and checks it; misuse ends the process.
BlockRecord* check_block(const char* op, const char* mtype, const void* mem) {
    BlockRecord key{reinterpret_cast<std::uintptr_t>(mem) - kGuardBytes, 0, nullptr};
    auto* rec = g_blocks != nullptr ? static_cast<BlockRecord*>(gtree_lookup(g_blocks, &key)) : nullptr;
    if (rec == nullptr) {
        std::fprintf(stderr, "%s() of unallocated block: ptr=%p type=\"%s\"\n", op, mem, mtype);
        misuse();
    }
    if (std::strncmp(mtype, rec->type->name, kTypedMemNameMax) != 0) {
        std::fprintf(stderr, "%s() with wrong type: ptr=%p \"%s\" != \"%s\"\n", op, mem, mtype,
                     rec->type->name);
        misuse();
    }
    require(rec->type->count > 0, "type->count > 0");
    const unsigned char* user = user_bytes(rec->base);
    if (!guard_intact(user - kGuardBytes)) {
        std::fprintf(stderr, "%s(): %s guard violated ptr=%p type=\"%s\"\n", op, "head", mem, mtype);
        misuse();
    }
    if (!guard_intact(user + rec->size)) {
        std::fprintf(stderr, "%s(): %s guard violated ptr=%p type=\"%s\"\n", op, "tail", mem, mtype);
        misuse();
    }
    return rec;
}

// Kept out of line so the pass-through path stays a plain call into the heap.
// The accounted paths stay out of line so that the pass-through path is a plain call into
// the heap.
[[gnu::noinline]] void* accounted_alloc(const char* mtype, std::size_t size) {
    if (size > SIZE_MAX - 2 * kGuardBytes) {
        errno = ENOMEM;
        return nullptr;
    }
    Guard guard;
    if (!make_trees()) return nullptr;
    auto* rec = static_cast<BlockRecord*>(std::malloc(sizeof(BlockRecord)));
    void* base = rec != nullptr ? std::malloc(size + 2 * kGuardBytes) : nullptr;
    if (base == nullptr) {
        std::free(rec);
        errno = ENOMEM;
        return nullptr;
    }
    TypeRecord key{};
    cut_name(mtype, key.name);
    auto* type = static_cast<TypeRecord*>(gtree_lookup(g_types, &key));
    bool created = false;
    if (type == nullptr) {
        type = static_cast<TypeRecord*>(std::malloc(sizeof(TypeRecord)));
        if (type != nullptr) *type = key;
        if (type == nullptr || gtree_store(g_types, type) == -1) {
            std::free(type);
            std::free(base);
            std::free(rec);
            errno = ENOMEM;
            return nullptr;
        }
        created = true;
    }
    *rec = BlockRecord{reinterpret_cast<std::uintptr_t>(base), size, type};
    if (gtree_store(g_blocks, rec) == -1) {
        const int saved = errno;
        if (created) {
            gtree_delete(g_types, type);
            std::free(type);
        }
        std::free(base);
        std::free(rec);
        errno = saved;
        return nullptr;
    }
    ++type->count;
    type->total += size;
    write_guards(*rec);
    return user_bytes(rec->base);
}

[[gnu::noinline]] void* accounted_realloc(const char* mtype, void* mem, std::size_t size) {
    if (size > SIZE_MAX - 2 * kGuardBytes) {
        errno = ENOMEM;
        return nullptr;
    }
    Guard guard;
    BlockRecord* rec = check_block("REALLOC", mtype, mem);
    void* spare = typed_mem_alloc(nullptr, gtree_node_bytes());
    if (spare == nullptr) return nullptr;
    void* base = std::realloc(reinterpret_cast<void*>(rec->base), size + 2 * kGuardBytes);
    if (base == nullptr) {
        typed_mem_release(nullptr, spare);
        errno = ENOMEM;
        return nullptr;
    }
    TypeRecord* type = rec->type;
    --type->count;
    type->total -= rec->size;
    rec->size = size;
    if (reinterpret_cast<std::uintptr_t>(base) != rec->base) {
        gtree_delete(g_blocks, rec);
        rec->base = reinterpret_cast<std::uintptr_t>(base);
        const int r = gtree_store_with_node(g_blocks, rec, spare);
        require(r == 0, "r == 0");
    } else {
        typed_mem_release(nullptr, spare);
    }
    ++type->count;
    type->total += size;
    write_guards(*rec);
    return user_bytes(rec->base);
}

[[gnu::noinline]] void accounted_release(const char* mtype, void* mem) {
    Guard guard;
    BlockRecord* rec = check_block("FREE", mtype, mem);
    TypeRecord* type = rec->type;
    --type->count;
    type->total -= rec->size;
    if (type->count == 0) {
        require(type->total == 0, "type->total == 0");
        gtree_delete(g_types, type);
        std::free(type);
    }
    gtree_delete(g_blocks, rec);
    std::free(reinterpret_cast<void*>(rec->base));
    std::free(rec);
}

}  // namespace

int typed_mem_turn_on() {
    State expected = State::kFresh;
    if (g_state.compare_exchange_strong(expected, State::kAccounting)) return 0;
    if (expected == State::kAccounting) return 0;
    errno = EBUSY;
    return -1;
}

void* typed_mem_resize(const char* mtype, void* mem, std::size_t size) {
    if (g_fail_countdown.load(std::memory_order_relaxed) != 0 && mtype != nullptr && injected_failure())
        [[unlikely]] {
        accounting(mtype);
        errno = ENOMEM;
        return nullptr;
    }
    if (!accounting(mtype)) {
        // The heap's realloc(p, 0) releases p and returns null, which callers would take for a
        // failure and release again; a block always comes back instead.
        const std::size_t bytes = std::max<std::size_t>(size, 1);
        void* p = mem == nullptr ? std::malloc(bytes) : std::realloc(mem, bytes);
        if (p == nullptr) errno = ENOMEM;
        return p;
    }
    return mem == nullptr ? accounted_alloc(mtype, size) : accounted_realloc(mtype, mem, size);
}

void typed_mem_fail_nth(std::uint32_t n) {
    g_fail_countdown.store(n, std::memory_order_relaxed);
}

void* typed_mem_resize_or_release(const char* mtype, void* mem, std::size_t size) {
    void* p = typed_mem_resize(mtype, mem, size);
    if (p == nullptr) typed_mem_release(mtype, mem);
    return p;
}

void typed_mem_release(const char* mtype, void* mem) {
    // The C library's free leaves errno alone; only the accounted path must restore it.
    if (!accounting(mtype)) {
        std::free(mem);
        return;
    }
    if (mem == nullptr) return;
    const int saved = errno;
    accounted_release(mtype, mem);
    errno = saved;
}

void* typed_mem_zeroed(const char* mtype, std::size_t count, std::size_t size) {
    if (size != 0 && count > SIZE_MAX / size) {
        accounting(mtype);
        errno = ENOMEM;
        return nullptr;
    }
    void* p = typed_mem_resize(mtype, nullptr, count * size);
    if (p != nullptr) std::memset(p, 0, count * size);
    return p;
}

char* typed_mem_dup_string(const char* mtype, const char* text) {
    if (text == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const std::size_t len = std::strlen(text);
    auto* copy = static_cast<char*>(typed_mem_resize(mtype, nullptr, len + 1));
    if (copy != nullptr) std::memcpy(copy, text, len + 1);
    return copy;
}

int typed_mem_print_to(const char* mtype, char** out, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int r = typed_mem_vprint_to(mtype, out, fmt, args);
    va_end(args);
    return r;
}

int typed_mem_vprint_to(const char* mtype, char** out, const char* fmt, va_list args) {
    char* text = nullptr;
    const int len = stream_vprint_new_text(&text, fmt, args);
    if (len == -1) {
        accounting(mtype);
        *out = nullptr;
        return -1;
    }
    if (!accounting(mtype)) {
        *out = text;
        return len;
    }
    auto* copy = static_cast<char*>(typed_mem_resize(mtype, nullptr, static_cast<std::size_t>(len) + 1));
    if (copy == nullptr) {
        const int saved = errno;
        std::free(text);
        errno = saved;
        *out = nullptr;
        return -1;
    }
    std::memcpy(copy, text, static_cast<std::size_t>(len) + 1);
    std::free(text);
    *out = copy;
    return len;
}

char* typed_mem_type_of(const void* mem, char typebuf[kTypedMemNameMax + 1]) {
    if (!accounting_on()) {
        errno = ENXIO;
        return nullptr;
    }
    Guard guard;
    BlockRecord key{reinterpret_cast<std::uintptr_t>(mem) - kGuardBytes, 0, nullptr};
    const auto* rec = g_blocks != nullptr ? static_cast<BlockRecord*>(gtree_lookup(g_blocks, &key)) : nullptr;
    if (rec == nullptr) {
        errno = ENOENT;
        return nullptr;
    }
    std::memcpy(typebuf, rec->type->name, kTypedMemNameMax + 1);
    return typebuf;
}

int typed_mem_collect_stats(StructsArray* stats) {
    if (!accounting_on()) {
        errno = ENXIO;
        return -1;
    }
    Guard guard;
    if (!make_trees()) return -1;
    // One row more: the row block itself may add its type name.
    const std::size_t slots = gtree_count(g_types) + 1;
    auto* rows =
        static_cast<TypedMemStatsRow*>(typed_mem_zeroed("typed_mem_stats", slots, sizeof(TypedMemStatsRow)));
    if (rows == nullptr) return -1;
    std::uint32_t n = 0;
    for (auto* t = static_cast<TypeRecord*>(gtree_lowest(g_types)); t != nullptr && n < slots;
         t = static_cast<TypeRecord*>(gtree_after(g_types, t))) {
        std::memcpy(rows[n].type, t->name, sizeof rows[n].type);
        rows[n].allocs = t->count;
        rows[n].bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(t->total, UINT32_MAX));
        ++n;
    }
    stats->length = n;
    stats->elems = rows;
    return 0;
}

void typed_mem_print_stats(std::FILE* out) {
    if (!accounting_on()) {
        std::fprintf(out, "Typed memory is not enabled.\n");
        return;
    }
    Guard guard;
    std::fprintf(out, "   %-28s %10s %10s\n", "Type", "Count", "Total");
    std::fprintf(out, "   %-28s %10s %10s\n", "----", "-----", "-----");
    unsigned long count_sum = 0;
    unsigned long total_sum = 0;
    if (g_types != nullptr) {
        for (auto* t = static_cast<TypeRecord*>(gtree_lowest(g_types)); t != nullptr;
             t = static_cast<TypeRecord*>(gtree_after(g_types, t))) {
            std::fprintf(out, "   %-28s %10u %10lu\n", t->name, t->count,
                         static_cast<unsigned long>(t->total));
            count_sum += t->count;
            total_sum += static_cast<unsigned long>(t->total);
        }
    }
    std::fprintf(out, "   %-28s %10s %10s\n", "", "-----", "-----");
    std::fprintf(out, "   %-28s %10lu %10lu\n", "Totals", count_sum, total_sum);
}
