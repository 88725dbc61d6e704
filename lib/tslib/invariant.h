#pragma once
// Internal consistency checks of the library. They stay active in every build type: a broken
// invariant or a misused block must stop the process, not let it run on with corrupt data.

namespace tslib::detail {

[[noreturn]] void invariant_failed(const char* expression, const char* file, unsigned line,
                                   const char* function);

// The builtins give the caller's position (both compilers in use have them; clang 14 lacks
// what std::source_location needs).
inline void require(bool holds, const char* expression, const char* file = __builtin_FILE(),
                    unsigned line = __builtin_LINE(), const char* function = __builtin_FUNCTION()) {
    if (!holds) invariant_failed(expression, file, line, function);
}

}  // namespace tslib::detail
