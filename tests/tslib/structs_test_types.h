#pragma once
// Record descriptions and helpers shared by the typed-description tests.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "tslib/structs.h"
#include "tslib/typed_mem.h"

namespace structs_test {

inline constexpr const char* kMtype = "structs_test";

struct Comm {
    std::uint32_t Port;
    std::uint16_t Baud;
};

inline constexpr StructsField kCommFields[] = {
    structs_field("Port", structs_type_uint32, offsetof(Comm, Port)),
    structs_field("Baud", structs_type_uint16, offsetof(Comm, Baud)),
    structs_field_end(),
};
inline constexpr StructsType kCommType = structs_struct_type(sizeof(Comm), kCommFields);

struct Item {
    char* Name;
    std::int16_t Value;
    StructsBuffer Blob;
};

inline constexpr StructsField kItemFields[] = {
    structs_field("Name", structs_type_string, offsetof(Item, Name)),
    structs_field("Value", structs_type_int16, offsetof(Item, Value)),
    structs_field("Blob", structs_type_hexdata, offsetof(Item, Blob)),
    structs_field_end(),
};
inline constexpr StructsType kItemType = structs_struct_type(sizeof(Item), kItemFields);
inline constexpr StructsType kItemsType = structs_array_type(&kItemType, "test_items", "item");
inline constexpr StructsType kWordsType = structs_array_type(&structs_type_string, "test_words", "word");
inline constexpr StructsType kCodesType = structs_fixedarray_type(structs_type_uint16, "code", 2);
inline constexpr StructsType kTagType = structs_fixedstring_type(8);

inline constexpr StructsField kChoiceMembers[] = {
    structs_field("Number", structs_type_int32, 0),
    structs_field("Text", structs_type_string, 0),
    structs_field("Pair", kCommType, 0),
    structs_field_end(),
};
inline constexpr StructsType kChoiceType = structs_union_type(kChoiceMembers, "test_union");

// Scan is a prefix of ScanRate and comes first in the list.
struct Rec {
    std::uint8_t Scan;
    std::uint32_t ScanRate;
    Comm Link;
    std::uint16_t Codes[2];
    char Tag[8];
    StructsArray Items;
    StructsArray Words;
    StructsUnion Choice;
};

inline constexpr StructsField kRecFields[] = {
    structs_field("Scan", structs_type_boolean_char, offsetof(Rec, Scan)),
    structs_field("ScanRate", structs_type_uint32, offsetof(Rec, ScanRate)),
    structs_field("Comm", kCommType, offsetof(Rec, Link)),
    structs_field("Codes", kCodesType, offsetof(Rec, Codes)),
    structs_field("Tag", kTagType, offsetof(Rec, Tag)),
    structs_field("Items", kItemsType, offsetof(Rec, Items)),
    structs_field("Words", kWordsType, offsetof(Rec, Words)),
    structs_field("Choice", kChoiceType, offsetof(Rec, Choice)),
    structs_field_end(),
};
inline constexpr StructsType kRecType = structs_struct_type(sizeof(Rec), kRecFields);

// The field's text, or "errno N" when there is none.
inline std::string text_of(const StructsType* type, const char* path, const void* data) {
    errno = 0;
    char* t = structs_get_field_text(type, path, data, kMtype);
    if (t == nullptr) return "errno " + std::to_string(errno);
    std::string out(t);
    typed_mem_release(kMtype, t);
    return out;
}

struct SetResult {
    int rc;
    int err;  // errno after a failure, else 0
    std::string message;
    bool operator==(const SetResult&) const = default;
};

inline void PrintTo(const SetResult& r, std::ostream* os) {
    *os << "{" << r.rc << ", errno " << r.err << ", \"" << r.message << "\"}";
}

inline SetResult set_text(const StructsType* type, const char* path, const char* text, void* data) {
    char ebuf[128];
    std::memset(ebuf, 'x', sizeof ebuf);
    errno = 0;
    const int rc = structs_set_field_text(type, path, text, data, ebuf, sizeof ebuf);
    return SetResult{rc, rc == 0 ? 0 : errno, ebuf};
}

inline SetResult ok() {
    return SetResult{0, 0, ""};
}

inline SetResult failed(int err, std::string message) {
    return SetResult{-1, err, std::move(message)};
}

inline std::vector<std::string> leaf_names(const StructsType* type, const void* data) {
    char** names = nullptr;
    const int n = structs_list_leaf_names(type, data, &names, kMtype);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        out.emplace_back(names[i]);
        typed_mem_release(kMtype, names[i]);
    }
    typed_mem_release(kMtype, names);
    return out;
}

inline std::vector<std::uint8_t> encoded(const StructsType* type, const char* path, const void* data) {
    StructsBuffer code{};
    if (structs_get_field_binary(type, path, data, kMtype, &code) != 0) return {};
    std::vector<std::uint8_t> out(code.data, code.data + code.length);
    typed_mem_release(kMtype, code.data);
    return out;
}

// A record that owns its blocks, released on scope exit.
template <typename T>
class Owned {
  public:
    explicit Owned(const StructsType* type) : type_(type) {
        init_rc_ = structs_init_field(type, nullptr, &value_);
    }
    ~Owned() {
        if (init_rc_ == 0) structs_free_field(type_, nullptr, &value_);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    T* get() { return &value_; }
    T* operator->() { return &value_; }
    int init_rc() const { return init_rc_; }

  private:
    const StructsType* type_;
    T value_{};
    int init_rc_;
};

}  // namespace structs_test
