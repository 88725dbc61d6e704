#include "tslib/ghash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "tslib/ghash_layout.h"
#include "tslib/typed_mem.h"
#include "tslib_test_util.h"

namespace {

// Accounting on for the whole binary: entries, iterators and buckets must be released under
// the names made from the table's name.
const int kAccounting = typed_mem_turn_on();

constexpr const char* kName = "tbl";

struct Item {
    int key;
    int copy;  // tells apart two items with the same key
};

struct Callbacks {
    int adds = 0;
    int dels = 0;
    bool reenter = false;
    int store_result = 0, store_errno = 0;
    int delete_result = 0, delete_errno = 0;
    void* lookup_result = nullptr;
};

Item g_probe{-1, 0};

std::uint32_t hash_key(const ghash*, const void* item) {
    // Few distinct hashes: long chains get exercised too.
    return static_cast<std::uint32_t>(static_cast<const Item*>(item)->key) * 2654435761u;
}
int equal_keys(const ghash*, const void* a, const void* b) {
    return static_cast<const Item*>(a)->key == static_cast<const Item*>(b)->key ? 1 : 0;
}

void try_reentry(ghash* g, Callbacks* cb, void* item) {
    errno = 0;
    cb->store_result = ghash_store(g, &g_probe);
    cb->store_errno = errno;
    errno = 0;
    cb->delete_result = ghash_delete(g, item);
    cb->delete_errno = errno;
    cb->lookup_result = ghash_lookup(g, item);
}

void on_add(ghash* g, void* item) {
    auto* cb = static_cast<Callbacks*>(ghash_arg(g));
    ++cb->adds;
    if (cb->reenter) try_reentry(g, cb, item);
}
void on_del(ghash* g, void* item) {
    auto* cb = static_cast<Callbacks*>(ghash_arg(g));
    ++cb->dels;
    if (cb->reenter) try_reentry(g, cb, item);
}

void check_invariants(const ghash* g) {
    EXPECT_GE(g->nbuckets, 31u);
    EXPECT_EQ(g->grow_at, std::max<std::size_t>(1, std::size_t{g->nbuckets} * g->load_factor / 100));
    EXPECT_EQ(g->shrink_at, g->nbuckets / 20u);
    std::size_t count = 0;
    for (std::uint32_t b = 0; b < g->nbuckets; ++b) {
        for (const ghash_entry* e = g->buckets[b]; e != nullptr; e = e->next) {
            EXPECT_EQ(g->hash(g, e->item) % g->nbuckets, b) << "entry in the wrong bucket";
            ++count;
        }
    }
    EXPECT_EQ(count, g->size);
    EXPECT_FALSE(g->locked);
}

std::multiset<const void*> all_by_cursor(const ghash* g) {
    std::multiset<const void*> seen;
    ghash_cursor c;
    ghash_cursor_start(g, &c);
    while (void* item = ghash_cursor_next(g, &c)) seen.insert(item);
    EXPECT_EQ(errno, ENOENT);
    return seen;
}

std::multiset<const void*> all_by_iterator(ghash* g) {
    std::multiset<const void*> seen;
    ghash_iter* it = ghash_iterator_open(g);
    EXPECT_NE(it, nullptr);
    while (ghash_iterator_more(it)) {
        void* item = ghash_iterator_step(it);
        EXPECT_NE(item, nullptr);
        if (item == nullptr) break;
        seen.insert(item);
    }
    ghash_iterator_close(&it);
    EXPECT_EQ(it, nullptr);
    return seen;
}

class HashTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(kAccounting, 0); }
    void make(std::uint32_t buckets, std::uint32_t load = 0) {
        table = ghash_make(&callbacks, buckets, load, kName, hash_key, equal_keys, on_add, on_del);
        ASSERT_NE(table, nullptr);
    }
    void fill(std::vector<Item>& items) {
        for (Item& item : items) ASSERT_EQ(ghash_store(table, &item), 0);
    }
    void TearDown() override {
        callbacks.reenter = false;
        if (table != nullptr) {
            const auto live = static_cast<int>(ghash_count(table));
            const int dels = callbacks.dels;
            ghash_drop(&table);
            EXPECT_EQ(callbacks.dels - dels, live) << "drop runs the delete callback per item";
        }
        EXPECT_EQ(table, nullptr);
        for (const auto& [name, live] : tslib_test::live_blocks()) {
            EXPECT_NE(name.rfind(kName, 0), 0u) << name << " leaked " << live.count << " blocks";
        }
    }

    Callbacks callbacks;
    ghash* table = nullptr;
};

