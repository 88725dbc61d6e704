// One password field turned into its enciphered text form and read back (target: under 5 us
// each). The read also shows the cost of a value that only the second key variant reads.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tslib/crypt.h"
#include "tslib/structs.h"
#include "tslib/typed_mem.h"

namespace {

constexpr const char* kMtype = "bench";

unsigned g_bits = 128;
unsigned configured_bits() {
    return g_bits;
}

std::string text_of(const char* field) {
    char* t = structs_type_password.ascify(&structs_type_password, kMtype, field);
    std::string out(t != nullptr ? t : "");
    typed_mem_release(kMtype, t);
    return out;
}

void BM_PasswordAscify(benchmark::State& state) {
    if (crypt_IsAvailable() != 1) state.SkipWithError("cipher unavailable");
    char field[kStructsPasswordSize] = "Pump station 7";
    for (auto _ : state) {
        char* t = structs_type_password.ascify(&structs_type_password, kMtype, field);
        benchmark::DoNotOptimize(t);
        typed_mem_release(kMtype, t);
    }
}
BENCHMARK(BM_PasswordAscify);

// range(0): 128 or 40, the key the text was written with; reading tries 128 first.
void BM_PasswordBinify(benchmark::State& state) {
    if (crypt_IsAvailable() != 1) state.SkipWithError("cipher unavailable");
    char field[kStructsPasswordSize] = "Pump station 7";
    g_bits = static_cast<unsigned>(state.range(0));
    crypt_SetKeyBitsSource(configured_bits);
    const std::string text = text_of(field);
    g_bits = 128;
    char back[kStructsPasswordSize];
    for (auto _ : state) {
        const int rc = structs_type_password.binify(&structs_type_password, text.c_str(), back, nullptr, 0);
        benchmark::DoNotOptimize(rc);
    }
    if (std::strcmp(back, field) != 0) state.SkipWithError("read back differs");
    crypt_SetKeyBitsSource(nullptr);
}
BENCHMARK(BM_PasswordBinify)->Arg(128)->Arg(40);

}  // namespace
