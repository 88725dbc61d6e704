// Arbitrary paths and texts set into a nested record. Input: lines of "path=text". Whatever
// is accepted reads back as a text that is accepted again and prints the same; every leaf
// keeps a text form; nothing leaks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "structs_fuzz_types.h"
#include "tslib/structs.h"
#include "tslib/typed_mem.h"

namespace {

using structs_fuzz::kTop;
using structs_fuzz::Top;

constexpr const char* kMtype = "fuzz";
constexpr std::size_t kMaxLines = 16;
constexpr std::size_t kMaxPath = 64;

void check(bool holds, unsigned line = __builtin_LINE()) {
    if (holds) return;
    std::fprintf(stderr, "check failed at line %u\n", line);
    std::abort();
}

std::string get_text(const char* path, const Top* top) {
    char* t = structs_get_field_text(&kTop, path, top, kMtype);
    check(t != nullptr);
    std::string out(t);
    typed_mem_release(kMtype, t);
    return out;
}

void apply(Top* top, const std::string& path, const std::string& text) {
    if (path.size() > kMaxPath) return;
    // Grows arrays by at most one element per step, as a loader does before setting.
    structs_array_prepare_path(&kTop, path.c_str(), top);
    char ebuf[64];
    if (structs_set_field_text(&kTop, path.c_str(), text.c_str(), top, ebuf, sizeof ebuf) != 0) {
        check(ebuf[0] != '\0');
        return;
    }
    const std::string first = get_text(path.c_str(), top);
    if (structs_set_field_text(&kTop, path.c_str(), first.c_str(), top, ebuf, sizeof ebuf) != 0) {
        // Sixteen digits round the largest floats and doubles up past the overflow bound.
        check(std::strcmp(ebuf, "floating point value overflow") == 0);
        return;
    }
    check(get_text(path.c_str(), top) == first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Top top;
    check(structs_init_field(&kTop, nullptr, &top) == 0);
    std::size_t pos = 0;
    for (std::size_t line = 0; line < kMaxLines && pos < input.size(); ++line) {
        std::size_t end = input.find('\n', pos);
        if (end == std::string_view::npos) end = input.size();
        const std::string_view l = input.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t eq = l.find('=');
        const std::string path(l.substr(0, eq));
        const std::string text(eq == std::string_view::npos ? std::string_view() : l.substr(eq + 1));
        if (path.find('\0') != std::string::npos || text.find('\0') != std::string::npos) continue;
        apply(&top, path, text);
    }

    char** names = nullptr;
    const int n = structs_list_leaf_names(&kTop, &top, &names, kMtype);
    check(n >= 0);
    for (int i = 0; i < n; ++i) {
        get_text(names[i], &top);
        typed_mem_release(kMtype, names[i]);
    }
    typed_mem_release(kMtype, names);
    structs_free_field(&kTop, nullptr, &top);
    return 0;
}