TEST_F(HashTest, RandomOperationsMatchAnUnorderedMapModel) {
    make(31);
    constexpr int kKeys = 3000;
    std::vector<std::array<Item, 2>> pool(kKeys);
    for (int k = 0; k < kKeys; ++k) pool[k] = {Item{k, 0}, Item{k, 1}};
    std::unordered_map<int, Item*> model;
    std::mt19937 rng(99);

    // Phases that fill, drain and churn, so the table grows and shrinks repeatedly.
    const int store_percent[] = {80, 20, 50, 85, 10, 50};
    int step = 0;
    for (int phase_store : store_percent) {
        for (int i = 0; i < 5000; ++i, ++step) {
            const int key = static_cast<int>(rng() % kKeys);
            const int op = static_cast<int>(rng() % 100);
            SCOPED_TRACE("step " + std::to_string(step) + " key " + std::to_string(key));
            if (op < phase_store) {
                Item* item = &pool[key][rng() % 2];
                ASSERT_EQ(ghash_store(table, item), model.count(key) != 0 ? 1 : 0);
                model[key] = item;
            } else {
                Item probe{key, 7};
                ASSERT_EQ(ghash_delete(table, &probe), model.erase(key) != 0 ? 1 : 0);
            }
            Item probe{static_cast<int>(rng() % kKeys), 9};
            auto found = model.find(probe.key);
            ASSERT_EQ(ghash_lookup(table, &probe), found != model.end() ? found->second : nullptr);
            ASSERT_EQ(ghash_count(table), model.size());
            ASSERT_EQ(callbacks.adds - callbacks.dels, static_cast<int>(model.size()));
            check_invariants(table);
            if (testing::Test::HasFailure()) return;
        }
        std::multiset<const void*> expected;
        for (const auto& [key, item] : model) expected.insert(item);
        EXPECT_EQ(all_by_iterator(table), expected);
        EXPECT_EQ(all_by_cursor(table), expected);
        void** items = nullptr;
        ASSERT_EQ(ghash_to_array(table, "test_array", &items), static_cast<ssize_t>(model.size()));
        EXPECT_EQ(std::multiset<const void*>(items, items + model.size()), expected);
        typed_mem_release("test_array", items);
    }
}

TEST_F(HashTest, SmallTablesGetThirtyOneBucketsAndGrowPastTheThreshold) {
    make(10, 75);
    EXPECT_EQ(table->nbuckets, 31u);
    EXPECT_EQ(table->grow_at, 23u);
    std::vector<Item> items(24);
    for (int i = 0; i < 24; ++i) items[i] = Item{i, 0};
    for (int i = 0; i < 23; ++i) ASSERT_EQ(ghash_store(table, &items[i]), 0);
    EXPECT_EQ(table->nbuckets, 31u);
    ASSERT_EQ(ghash_store(table, &items[23]), 0);
    EXPECT_EQ(table->nbuckets, 61u);
    check_invariants(table);
}

TEST_F(HashTest, LargeTableShrinksToThirtyOneBuckets) {
    make(1000);
    std::vector<Item> items(60);
    for (int i = 0; i < 60; ++i) items[i] = Item{i, 0};
    fill(items);
    EXPECT_EQ(table->nbuckets, 1000u);
    for (int i = 59; i >= 40; --i) ASSERT_EQ(ghash_delete(table, &items[i]), 1);
    EXPECT_EQ(ghash_count(table), 40u);
    EXPECT_EQ(table->nbuckets, 31u);
    check_invariants(table);
}

