#pragma once
// Internal consistency checks of the library. They stay active in every build type: a broken
// invariant or a misused block must stop the process, not let it run on with corrupt data.
#include <source_location>

namespace tslib::detail {

[[noreturn]] void invariant_failed(const char* expression, const std::source_location& where);

inline void require(bool holds, const char* expression,
                    const std::source_location& where = std::source_location::current()) {
    if (!holds) invariant_failed(expression, where);
}

}  // namespace tslib::detail
