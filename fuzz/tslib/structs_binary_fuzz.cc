// Binary decoding of arbitrary bytes into a nested record: it never reads past the input,
// never consumes more than it was given, and what it accepts encodes to a form that decodes
// to the same record and encodes again to the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "structs_fuzz_types.h"
#include "tslib/structs.h"
#include "tslib/typed_mem.h"

namespace {

using structs_fuzz::kTop;
using structs_fuzz::Top;

constexpr const char* kMtype = "fuzz";

void check(bool holds, unsigned line = __builtin_LINE()) {
    if (holds) return;
    std::fprintf(stderr, "check failed at line %u\n", line);
    std::abort();
}

std::vector<std::string> leaf_texts(const Top* top) {
    char** names = nullptr;
    const int n = structs_list_leaf_names(&kTop, top, &names, kMtype);
    check(n >= 0);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        char* t = structs_get_field_text(&kTop, names[i], top, kMtype);
        check(t != nullptr);
        out.emplace_back(names[i]);
        // Negative zero equals the default zero, so the binary form does not keep its sign.
        out.emplace_back(std::strcmp(t, "-0") == 0 ? "0" : t);
        typed_mem_release(kMtype, t);
        typed_mem_release(kMtype, names[i]);
    }
    typed_mem_release(kMtype, names);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Copied so that a read past the input is a read past a heap block.
    auto* input = static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size));
    if (size != 0) std::memcpy(input, data, size);
    StructsBuffer code{static_cast<std::uint32_t>(size), input};

    Top top;
    check(structs_init_field(&kTop, nullptr, &top) == 0);
    char ebuf[64];
    const ssize_t used = structs_set_field_binary(&kTop, "Body", &code, &top, ebuf, sizeof ebuf);
    std::free(input);
    if (used < 0) {
        check(ebuf[0] != '\0');
        structs_free_field(&kTop, nullptr, &top);
        return 0;
    }
    check(static_cast<std::size_t>(used) <= size);

    StructsBuffer first{};
    check(structs_get_field_binary(&kTop, "Body", &top, kMtype, &first) == 0);
    Top again;
    check(structs_init_field(&kTop, nullptr, &again) == 0);
    check(structs_set_field_binary(&kTop, "Body", &first, &again, nullptr, 0) ==
          static_cast<ssize_t>(first.length));
    // Compared leaf by leaf through the text form, as a NaN is never equal to itself.
    check(leaf_texts(&top) == leaf_texts(&again));
    StructsBuffer second{};
    check(structs_get_field_binary(&kTop, "Body", &again, kMtype, &second) == 0);
    check(first.length == second.length && std::memcmp(first.data, second.data, first.length) == 0);

    typed_mem_release(kMtype, first.data);
    typed_mem_release(kMtype, second.data);
    structs_free_field(&kTop, nullptr, &again);
    structs_free_field(&kTop, nullptr, &top);
    return 0;
}