TEST_F(HashTest, IteratorSeesAChangeByAnotherCallerAsAFailedStep) {
    make(31);
    std::vector<Item> items(5);
    for (int i = 0; i < 5; ++i) items[i] = Item{i, 0};
    fill(items);
    ghash_iter* it = ghash_iterator_open(table);
    ASSERT_NE(ghash_iterator_step(it), nullptr);
    Item extra{100, 0};
    ASSERT_EQ(ghash_store(table, &extra), 0);
    EXPECT_TRUE(ghash_iterator_more(it));
    errno = 0;
    EXPECT_EQ(ghash_iterator_step(it), nullptr);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(ghash_iterator_delete(it), -1);
    EXPECT_EQ(errno, EINVAL);
    ghash_iterator_close(&it);

    it = ghash_iterator_open(table);
    for (int i = 0; i < 6; ++i) ASSERT_NE(ghash_iterator_step(it), nullptr);
    EXPECT_FALSE(ghash_iterator_more(it));
    errno = 0;
    EXPECT_EQ(ghash_iterator_step(it), nullptr);
    EXPECT_EQ(errno, EINVAL);
    ghash_iterator_close(&it);
}

TEST_F(HashTest, IteratorDeleteKeepsTheIteratorValid) {
    make(31);
    std::vector<Item> items(200);
    for (int i = 0; i < 200; ++i) items[i] = Item{i, 0};
    fill(items);
    std::set<int> seen;
    ghash_iter* it = ghash_iterator_open(table);
    errno = 0;
    EXPECT_EQ(ghash_iterator_delete(it), -1) << "nothing returned yet";
    EXPECT_EQ(errno, EINVAL);
    while (ghash_iterator_more(it)) {
        auto* item = static_cast<Item*>(ghash_iterator_step(it));
        ASSERT_NE(item, nullptr);
        EXPECT_TRUE(seen.insert(item->key).second) << "key " << item->key << " twice";
        if (item->key % 2 == 0) {
            ASSERT_EQ(ghash_iterator_delete(it), 0);
            errno = 0;
            EXPECT_EQ(ghash_iterator_delete(it), -1) << "the same item twice";
            EXPECT_EQ(errno, EINVAL);
        }
    }
    ghash_iterator_close(&it);
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_EQ(ghash_count(table), 100u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(ghash_lookup(table, &items[i]), i % 2 == 0 ? nullptr : &items[i]) << i;
    }
    check_invariants(table);
}

// Deleting through an iterator must not move the entries under it: the shrink waits until
// the last iterator closes.
TEST_F(HashTest, DeletingEverythingThroughAnIteratorVisitsEachItemOnce) {
    make(1000);
    std::vector<Item> items(60);
    for (int i = 0; i < 60; ++i) items[i] = Item{i, 0};
    fill(items);
    std::set<int> seen;
    ghash_iter* it = ghash_iterator_open(table);
    while (ghash_iterator_more(it)) {
        auto* item = static_cast<Item*>(ghash_iterator_step(it));
        ASSERT_NE(item, nullptr);
        EXPECT_TRUE(seen.insert(item->key).second);
        ASSERT_EQ(ghash_iterator_delete(it), 0);
    }
    EXPECT_EQ(table->nbuckets, 1000u);
    ghash_iterator_close(&it);
    EXPECT_EQ(seen.size(), 60u);
    EXPECT_EQ(ghash_count(table), 0u);
    EXPECT_EQ(table->nbuckets, 31u);
    check_invariants(table);
}

