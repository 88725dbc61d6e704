// Typed memory with accounting off (its normal mode) against the heap it passes to.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "tslib/typed_mem.h"

namespace {

void BM_HeapAllocRelease(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        void* p = std::malloc(size);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}

void BM_TypedMemAllocRelease(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        void* p = typed_mem_alloc("bench", size);
        benchmark::DoNotOptimize(p);
        typed_mem_release("bench", p);
    }
}

void BM_HeapRealloc(benchmark::State& state) {
    for (auto _ : state) {
        void* p = std::malloc(16);
        for (std::size_t s = 32; s <= 4096; s *= 2) p = std::realloc(p, s);
        benchmark::DoNotOptimize(p);
        std::free(p);
    }
}

void BM_TypedMemResize(benchmark::State& state) {
    for (auto _ : state) {
        void* p = typed_mem_alloc("bench", 16);
        for (std::size_t s = 32; s <= 4096; s *= 2) p = typed_mem_resize("bench", p, s);
        benchmark::DoNotOptimize(p);
        typed_mem_release("bench", p);
    }
}

BENCHMARK(BM_HeapAllocRelease)->Arg(16)->Arg(256)->Arg(4096);
BENCHMARK(BM_TypedMemAllocRelease)->Arg(16)->Arg(256)->Arg(4096);
BENCHMARK(BM_HeapRealloc);
BENCHMARK(BM_TypedMemResize);

}  // namespace
