// Store and lookup in the red-black tree and the hash table, 10^3 to 10^6 items.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "tslib/ghash.h"
#include "tslib/gtree.h"

namespace {

int compare_keys(const gtree*, const void* a, const void* b) {
    const auto x = *static_cast<const std::uint32_t*>(a);
    const auto y = *static_cast<const std::uint32_t*>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}
std::uint32_t hash_key(const ghash*, const void* item) {
    return *static_cast<const std::uint32_t*>(item) * 2654435761u;
}
int equal_keys(const ghash*, const void* a, const void* b) {
    return *static_cast<const std::uint32_t*>(a) == *static_cast<const std::uint32_t*>(b);
}

std::vector<std::uint32_t> shuffled_keys(std::size_t n) {
    std::vector<std::uint32_t> keys(n);
    std::iota(keys.begin(), keys.end(), 0u);
    std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
    return keys;
}

void BM_TreeStore(benchmark::State& state) {
    auto keys = shuffled_keys(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        gtree* g = gtree_make(nullptr, "bench", compare_keys, nullptr, nullptr, nullptr);
        for (auto& k : keys) gtree_store(g, &k);
        gtree_drop(&g);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_TreeLookup(benchmark::State& state) {
    auto keys = shuffled_keys(static_cast<std::size_t>(state.range(0)));
    gtree* g = gtree_make(nullptr, "bench", compare_keys, nullptr, nullptr, nullptr);
    for (auto& k : keys) gtree_store(g, &k);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(gtree_lookup(g, &keys[i]));
        if (++i == keys.size()) i = 0;
    }
    gtree_drop(&g);
}

void BM_HashStore(benchmark::State& state) {
    auto keys = shuffled_keys(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        ghash* g = ghash_make(nullptr, 0, 0, "bench", hash_key, equal_keys, nullptr, nullptr);
        for (auto& k : keys) ghash_store(g, &k);
        ghash_drop(&g);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_HashLookup(benchmark::State& state) {
    auto keys = shuffled_keys(static_cast<std::size_t>(state.range(0)));
    ghash* g = ghash_make(nullptr, 0, 0, "bench", hash_key, equal_keys, nullptr, nullptr);
    for (auto& k : keys) ghash_store(g, &k);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ghash_lookup(g, &keys[i]));
        if (++i == keys.size()) i = 0;
    }
    ghash_drop(&g);
}

BENCHMARK(BM_TreeStore)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeLookup)->RangeMultiplier(10)->Range(1000, 1000000);
BENCHMARK(BM_HashStore)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HashLookup)->RangeMultiplier(10)->Range(1000, 1000000);

}  // namespace