TEST_F(HashTest, CursorEndsWithEnoentAndFailsAfterAChange) {
    make(31);
    std::vector<Item> items(3);
    for (int i = 0; i < 3; ++i) items[i] = Item{i, 0};
    fill(items);
    ghash_cursor c;
    ghash_cursor_start(table, &c);
    ASSERT_NE(ghash_cursor_next(table, &c), nullptr);
    ASSERT_EQ(ghash_delete(table, &items[2]), 1);
    errno = 0;
    EXPECT_EQ(ghash_cursor_next(table, &c), nullptr);
    EXPECT_EQ(errno, EINVAL);

    ghash_cursor_start(table, &c);
    EXPECT_NE(ghash_cursor_next(table, &c), nullptr);
    EXPECT_NE(ghash_cursor_next(table, &c), nullptr);
    errno = 0;
    EXPECT_EQ(ghash_cursor_next(table, &c), nullptr);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(HashTest, CallbacksCannotChangeTheirOwnTable) {
    make(31);
    Item a{1, 0}, a2{1, 1};
    callbacks.reenter = true;
    ASSERT_EQ(ghash_store(table, &a), 0);
    EXPECT_EQ(callbacks.store_result, -1);
    EXPECT_EQ(callbacks.store_errno, EBUSY);
    EXPECT_EQ(callbacks.delete_result, -1);
    EXPECT_EQ(callbacks.delete_errno, EBUSY);
    EXPECT_EQ(callbacks.lookup_result, &a);

    callbacks.store_errno = callbacks.delete_errno = 0;
    ASSERT_EQ(ghash_store(table, &a2), 1) << "replace: delete and add callbacks both refused";
    EXPECT_EQ(callbacks.store_errno, EBUSY);
    EXPECT_EQ(callbacks.delete_errno, EBUSY);

    callbacks.store_errno = 0;
    ASSERT_EQ(ghash_delete(table, &a2), 1);
    EXPECT_EQ(callbacks.store_errno, EBUSY);
    callbacks.reenter = false;
    EXPECT_EQ(ghash_count(table), 0u);
    EXPECT_EQ(ghash_lookup(table, &g_probe), nullptr);
}

TEST_F(HashTest, NullItems) {
    make(31);
    errno = 0;
    EXPECT_EQ(ghash_store(table, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(ghash_delete(table, nullptr), 0);
}

TEST_F(HashTest, BlocksCarryNamesMadeFromTheTableName) {
    make(31);
    Item a{1, 0};
    ASSERT_EQ(ghash_store(table, &a), 0);
    ghash_iter* it = ghash_iterator_open(table);
    auto live = tslib_test::live_blocks();
    EXPECT_EQ(live["tbl"].count, 1u);
    EXPECT_EQ(live["tbl.gent"].count, 1u);
    EXPECT_EQ(live["tbl.iter"].count, 1u);
    EXPECT_EQ(live["tbl.buckets"].bytes, 31 * sizeof(void*));
    ghash_iterator_close(&it);

    ghash* g = ghash_make(nullptr, 0, 0, "abcdefghijklmnopqrstu", nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(g, nullptr);
    live = tslib_test::live_blocks();
    EXPECT_EQ(live.count("abcdefghijklmnopqrstu"), 1u);
    EXPECT_EQ(live.count("abcdefghijklmnopqrstu.b"), 1u) << "suffixed names are cut to 23";
    ghash_drop(&g);
}

TEST_F(HashTest, DefaultsHashAndCompareByAddress) {
    ghash* g = ghash_make(nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(g, nullptr);
    Item a{1, 0}, b{1, 0};
    EXPECT_EQ(ghash_store(g, &a), 0);
    EXPECT_EQ(ghash_store(g, &b), 0) << "equal contents, different items";
    EXPECT_EQ(ghash_store(g, &a), 1);
    EXPECT_EQ(ghash_count(g), 2u);
    ghash_drop(&g);
}

TEST(HashDeathTest, DropWithAnOpenIteratorIsAnInvariantFailure) {
    ghash* g = ghash_make(nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    ghash_iter* it = ghash_iterator_open(g);
    EXPECT_DEATH(ghash_drop(&g), "g->iter_count == 0");
    ghash_iterator_close(&it);
    ghash_drop(&g);
}

}  // namespace
