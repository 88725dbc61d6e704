#include "tslib/ascii_text.h"
#include "tslib/structs_eol_sep.h"

#include <cstring>
#include <string_view>

#include "tslib/structs_internal.h"

using tslib::detail::dup_text;
using tslib::equal_ignoring_case;

namespace {

struct NamedText {
    std::string_view name;
    std::string_view text;
};

// In the order parsing tries them; the first entry is also the empty text's value. The
// texts are literals, so their data() is zero-terminated.
constexpr NamedText kEols[] = {{"CR/LF", "\r\n"}, {"LF", "\n"}, {"CR", "\r"}};
constexpr NamedText kSeps[] = {{"COMMA", ","}, {"TAB", "\t"}, {"SPACE", " "}};

std::string_view stored_text(const StructsType* type, const void* data) {
    const auto* chars = static_cast<const char*>(data);
    return std::string_view(chars, strnlen(chars, type->size));
}

template <std::size_t N>
char* ascify_named(const NamedText (&table)[N], const StructsType* type, const char* mtype, const void* data) {
    const std::string_view stored = stored_text(type, data);
    for (const NamedText& entry : table) {
        if (stored == entry.text) return dup_text(mtype, entry.name);
    }
    return dup_text(mtype, stored);
}

template <std::size_t N>
int binify_named(const NamedText (&table)[N], const StructsType* type, const char* text, void* data, char* ebuf,
                 std::size_t emax) {
    if (text == nullptr || *text == '\0') text = table[0].text.data();
    for (const NamedText& entry : table) {
        if (equal_ignoring_case(text, entry.name)) {
            text = entry.text.data();
            break;
        }
    }
    return structs_fixedstring_binify(type, text, data, ebuf, emax);
}

}  // namespace

char* structs_eol_ascify(const StructsType* type, const char* mtype, const void* data) {
    return ascify_named(kEols, type, mtype, data);
}

int structs_eol_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax) {
    return binify_named(kEols, type, text, data, ebuf, emax);
}

char* structs_sep_ascify(const StructsType* type, const char* mtype, const void* data) {
    return ascify_named(kSeps, type, mtype, data);
}

int structs_sep_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax) {
    return binify_named(kSeps, type, text, data, ebuf, emax);
}
