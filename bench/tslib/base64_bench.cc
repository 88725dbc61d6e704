// Base64 throughput through filter_run, the way the data type's text form uses it.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "tslib/base64.h"
#include "tslib/typed_mem.h"

namespace {

std::string random_bytes(std::size_t n) {
    std::mt19937 rng(42);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

std::string run(Filter* f, const std::string& in) {
    char* out = nullptr;
    const ssize_t n = filter_run(f, in.data(), in.size(), 1, &out, "bench");
    f->destroy(&f);
    std::string text(out, static_cast<std::size_t>(n));
    typed_mem_release("bench", out);
    return text;
}

void BM_Encode(benchmark::State& state) {
    const std::string data = random_bytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        Filter* enc = base64_encoder_make(nullptr);
        char* out = nullptr;
        const ssize_t n = filter_run(enc, data.data(), data.size(), 1, &out, "bench");
        benchmark::DoNotOptimize(n);
        typed_mem_release("bench", out);
        enc->destroy(&enc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Decode(benchmark::State& state) {
    const std::string coded =
        run(base64_encoder_make(nullptr), random_bytes(static_cast<std::size_t>(state.range(0))));
    const int strict = static_cast<int>(state.range(1));
    for (auto _ : state) {
        Filter* dec = base64_decoder_make(nullptr, strict);
        char* out = nullptr;
        const ssize_t n = filter_run(dec, coded.data(), coded.size(), 1, &out, "bench");
        benchmark::DoNotOptimize(n);
        typed_mem_release("bench", out);
        dec->destroy(&dec);
    }
    // Throughput counts the encoded text, the decoder's input.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(coded.size()));
}

BENCHMARK(BM_Encode)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_Decode)->ArgsProduct({{1 << 10, 64 << 10, 1 << 20}, {0, 1}});

}  // namespace
