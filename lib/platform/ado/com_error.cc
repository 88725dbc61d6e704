#include "platform/ado/com_error.h"

#include <algorithm>
#include <cctype>

#include "platform/secret_mask.h"

namespace ado {
namespace {

bool contains_no_case(std::string_view text, std::string_view needle) {
    const auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return it != text.end();
}

}  // namespace

HRESULT hresult_from_sqlstate(std::string_view state, std::string_view text) {
    if (state == "42S02" || contains_no_case(text, "no such table"))
        return kNoSuchTable;
    if (state == "42000" || state == "37000") return kSyntax;
    if (state == "22001") return kTooLong;
    if (state.starts_with("23")) return kConstraint;
    if (state.starts_with("22")) return kConversion;
    if (state.starts_with("08")) return kFail;
    // SQLite reports every refused statement as the general error HY000.
    if (contains_no_case(text, "syntax error") || contains_no_case(text, "incomplete input") ||
        contains_no_case(text, "unrecognized token"))
        return kSyntax;
    if (contains_no_case(text, "constraint failed")) return kConstraint;
    return kFail;
}

void raise(HRESULT code, std::string source, std::string description) {
    // Callers keep, trace and report the description: a quoted connection shows no password.
    throw ComError(code, std::move(source), platform::mask_secrets(description));
}

}  // namespace ado
