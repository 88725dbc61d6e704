// Binary decoding of arbitrary bytes into a nested record: it never reads past the input,
// never consumes more than it was given, and what it accepts encodes to a form that decodes
// to an equal record and encodes again to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "structs_fuzz_types.h"
#include "tslib/structs.h"
#include "tslib/typed_mem.h"

namespace {

using structs_fuzz::kTop;
using structs_fuzz::Top;

constexpr const char* kMtype = "fuzz";

void check(bool holds) {
    if (!holds) std::abort();
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
    check(kTop.equal(&kTop, &top, &again) == 1);
    StructsBuffer second{};
    check(structs_get_field_binary(&kTop, "Body", &again, kMtype, &second) == 0);
    check(first.length == second.length && std::memcmp(first.data, second.data, first.length) == 0);

    typed_mem_release(kMtype, first.data);
    typed_mem_release(kMtype, second.data);
    structs_free_field(&kTop, nullptr, &again);
    structs_free_field(&kTop, nullptr, &top);
    return 0;
}
