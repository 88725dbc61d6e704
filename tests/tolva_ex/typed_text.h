#pragma once
// Leaf texts of a record through its typed description, with the results released.
#include <cerrno>
#include <string>
#include <vector>

#include "tslib/structs.h"
#include "tslib/typed_mem.h"

namespace tolva_test {

inline constexpr const char* kMtype = "tolva_ex_test";

inline std::string leaf_text(const StructsType* type, const std::string& path, const void* record) {
    char* text = structs_get_field_text(type, path.c_str(), record, kMtype);
    if (text == nullptr) return "<null errno " + std::to_string(errno) + ">";
    std::string out(text);
    typed_mem_release(kMtype, text);
    return out;
}

// The error text, empty on success.
inline std::string set_leaf(const StructsType* type, const std::string& path, const std::string& text,
                            void* record) {
    char ebuf[256] = "";
    if (structs_set_field_text(type, path.c_str(), text.c_str(), record, ebuf, sizeof ebuf) == 0) return "";
    return ebuf[0] != '\0' ? ebuf : "<failed without a message>";
}

inline std::vector<std::string> leaf_names(const StructsType* type, const void* record) {
    char** list = nullptr;
    const int n = structs_list_leaf_names(type, record, &list, kMtype);
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) {
        names.emplace_back(list[i]);
        typed_mem_release(kMtype, list[i]);
    }
    if (n >= 0) typed_mem_release(kMtype, list);
    return names;
}

}  // namespace tolva_test
