#include "tslib/structs_bool.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "tslib/ascii_text.h"
#include "tslib/structs_internal.h"

using tslib::detail::dup_text;
using tslib::equal_ignoring_case;
using tslib::detail::fail;
using tslib::detail::trim_spaces;

namespace {

struct WordPair {
    const char* false_word;
    const char* true_word;
};

constexpr WordPair kPairs[] = {
    {"False", "True"}, {"No", "Yes"}, {"Off", "On"}, {"Disabled", "Enabled"}, {"0", "1"},
};

constexpr std::size_t kKeptChars = 63;

bool is_true(const StructsType* type, const void* data) {
    if (type->args[0].i == 1) {
        std::uint32_t v;
        std::memcpy(&v, data, sizeof v);
        return v != 0;
    }
    return *static_cast<const std::uint8_t*>(data) != 0;
}

}  // namespace

char* structs_bool_ascify(const StructsType* type, const char* mtype, const void* data) {
    const auto pair = type->args[1].i;
    if (pair < 0 || pair >= static_cast<std::intptr_t>(std::size(kPairs))) {
        errno = EINVAL;
        return nullptr;
    }
    const WordPair& words = kPairs[pair];
    return dup_text(mtype, is_true(type, data) ? words.true_word : words.false_word);
}

int structs_bool_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax) {
    const std::string_view word = trim_spaces(text != nullptr ? text : "").substr(0, kKeptChars);
    for (const WordPair& pair : kPairs) {
        for (const bool value : {false, true}) {
            if (!equal_ignoring_case(word, value ? pair.true_word : pair.false_word)) continue;
            if (type->args[0].i == 1) {
                const std::uint32_t v = value ? 1 : 0;
                std::memcpy(data, &v, sizeof v);
            } else {
                *static_cast<std::uint8_t*>(data) = value ? 1 : 0;
            }
            return 0;
        }
    }
    structs_write_error(ebuf, emax, "invalid Boolean value");
    return fail(EINVAL);
}
